#!/usr/bin/env bash
# Instructions of a start: callgrind counts drovanel and the minimal Qt Widgets program (and any
# further programs given, e.g. the drovanel of an earlier build) in the same virtual display and
# profile as bench/startup/run.sh, two ways: from the start to the first painted frame (the end of
# the first QBackingStore::flush, when the window's pixels reach the display), and for the whole
# run: through two seconds of rest and the end on SIGTERM. Under valgrind the beeper's preparation
# (loading the audio module and connecting to the sound server, a second after the window is
# built) falls inside the whole run; it is no part of the start, so its inclusive count
# (TDesktopToneSink::Prepare) is left out of it.
#   bench/startup/instructions.sh [BUILD_DIR] [OTHER_PROGRAM...]        default: build
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift $(($# < 1 ? $# : 1))
cmake --build "$build" --target drovanel drovanel-bench-minimal drovanel-startup-harness >/dev/null
bin=$(cd "$build/bin" && pwd)
repo=$PWD
programs=("$bin/drovanel")
for program in "$@"; do
    programs+=("$(cd "$(dirname "$program")" && pwd)/$(basename "$program")")
done
programs+=("$bin/drovanel-bench-minimal")

work=$(mktemp -d "${TMPDIR:-/tmp}/drovanel-instructions.XXXXXX")
trap 'rm -rf "$work"' EXIT
profile_env=$("$repo/scripts/write-profile" "$work/profile" --proxy-port 9 --no-check)

firsts=()
counts=()
for i in "${!programs[@]}"; do
    # The harness starts a program by its path: a small script runs it under callgrind.
    # A part is written after every flush: part 1 ends with the first painted frame.
    printf '#!/bin/sh\nexec valgrind --tool=callgrind --dump-after=QBackingStore::flush* --callgrind-out-file=%s "%s"\n' \
        "$work/out.$i" "${programs[$i]}" >"$work/run.$i"
    chmod +x "$work/run.$i"
    # shellcheck disable=SC2086
    env $profile_env QT_QPA_PLATFORM=xcb dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24 -br" \
        "$bin/drovanel-startup-harness" 1 2000 -- "$work/run.$i" -- "$bin/drovanel-bench-minimal" \
        >"$work/harness.$i" 2>&1
    first=$(sed -n 's/^totals: //p' "$work/out.$i.1")
    total=0
    prepare=0
    for part in "$work/out.$i" "$work/out.$i".*; do
        total=$((total + $(sed -n 's/^totals: //p' "$part")))
        inpart=$(callgrind_annotate --inclusive=yes --threshold=100 "$part" 2>/dev/null |
            awk '!found && /TDesktopToneSink::Prepare\(\) \[/ { gsub(",", "", $1); print $1; found = 1 }')
        prepare=$((prepare + ${inpart:-0}))
    done
    firsts+=("$first")
    counts+=($((total - prepare)))
    awk -v p="${programs[$i]}" -v f="$first" -v c="${counts[$i]}" -v t="$total" -v b="$prepare" \
        'BEGIN { printf "%-50s %7.1fM to the first painted frame; whole run %.1fM (%.1fM in all, %.1fM preparing the beeper)\n", p, f / 1e6, c / 1e6, t / 1e6, b / 1e6 }'
done
last=$((${#counts[@]} - 1))
for i in $(seq 0 $((last - 1))); do
    awk -v p="$(basename "${programs[$i]}")" -v f="${firsts[$i]}" -v fm="${firsts[$last]}" -v c="${counts[$i]}" \
        -v m="${counts[$last]}" 'BEGIN { printf "%s / minimal: %.2fx to the first painted frame, %.2fx whole run\n", p, f / fm, c / m }'
done
