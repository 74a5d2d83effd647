# Sourced by the window tests: starts a private Xvfb and exports DISPLAY. The caller defines fail()
# and $work, and stops the server with stop_xvfb (from its exit trap).
xvfb_pid=

start_xvfb() {
    # The server has no -auth, so a cookie file of the caller's session would only get in the way.
    unset XAUTHORITY
    # -br: a black root window whatever the server's default, so "outside the window is black" holds.
    for n in $(seq 90 120); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp -br >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do
            DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1 && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
            export DISPLAY=":$n"
            echo "Xvfb on $DISPLAY"
            return 0
        fi
        # Another server took the number between the lock check and the start: try the next one.
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    done
    fail "could not start Xvfb on any display :90..:120 (last log: $(cat "$work/xvfb.log"))"
}

stop_xvfb() {
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
}

# The id of the window titled $1, waiting up to 20 s while process $2 lives.
find_window() {
    local window=
    for _ in $(seq 200); do
        window=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        kill -0 "$2" 2>/dev/null || fail "the viewer ended before its window appeared"
        sleep 0.1
    done
    [ -n "$window" ] || fail "no window titled \"$1\" within 20 s"
    echo "$window"
}
