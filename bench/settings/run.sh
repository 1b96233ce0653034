#!/usr/bin/env bash
# Settings load: a file of 10,000 and one of 100,000 values under one key, each loaded through the
# registry stand-in (hyperfine, after a warm-up run); loading must stay linear in the file's size.
#   bench/settings/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
runs=${2:-10}
cmake --build "$build" --target drovanel-settingsbench >/dev/null
bin="$build/bin/drovanel-settingsbench"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for count in 10000 100000; do
    "$bin" make "$out/$count.reg" "$count"
    ls -l "$out/$count.reg" | awk -v n="$count" '{ printf "%d values: %d bytes\n", n, $5 }'
done
hyperfine -N --warmup 1 --runs "$runs" \
    "$bin load $out/10000.reg" "$bin load $out/100000.reg"
