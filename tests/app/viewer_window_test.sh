#!/usr/bin/env bash
# End-to-end check of the GLUT viewer on a private Xvfb display: window placement, drawn image and
# overlay, the F1 help panel, the o key, idling after h, and a clean exit on Escape.
# Usage: viewer_window_test.sh path/to/lumenbox project-root
set -uo pipefail

viewer=${1:?usage: $0 path/to/lumenbox project-root}
viewer=$(readlink -f "$viewer") # still valid after the cd to the project root
root=${2:?usage: $0 path/to/lumenbox project-root}
title='Lumenbox - Tovarek 2010'
size=256

# The test command installs these; a missing one is a broken set-up, so it fails rather than skips.
missing=()
for tool in Xvfb xdotool import convert compare awk getconf; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing ${missing[*]} (tools/install-packages.sh installs them)"
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/lumenbox-viewer-test.XXXXXX")
viewer_pid=
failed=0

cleanup() {
    if [ -n "$viewer_pid" ] && kill -0 "$viewer_pid" 2>/dev/null; then
        kill "$viewer_pid" 2>/dev/null
        sleep 0.5
        kill -9 "$viewer_pid" 2>/dev/null
    fi
    stop_xvfb
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

source "$(dirname "$0")/x-session.sh"
start_xvfb

cd "$root" || fail "cannot enter $root"
"$viewer" x "$size" 16 16 6 8 0 0 >"$work/viewer.log" 2>&1 &
viewer_pid=$!

window=$(find_window "$title" "$viewer_pid") || fail "no viewer window"

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
# Mean of each pixel's brightest channel: luma would hardly see a grey veil over a mostly blue image.
mean_brightness() {
    convert "$work/$1.png" -crop "$2" +repage -channel RGB -separate -evaluate-sequence max \
        -format '%[fx:mean]' info:
}
# Pixels where the white text of two screenshots differs in the region; the image behind may change.
text_changes() {
    local a b
    a=$(mktemp "$work/mask.XXXXXX.png") && b=$(mktemp "$work/mask.XXXXXX.png") || return 1
    for pair in "$1:$a" "$2:$b"; do
        convert "$work/${pair%%:*}.png" -crop "$3" +repage -channel RGB -separate -evaluate-sequence min \
            -threshold 99% "png:${pair#*:}"
    done
    compare -metric AE "$a" "$b" null: 2>&1 | awk '{ print int($1) }'
    rm -f "$a" "$b"
}
# Retries a check on fresh screenshots for up to half a minute: the viewer redraws on its own
# schedule, and a loaded machine draws slowly.
wait_for() {
    local shot=$1 condition=$2
    for _ in $(seq 120); do
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

# The pointer goes to the window's centre, where it turns nothing: a turn read in the same batch of
# events as h would wait unrendered until F1 draws again, and the panel would lie over another view.
focus_window "$window" $((size / 2)) $((size / 2))
press() { xdotool key --clearmodifiers "$1"; }
state_label="70x12+$((wx + 180))+$((wy + 21))"
shoot loop_start

# Pixel comparisons need a picture that holds still: h stops the animation, and once the pointer warp
# has settled two screenshots in a row are the same frame.
press h
wait_for stopped '[ "$(text_changes loop_start stopped "$state_label")" -gt 10 ]' ||
    fail "h did not change the robot state label"
same_as() { [ "$(compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1 | awk '{ print int($1) }')" -eq 0 ]; }
shoot focused
wait_for still 'same_as focused still || { cp "$work/still.png" "$work/focused.png"; false; }' ||
    fail "the picture does not hold still after h"

# c. F1: the translucent panel darkens its area and carries white help text. Over an image of mean
# brightness b the panel is about 0.16 + 0.2 b plus its white text: some 0.7 b over the traced scene,
# whose dark floor leaves less to darken than a bright image would.
before_mean=$(mean_brightness focused "$panel")
press F1
wait_for help 'check "$(mean_brightness help "$panel") < 0.8 * $before_mean"' ||
    fail "F1 showed no help panel: mean brightness $(mean_brightness help "$panel") in $panel, was $before_mean"
help_mean=$(mean_brightness help "$panel")
help_text=$(white_fraction help "$panel")
check "$help_text > 0.005" || fail "the help panel has no white text ($help_text of $panel)"
# Translucent: away from the text the panel is grey 0.2 at 80 % opacity over the image, 0.16 + 0.2 * below.
convert "$work/focused.png" -crop "$panel" +repage -evaluate multiply 0.2 -evaluate add 16% "$work/panel-expected.png"
convert "$work/help.png" -crop "$panel" +repage "$work/panel-shown.png"
mismatched=$(compare -metric AE -fuzz 6% "$work/panel-expected.png" "$work/panel-shown.png" null: 2>&1 |
    awk '{ print int($1) }')
# Text pixels are the only ones expected to differ; a few more are allowed for the blend's rounding.
off_text=$(awk -v m="$mismatched" -v t="$help_text" -v n=$((176 * 171)) 'BEGIN { printf "%.4f", m / n - t }')
check "$off_text < 0.02" ||
    fail "the help panel is not the translucent grey over the image: $off_text of $panel differs beyond the text"
echo "help panel: brightness $before_mean -> $help_mean, text $help_text, off the blend $off_text"

# o: the anti-aliasing label changes, and a second o brings the original label back.
press o
wait_for aa_on '[ "$(text_changes help aa_on "$aa_label")" -gt 10 ]' ||
    fail "o did not change the AntiAliasing label ($aa_label)"
press o
wait_for aa_off '[ "$(text_changes help aa_off "$aa_label")" -eq 0 ]' ||
    fail "a second o did not restore the AntiAliasing label: $(text_changes help aa_off "$aa_label") pixels differ"
echo "o toggles the anti-aliasing label"

# Robot commands: each names its state in the overlay (Walk, Jump, Crouch, then Loop again, which
# reads as at start), and the scene animates again under them.
below_overlay="${size}x$((size - 40))+${wx}+$((wy + 40))"
press c
wait_for walk '[ "$(text_changes aa_off walk "$state_label")" -gt 10 ]' || fail "c did not change the robot state label"
convert "$work/walk.png" -crop "$below_overlay" +repage "$work/walk-image.png"
moved_since_walk() {
    convert "$work/walk_later.png" -crop "$below_overlay" +repage "$work/walk_later-image.png"
    moved=$(compare -metric AE -fuzz 2% "$work/walk-image.png" "$work/walk_later-image.png" null: 2>&1 |
        awk '{ print int($1) }')
    [ "$moved" -gt 200 ]
}
wait_for walk_later moved_since_walk || fail "the scene did not animate after c: only $moved pixels changed"
press g
wait_for jump '[ "$(text_changes walk jump "$state_label")" -gt 10 ]' || fail "g did not change the robot state label"
press b
wait_for crouch '[ "$(text_changes jump crouch "$state_label")" -gt 10 ]' || fail "b did not change the robot state label"
press v
wait_for loop '[ "$(text_changes loop_start loop "$state_label")" -eq 0 ]' ||
    fail "v did not bring back the Loop label: $(text_changes loop_start loop "$state_label") pixels differ"
echo "robot commands: c, g, b and v name their states; $moved pixels moved while walking"

# Fields of /proc/<pid>/stat after the command name, which ends in the last ')': state is the 1st,
# utime and stime the 12th and 13th.
proc_fields() {
    local stat
    stat=$(cat "/proc/$viewer_pid/stat" 2>/dev/null) || return 1
    echo "${stat##*) }"
}
cpu_ticks() { proc_fields | awk '{ print $12 + $13 }'; }
# A zombie has exited already; wait collects its status.
running() { kill -0 "$viewer_pid" 2>/dev/null && [ "$(proc_fields | awk '{ print $1 }')" != Z ]; }

# d. h stops the animation: the label changes to the stopped state and the process then sleeps
# rather than spins.
press h
wait_for stopped_label '[ "$(text_changes loop stopped_label "$state_label")" -gt 10 ]' ||
    fail "h did not change the robot state label"
sleep 1
ticks_per_second=$(getconf CLK_TCK)
running || fail "the viewer ended after h"
start_ticks=$(cpu_ticks)
start_time=$(date +%s.%N)
sleep 5
running || fail "the viewer ended while idle after h"
end_ticks=$(cpu_ticks)
end_time=$(date +%s.%N)
cpu=$(awk -v t0="$start_ticks" -v t1="$end_ticks" -v s0="$start_time" -v s1="$end_time" -v hz="$ticks_per_second" \
    'BEGIN { printf "%.1f", 100 * (t1 - t0) / hz / (s1 - s0) }')
echo "CPU after h: $cpu % of one core over $(awk -v a="$start_time" -v b="$end_time" 'BEGIN { printf "%.1f", b - a }') s"
check "$cpu < 10" || { shoot stopped; fail "the viewer still uses $cpu % of a core after h (expected < 10 %)"; }

# e. Escape ends the process with status 0.
press Escape
for _ in $(seq 50); do
    running || break
    sleep 0.1
done
if running; then
    shoot escape
    fail "the viewer is still running 5 s after Escape"
fi
wait "$viewer_pid"
status=$?
viewer_pid=
[ "$status" -eq 0 ] || fail "the viewer exited with status $status after Escape, expected 0"
echo "Escape: exit status 0"
echo "PASS"
