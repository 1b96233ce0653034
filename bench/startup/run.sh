#!/usr/bin/env bash
# Start-up to a visible, painted main window, and memory at rest, of drovanel against a minimal Qt
# Widgets program showing one window, in turn in one run, in a virtual X display (Xvfb with a black
# root, no window manager, no compositor). Further programs (e.g. the drovanel of an earlier build,
# with its socket library and audio module beside it) are started in the same turns.
#   bench/startup/run.sh [BUILD_DIR] [ROUNDS] [OTHER_PROGRAM...]        defaults: build, 15
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rounds=${2:-15}
shift $(($# < 2 ? $# : 2))
others=()
for program in "$@"; do
    others+=("$(cd "$(dirname "$program")" && pwd)/$(basename "$program")" --)
done
cmake --build "$build" --target drovanel drovanel-bench-minimal drovanel-startup-harness >/dev/null
bin=$(cd "$build/bin" && pwd)
repo=$PWD

work=$(mktemp -d "${TMPDIR:-/tmp}/drovanel-startup.XXXXXX")
trap 'rm -rf "$work"' EXIT
# A throwaway profile with a download folder and no start-up check: no question, no network.
profile_env=$("$repo/scripts/write-profile" "$work/profile" --proxy-port 9 --no-check)
# A session bus, as every desktop session has: without one, the first look for a notification area
# over D-Bus would start dbus-launch, which a desktop never does.
# shellcheck disable=SC2086
env $profile_env QT_QPA_PLATFORM=xcb dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24 -br" \
    "$bin/drovanel-startup-harness" "$rounds" 1000 -- "$bin/drovanel" -- "${others[@]}" "$bin/drovanel-bench-minimal"
