#!/usr/bin/env bash
# The whole download of a 256 MiB map through the main window against drovanel-ftpget fetching
# the same file from the same pyftpdlib server in the same run (ROUNDS alternating runs each,
# medians reported); then the CPU cost of a press of "Descargar" waiting on a silent server.
#   bench/download/run.sh [BUILD_DIR] [ROUNDS] [IDLE_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rounds=${2:-5}
idle=${3:-10}
cmake --build "$build" --target drovanel-downloadbench drovanel-ftpget >/dev/null
bench="$build/bin/drovanel-downloadbench"
ftpget="$build/bin/drovanel-ftpget"
work=$(mktemp -d)
server_pid=""
silent_pid=""
cleanup() {
    for pid in $server_pid $silent_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
name=Watcher-090101.mdb
# The update server's account and folders, as the sample server knows them.
{ read -r user; read -r password; read -r updates_dir; read -r docs_dir; } < <(/usr/bin/python3 scripts/sample-server --account)
updates="$work/root$updates_dir"
mkdir -p "$updates" "$work/root$docs_dir" "$work/folder" "$work/out" "$work/home"
# Random bytes: no points file, so the conversion stops at the header and the figure is the
# download's. The window still plays its melody (silently) and shows its message.
head -c $((256 << 20)) /dev/urandom >"$updates/$name"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=offscreen

coproc SERVER { exec /usr/bin/python3 tests/fixtures/ftp_server.py "$work/root" "$user" "$password"; }
server_pid=$SERVER_PID
read -r port <&"${SERVER[0]}"
echo "pyftpdlib on 127.0.0.1:$port"

window() {
    rm -f "$work/folder/temp.mdb"
    "$bench" download "$port" "$name" "$work/folder" 2>"$work/dialogs"
    cmp -s "$work/folder/temp.mdb" "$updates/$name" || { echo "window: wrong bytes" >&2; exit 1; }
}
client() {
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$ftpget" 127.0.0.1 "$port" "$user" "$password" \
        "$updates_dir" "$name" "$work/out/ftpget.bin" >/dev/null
    cmp -s "$work/out/ftpget.bin" "$updates/$name" || { echo "drovanel-ftpget: wrong bytes" >&2; exit 1; }
    awk -v b=$((256 << 20)) '{ printf "%d %.3f %.3f\n", b, $1, $2 + $3 }' "$work/time"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/window.txt"
: >"$work/client.txt"
for _ in $(seq "$rounds"); do
    window >>"$work/window.txt"
    client >>"$work/client.txt"
done
echo "window (bytes wall cpu):"; cat "$work/window.txt"
echo "drovanel-ftpget (bytes wall cpu):"; cat "$work/client.txt"
ww=$(cut -d' ' -f2 "$work/window.txt" | median)
wc=$(cut -d' ' -f3 "$work/window.txt" | median)
cw=$(cut -d' ' -f2 "$work/client.txt" | median)
cc=$(cut -d' ' -f3 "$work/client.txt" | median)
awk -v ww="$ww" -v wc="$wc" -v cw="$cw" -v cc="$cc" 'BEGIN {
    printf "window: %.0f MiB/s, %.2f s CPU; drovanel-ftpget: %.0f MiB/s, %.2f s CPU\n", 256 / ww, wc, 256 / cw, cc
    printf "throughput vs drovanel-ftpget: %.2fx (target >= 0.9x); CPU: %.2fx (target <= 1.2x)\n", cw / ww, wc / cc
}'

# A server that accepts the connection and never says a word: the press waits for the greeting.
# (bash warns that the server's coprocess still runs; it must, and the warning says nothing.)
{ coproc SILENT { exec /usr/bin/python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1)
print(s.getsockname()[1], flush=True)
c, _ = s.accept()
time.sleep(3600)
'; }; } 2>/dev/null
silent_pid=$SILENT_PID
read -r silent_port <&"${SILENT[0]}"
read -r iw ic < <("$bench" idle "$silent_port" "$idle" "$work/folder" 2>"$work/dialogs")
awk -v w="$iw" -v c="$ic" 'BEGIN {
    printf "idle: %.4f s CPU in %.2f s waiting on a silent server: %.3f%% of a core (target < 1%%)\n", c, w, 100 * c / w
}'
echo "the wait ended with: $(tail -1 "$work/dialogs")"
