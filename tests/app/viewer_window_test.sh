#!/usr/bin/env bash
# End-to-end check of the GLUT viewer on a private Xvfb display: window placement, drawn image and
# overlay, the F1 help panel, the o key, idling after h, and a clean exit on Escape.
# Usage: viewer_window_test.sh path/to/lumenbox project-root
set -uo pipefail

viewer=${1:?usage: $0 path/to/lumenbox project-root}
root=${2:?usage: $0 path/to/lumenbox project-root}
title='Lumenbox - Tovarek 2010'
size=256

# A machine without the X test tools cannot run this; ctest reports the skip (SKIP_RETURN_CODE 77).
missing=()
for tool in Xvfb xdotool import convert compare awk getconf; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "SKIP: missing ${missing[*]} (tools/install-packages.sh installs them)"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/lumenbox-viewer-test.XXXXXX")
xvfb_pid=
viewer_pid=
failed=0

cleanup() {
    if [ -n "$viewer_pid" ] && kill -0 "$viewer_pid" 2>/dev/null; then
        kill "$viewer_pid" 2>/dev/null
        sleep 0.5
        kill -9 "$viewer_pid" 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    if [ "$failed" -eq 0 ]; then
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM

fail() {
    failed=1
    echo "FAIL: $*" >&2
    if [ -s "$work/viewer.log" ]; then
        echo "--- viewer output ---" >&2
        cat "$work/viewer.log" >&2
    fi
    echo "Screenshots and logs kept in $work" >&2
    exit 1
}

# awk does the floating point that bash cannot.
check() { awk "BEGIN { exit !($1) }"; }

# --- display ---------------------------------------------------------------------------------------
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
        break
    fi
    # Another server took the number between the lock check and the start: try the next one.
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
done
[ -n "$xvfb_pid" ] || fail "could not start Xvfb on any display :90..:120 (last log: $(cat "$work/xvfb.log"))"
unset XAUTHORITY
echo "Xvfb on $DISPLAY"

# --- viewer ----------------------------------------------------------------------------------------
cd "$root" || fail "cannot enter $root"
"$viewer" x "$size" 16 16 6 8 0 0 >"$work/viewer.log" 2>&1 &
viewer_pid=$!

window=
for _ in $(seq 200); do
    window=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$viewer_pid" 2>/dev/null || fail "the viewer ended before its window appeared"
    sleep 0.1
done
[ -n "$window" ] || fail "no window titled \"$title\" within 20 s"

# a. title, position and size.
name=$(xdotool getwindowname "$window")
[ "$name" = "$title" ] || fail "window title is \"$name\", expected \"$title\""
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$X" -eq 100 ] && [ "$Y" -eq 100 ] || fail "window is at ($X,$Y), expected (100,100)"
[ "$WIDTH" -eq "$size" ] && [ "$HEIGHT" -eq "$size" ] ||
    fail "window is ${WIDTH}x${HEIGHT}, expected ${size}x${size}"
wx=$X
wy=$Y
echo "window $window \"$name\" at ($wx,$wy) ${WIDTH}x${HEIGHT}"

# --- image measurements ----------------------------------------------------------------------------
# Each takes a screenshot and a crop geometry WxH+X+Y in screen pixels and prints a number in [0,1].
shoot() { import -window root "$work/$1.png" || fail "screenshot $1 failed"; }
# Fraction of pixels whose brightest channel is above 5 %: drawn, not black.
lit_fraction() {
    convert "$work/$1.png" -crop "$2" +repage -channel RGB -separate -evaluate-sequence max \
        -threshold 5% -format '%[fx:mean]' info:
}
# Fraction of pixels with every channel at least 99 %: the bitmap font is pure white, the image is not.
white_fraction() {
    convert "$work/$1.png" -crop "$2" +repage -channel RGB -separate -evaluate-sequence min \
        -threshold 99% -format '%[fx:mean]' info:
}
# Largest channel value anywhere in the region.
brightest() {
    convert "$work/$1.png" -crop "$2" +repage -channel RGB -separate -evaluate-sequence max \
        -format '%[fx:maxima]' info:
}
mean_brightness() {
    convert "$work/$1.png" -crop "$2" +repage -colorspace gray -format '%[fx:mean]' info:
}
# Pixels that differ by more than 10 % between two screenshots in the region.
changed_pixels() {
    compare -metric AE -fuzz 10% "$work/$1.png[$3]" "$work/$2.png[$3]" null: 2>&1 | awk '{ print int($1) }'
}
# Retries a check on fresh screenshots: the viewer redraws on its own schedule.
wait_for() {
    local shot=$1 condition=$2
    for _ in $(seq 40); do
        shoot "$shot"
        eval "$condition" && return 0
        sleep 0.25
    done
    return 1
}

whole="${size}x${size}+${wx}+${wy}"
overlay_rows="${size}x33+${wx}+${wy}"
middle_rows="${size}x16+${wx}+$((wy + 120))"
panel="176x171+$((wx + 75))+$((wy + 70))"
aa_label="95x12+${wx}+$((wy + 21))"

# b. the image is drawn, the rest of the screen is black, the overlay text is white.
wait_for before 'check "$(lit_fraction before "$whole") > 0.95"' ||
    fail "the window is not drawn: only $(lit_fraction before "$whole") of it is lit (expected > 0.95)"
for outside in "800x${wy}+0+0" "${wx}x600+0+0" "$((800 - wx - size))x600+$((wx + size))+0" \
    "800x$((600 - wy - size))+0+$((wy + size))"; do
    peak=$(brightest before "$outside")
    check "$peak < 0.02" || fail "the screen outside the window is not black in $outside (brightest $peak)"
done
text=$(white_fraction before "$overlay_rows")
check "$text > 0.02" || fail "no overlay text: $text of the top 33 rows is white (expected > 0.02)"
stray=$(white_fraction before "$middle_rows")
check "$stray == 0" || fail "white pixels in the middle of the image ($stray of rows 120..135)"
echo "image drawn; overlay rows $text white, middle rows $stray white"

# Keys go to the focused window; without a window manager the pointer and focus are set by hand.
xdotool mousemove --window "$window" 10 10
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
sleep 0.3
shoot focused
press() { xdotool key --clearmodifiers "$1"; }

# c. F1: the translucent panel darkens its area and carries white help text.
before_mean=$(mean_brightness focused "$panel")
press F1
wait_for help 'check "$(mean_brightness help "$panel") < 0.7 * $before_mean"' ||
    fail "F1 showed no help panel: mean brightness $(mean_brightness help "$panel") in $panel, was $before_mean"
help_mean=$(mean_brightness help "$panel")
help_text=$(white_fraction help "$panel")
check "$help_text > 0.005" || fail "the help panel has no white text ($help_text of $panel)"
echo "help panel: brightness $before_mean -> $help_mean, text $help_text"

# o: the anti-aliasing label changes, and a second o brings the original label back.
press o
wait_for aa_on '[ "$(changed_pixels help aa_on "$aa_label")" -gt 10 ]' ||
    fail "o did not change the AntiAliasing label ($aa_label)"
press o
wait_for aa_off '[ "$(changed_pixels help aa_off "$aa_label")" -eq 0 ]' ||
    fail "a second o did not restore the AntiAliasing label: $(changed_pixels help aa_off "$aa_label") pixels differ"
echo "o toggles the anti-aliasing label"

# d. h stops the animation: the process should then sleep rather than spin.
cpu_ticks() {
    local stat
    stat=$(cat "/proc/$viewer_pid/stat") || fail "the viewer is gone"
    # Fields after the command name, which ends in the last ')': utime and stime are the 12th and 13th.
    echo "${stat##*) }" | awk '{ print $12 + $13 }'
}
press h
sleep 1
ticks_per_second=$(getconf CLK_TCK)
start_ticks=$(cpu_ticks)
start_time=$(date +%s.%N)
sleep 5
end_ticks=$(cpu_ticks)
end_time=$(date +%s.%N)
cpu=$(awk -v t0="$start_ticks" -v t1="$end_ticks" -v s0="$start_time" -v s1="$end_time" -v hz="$ticks_per_second" \
    'BEGIN { printf "%.1f", 100 * (t1 - t0) / hz / (s1 - s0) }')
echo "CPU after h: $cpu % of one core over $(awk -v a="$start_time" -v b="$end_time" 'BEGIN { printf "%.1f", b - a }') s"
check "$cpu < 10" || { shoot stopped; fail "the viewer still uses $cpu % of a core after h (expected < 10 %)"; }

# e. Escape ends the process with status 0.
press Escape
for _ in $(seq 50); do
    kill -0 "$viewer_pid" 2>/dev/null || break
    # A zombie has exited already; wait collects it below.
    [ "$(awk '{ print $3 }' "/proc/$viewer_pid/stat" 2>/dev/null)" = Z ] && break
    sleep 0.1
done
if kill -0 "$viewer_pid" 2>/dev/null && [ "$(awk '{ print $3 }' "/proc/$viewer_pid/stat" 2>/dev/null)" != Z ]; then
    shoot escape
    fail "the viewer is still running 5 s after Escape"
fi
wait "$viewer_pid"
status=$?
viewer_pid=
[ "$status" -eq 0 ] || fail "the viewer exited with status $status after Escape, expected 0"
echo "Escape: exit status 0"
echo "PASS"
