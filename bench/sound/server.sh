# Sourced by the sound benchmarks: a private PulseAudio server in the folder $work (its own
# runtime and configuration folders, no session bus, no display) with a 48 kHz mono null sink
# "bench" whose monitor parec records at 10 ms latency, as a desktop's speaker drains a sink.
# start_server sets server_pid, recorder_pid and PULSE_SERVER; stop_server ends both.
start_server() {
    export HOME="$work" XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/config"
    unset DISPLAY DBUS_SESSION_BUS_ADDRESS PULSE_SERVER
    pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
        --log-level=error -L "module-native-protocol-unix auth-anonymous=1 socket=$work/native" \
        -L "module-null-sink sink_name=bench rate=48000 channels=1" 2>"$work/server.log" &
    server_pid=$!
    export PULSE_SERVER="unix:$work/native"
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    parec -d bench.monitor --rate=48000 --channels=1 --format=s16le --latency-msec=10 >/dev/null &
    recorder_pid=$!
    # The idle null sink runs in long blocks; wait until it runs at the recorder's latency.
    local lat
    for _ in $(seq 50); do
        lat=$(pactl list sinks | sed -n 's/^\s*Latency: \([0-9]*\) usec.*/\1/p' | head -1)
        [ -n "$lat" ] && [ "$lat" -lt 50000 ] && break
        sleep 0.1
    done
}
stop_server() {
    [ -n "${recorder_pid:-}" ] && kill "$recorder_pid" 2>/dev/null && wait "$recorder_pid" 2>/dev/null
    recorder_pid=""
    [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    server_pid=""
    return 0
}
