#!/usr/bin/env bash
# CPU cost of playing melodies: drovanel-melody plays psClimb ROUNDS times in a row (960 ms each)
# through a private PulseAudio server (a null sink, recorded at 10 ms latency as a desktop's
# speaker would drain it), then with no sound server at all (the silent fallback). /usr/bin/time
# gives the whole process's CPU, the driver its own CPU over the melodies alone; the server's CPU
# comes from /proc. A run that plays nothing (preset 13) gives the start-up cost to take off.
#   bench/sound/run.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rounds=${2:-10}
cmake --build "$build" --target drovanel-melody >/dev/null
melody="$build/bin/drovanel-melody"
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

# CPU seconds (user + system) a process has used so far.
proc_cpu() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$1/stat"
}
# Runs the driver under /usr/bin/time; prints "wall_s process_cpu_s melody_cpu_s melody_wall_s outcome".
measure() {
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$melody" --idle --repeat "$rounds" "$1" >"$work/out" 2>/dev/null
    local cpu wall outcome
    cpu=$(sed -n 's/^cpu_s=//p' "$work/out")
    wall=$(sed -n 's/^wall_us=//p' "$work/out")
    outcome=$(sed -n 's/^outcome=//p' "$work/out")
    awk -v c="$cpu" -v w="$wall" -v o="$outcome" '{ printf "%.3f %.3f %.4f %.3f %s\n", $1, $2 + $3, c, w / 1e6, o }' "$work/time"
}
report() {
    local label=$1 base=$2 run=$3
    read -r bwall bcpu _ <<<"$base"
    read -r wall cpu mcpu mwall outcome <<<"$run"
    awk -v l="$label" -v bw="$bwall" -v bc="$bcpu" -v w="$wall" -v c="$cpu" -v mc="$mcpu" -v mw="$mwall" -v o="$outcome" \
        'BEGIN { printf "%-10s outcome %-7s melodies %.3f s wall, %.4f s CPU (%.2f%% of a core); process %.3f s CPU, start-up %.3f s -> %.2f%%\n",
                 l, o, mw, mc, 100 * mc / mw, c, bc, 100 * (c - bc) / mw }'
}

start_server

base=$(measure 13)
server_before=$(proc_cpu "$server_pid")
run=$(measure 12)
server_after=$(proc_cpu "$server_pid")
report "server" "$base" "$run"
read -r _ _ _ mwall _ <<<"$run"
awk -v a="$server_before" -v b="$server_after" -v w="$mwall" \
    'BEGIN { printf "%-10s pulseaudio itself: %.3f s CPU (%.2f%% of a core)\n", "", b - a, 100 * (b - a) / w }'

stop_server

# No server at all: nothing to connect to, and no starting one.
export PULSE_SERVER="unix:$work/none"
base=$(measure 13)
run=$(measure 12)
report "no server" "$base" "$run"
