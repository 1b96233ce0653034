#!/usr/bin/env bash
# Socket benchmarks: the CPU cost of a ten-second idle wait, and ReceiveToStream of 256 MiB into a
# file stream against a plain blocking read loop (same peer, same run, five alternating rounds).
#   bench/sockets/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
cmake --build "$build" --target drovanel-sockbench >/dev/null
bin="$build/bin/drovanel-sockbench"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$bin" idle 10
"$bin" throughput 256 "$out/received.bin" 5
