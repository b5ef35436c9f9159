# Sourced by the test and screenshot scripts: starts and stops a virtual X
# server (Xvfb) on the first free display of a range.
#
#   start_xvfb FIRST LAST GEOMETRY
#       starts Xvfb on the first display from FIRST to LAST that has neither a
#       socket nor a lock file and whose server comes up (its socket appears
#       within 5 seconds while the process still runs), with one screen of
#       GEOMETRY (e.g. 1280x1024x24) and no TCP listener; sets xvfb_pid and
#       xvfb_display (":N"). Returns 1, with both empty, when no display of
#       the range gives a running server.
#   stop_xvfb
#       stops it, if it runs; safe to call more than once (e.g. from a trap).

xvfb_pid=
xvfb_display=

start_xvfb() {
    local first=$1 last=$2 geometry=$3 number
    for number in $(seq "$first" "$last"); do
        if [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; then
            continue
        fi
        Xvfb ":$number" -screen 0 "$geometry" -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$number" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        if [ -e "/tmp/.X11-unix/X$number" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
            xvfb_display=":$number"
            return 0
        fi
        # Another server took the display meanwhile, or this one did not
        # come up: try the next one.
        stop_xvfb
    done
    return 1
}

stop_xvfb() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
    xvfb_display=
}
