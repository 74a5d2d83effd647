# Sourced by the window tests: starts a private Xvfb and exports DISPLAY. The caller defines fail()
# and $work, and stops the server with stop_xvfb (from its exit trap).
xvfb_pid=

start_xvfb() {
    # The server has no -auth, so a cookie file of the caller's session would only get in the way.
    unset XAUTHORITY
    # -displayfd: the server picks a free display number itself and writes it once it accepts
    # connections, so tests started side by side never race for one number.
    # -br: a black root window whatever the server's default, so "outside the window is black" holds.
    # -noreset: by default the server resets when its last client leaves, and a client connecting
    # during the reset (the viewer, just after the check below) is turned away.
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -br -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local n=
    for _ in $(seq 200); do
        n=$(tr -dc 0-9 <"$work/display")
        [ -n "$n" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    [ -n "$n" ] || fail "Xvfb did not start (log: $(cat "$work/xvfb.log"))"
    # The socket of that number must be one of our server's own descriptors: then it is ours that
    # answers below, not another test's.
    local sockets
    sockets=$(ls -l "/proc/$xvfb_pid/fd" 2>/dev/null | sed -n 's/.*socket:\[\([0-9]*\)\]$/\1/p' | tr '\n' ' ')
    awk -v own=" $sockets" -v path="/tmp/.X11-unix/X$n" \
        '$NF ~ path "$" && index(own, " " $7 " ") { found = 1 } END { exit !found }' /proc/net/unix ||
        fail "display :$n is not served by our Xvfb (pid $xvfb_pid)"
    export DISPLAY=":$n"
    xdotool getdisplaygeometry >/dev/null 2>&1 || fail "our Xvfb on $DISPLAY does not answer"
    echo "Xvfb on $DISPLAY"
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

# Puts the pointer at ($2, $3) in window $1 and gives the window keyboard focus, retrying for up to
# 20 s: a window is found as soon as it exists, but focus and pointer take only once it is mapped,
# and keys sent before that are lost. Without a window manager both are set by hand.
focus_window() {
    for _ in $(seq 200); do
        xdotool mousemove --window "$1" "$2" "$3" 2>/dev/null
        xdotool windowfocus "$1" 2>/dev/null
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0
        sleep 0.1
    done
    fail "could not give window $1 keyboard focus within 20 s"
}
