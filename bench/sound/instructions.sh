#!/usr/bin/env bash
# Instructions a melody costs the program: callgrind counts drovanel-melody playing psClimb once and
# five times in a row through a private PulseAudio server (bench/sound/server.sh); the difference
# over four is one melody's count, start-up and ending left out. The share of the synthesis is the
# inclusive count of TMelodySynth::Render, taken the same way. Each BIN_DIR holding a
# drovanel-melody is measured in the same run, side by side (e.g. the build of an earlier commit).
#   bench/sound/instructions.sh [BIN_DIR...]        default: build/bin (built first)
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ $# -eq 0 ]; then
    cmake --build build --target drovanel-melody >/dev/null
    set -- build/bin
fi
work=$(mktemp -d)
server_pid=""
recorder_pid=""
# shellcheck source=bench/sound/server.sh
. bench/sound/server.sh
cleanup() {
    stop_server
    rm -rf "$work"
}
trap cleanup EXIT
start_server

# Prints "total render" instructions for ROUNDS melodies with the driver in $1.
count() {
    local out="$work/callgrind.out" total render try
    # Qt's sound engine may trip over itself while the process ends under valgrind (an assertion in
    # the sound library); the counts up to there are whole, so the exit status is not looked at, but
    # a run whose report was lost with it is run again.
    for try in 1 2 3; do
        valgrind --tool=callgrind --callgrind-out-file="$out" "$1/drovanel-melody" --idle --repeat "$2" 12 \
            >"$work/driver.out" 2>"$work/valgrind.log" || true
        grep -q '^outcome=played$' "$work/driver.out" && break
        if [ "$try" = 3 ]; then
            echo "$1: the melody was not played: $(tr '\n' ' ' <"$work/driver.out")" >&2
            return 1
        fi
    done
    total=$(sed -n 's/^totals: //p' "$out")
    render=$(callgrind_annotate --inclusive=yes --threshold=100 "$out" 2>/dev/null |
        awk '!found && /TMelodySynth::Render\(/ { gsub(",", "", $1); print $1; found = 1 }')
    echo "$total ${render:-0}"
}

for dir in "$@"; do
    one=$(count "$dir" 1)
    five=$(count "$dir" 5)
    read -r t1 r1 <<<"$one"
    read -r t5 r5 <<<"$five"
    awk -v d="$dir" -v t1="$t1" -v t5="$t5" -v r1="$r1" -v r5="$r5" 'BEGIN {
        m = (t5 - t1) / 4; s = (r5 - r1) / 4
        printf "%-40s %.2fM instructions a melody, synthesis %.2fM (%.0f%%)\n", d, m / 1e6, s / 1e6, 100 * s / m }'
done
