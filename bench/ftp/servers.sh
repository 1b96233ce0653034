# Shared by the FTP benchmarks (sourced, not run): the two servers they retrieve from, each on a
# free loopback port over the folder "$work/root". Set: pyftpdlib_port, vsftpd_port (empty when
# vsftpd is not installed) and server_pids (for the caller's clean-up).
#   start_pyftpdlib USER PASSWORD
#   start_vsftpd                    anonymous log-in (any password), read only

server_pids=""
# On a machine with two processors or more the servers run on the first and the timed clients on
# the second: the loopback's network work then lands on the side that causes it, instead of on
# whichever process the scheduler happened to interrupt, which otherwise varies a run's CPU time
# by a third.
pin_server=""
pin_client=""
if [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null; then
    pin_server="taskset -c 0"
    pin_client="taskset -c 1"
fi

start_pyftpdlib() {
    # shellcheck disable=SC2086
    exec {pyftpdlib_out}< <(exec $pin_server /usr/bin/python3 tests/fixtures/ftp_server.py "$work/root" "$1" "$2")
    server_pids="$server_pids $!"
    read -r pyftpdlib_port <&"$pyftpdlib_out"
}

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start_vsftpd() {
    vsftpd_port=""
    [ -x /usr/sbin/vsftpd ] || { echo "vsftpd not installed (apt-get install vsftpd): skipped" >&2; return 0; }
    vsftpd_port=$(free_port)
    mkdir -p "$work/vsftpd-empty"
    # Standalone, in the foreground, as the user who starts it, on the loopback interface only.
    cat >"$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$vsftpd_port
background=NO
run_as_launching_user=YES
anonymous_enable=YES
anon_root=$work/root
no_anon_password=YES
local_enable=NO
write_enable=NO
connect_from_port_20=NO
seccomp_sandbox=NO
secure_chroot_dir=$work/vsftpd-empty
xferlog_enable=NO
dirmessage_enable=NO
pasv_enable=YES
port_enable=YES
EOF
    # shellcheck disable=SC2086
    $pin_server /usr/sbin/vsftpd "$work/vsftpd.conf" &
    server_pids="$server_pids $!"
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$vsftpd_port") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "vsftpd did not start" >&2
    exit 1
}

stop_servers() {
    for pid in $server_pids; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
