# Sourced by the demo and the benchmarks: starts and stops the project's
# HTTPS test server (updater-test-https-server) on 127.0.0.1.
#
#   start_https_server SERVER_PROGRAM ROOT_FOLDER LOG_PREFIX
#       starts it in the background on a free port; sets https_server_pid and
#       https_server_port; returns 1 (with the server's stderr in
#       LOG_PREFIX.err) when it did not come up within 5 seconds.
#   stop_https_server
#       stops it, if it runs; safe to call more than once (e.g. from a trap).

https_server_pid=
https_server_port=

start_https_server() {
    local program=$1 root=$2 log=$3
    "$program" --root "$root" --port 0 >"$log.out" 2>"$log.err" &
    https_server_pid=$!
    for _ in $(seq 200); do
        [ -s "$log.out" ] && break
        sleep 0.05
    done
    https_server_port=$(head -n 1 "$log.out")
    [[ $https_server_port =~ ^[0-9]+$ ]]
}

stop_https_server() {
    if [ -n "$https_server_pid" ]; then
        kill "$https_server_pid" 2>/dev/null || true
        wait "$https_server_pid" 2>/dev/null || true
        https_server_pid=
    fi
}
