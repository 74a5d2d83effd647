#!/usr/bin/env bash
# The real viewer under Xvfb for a few minutes of random keys, clicks and pointer moves: it must
# not crash or hang, its memory must stay flat (judged on runs of two minutes or more), and Escape
# must still end it with status 0.
set -uo pipefail
viewer=${1:?usage: $0 path/to/lumenbox project-root [seconds]}
viewer=$(readlink -f "$viewer")
root=${2:?usage: $0 path/to/lumenbox project-root [seconds]}
seconds=${3:-180}
memory_check_seconds=120
title='Lumenbox - Tovarek 2010'

work=$(mktemp -d "${TMPDIR:-/tmp}/lumenbox-viewer-soak.XXXXXX")
viewer_pid=
fail() {
    echo "FAIL: $*" >&2
    [ -s "$work/viewer.log" ] && tail -n 20 "$work/viewer.log" >&2
    exit 1
}
cleanup() {
    [ -n "$viewer_pid" ] && kill -9 "$viewer_pid" 2>/dev/null
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/x-session.sh"
start_xvfb

cd "$root" || fail "cannot enter $root"
# A small image keeps the frames quick, so many inputs land between frames and during them.
"$viewer" x 128 32 4 3 2 0 0 >"$work/viewer.log" 2>&1 &
viewer_pid=$!
window=$(find_window "$title" "$viewer_pid") || fail "no viewer window"
# Until the window is mapped and focused, the warm-up keys below would be lost.
focus_window "$window" 64 64

# Anonymous memory only (heap, stacks, buffers): that is where a leak lands. The shared libraries'
# pages (Mesa's LLVM alone is some 50 MB) come in as new drawing paths are first used, and say
# nothing about the viewer.
rss() { awk '/^RssAnon:/ { print $2 }' "/proc/$viewer_pid/status" 2>/dev/null; }
alive() { kill -0 "$viewer_pid" 2>/dev/null && [ "$(awk '{ print $3 }' "/proc/$viewer_pid/stat" 2>/dev/null)" != Z ]; }

# The first frames with anti-aliasing, more blur rays and deeper traces touch buffers and stack once
# (some 7 MB for anti-aliasing alone), and so does the first blended help panel in the GL driver;
# they come first, then F2 restores the start values, so that such one-time growth lands before the
# samples the check compares.
xdotool key F1 o l l l l plus plus plus plus F1
# Until memory has held still for three seconds (at most half a minute), so that those frames are done.
last=0
steady=0
for _ in $(seq 30); do
    sleep 1
    now=$(rss)
    if [ "$now" = "$last" ]; then steady=$((steady + 1)); else steady=0; fi
    last=$now
    [ "$steady" -ge 3 ] && break
done
xdotool key F2
sleep 1

# Every key of the table except Escape, some that do nothing, and the function keys.
keys=(plus minus bracketleft bracketright k l o j w a s d y u r t c g b v h W O F1 F2 F3 x 1 space)
RANDOM=20261206
start=$(date +%s)
samples=()
events=0
# At least ten rounds however slow the machine, so that memory is judged on enough samples.
while [ $(($(date +%s) - start)) -lt "$seconds" ] || [ ${#samples[@]} -lt 10 ]; do
    alive || fail "the viewer ended after $events events"
    for _ in $(seq 20); do
        case $((RANDOM % 6)) in
        0 | 1 | 2) xdotool key "${keys[$((RANDOM % ${#keys[@]}))]}" ;;
        # "--" lets a negative coordinate, left of or above the window, through as a number.
        3) xdotool mousemove --window "$window" -- $((RANDOM % 160 - 16)) $((RANDOM % 160 - 16)) ;;
        4) xdotool click $((RANDOM % 3 + 1)) ;;
        5) xdotool mousedown 3 && sleep 0.05 && xdotool mouseup 3 ;;
        esac
        events=$((events + 1))
    done
    # The robot commands keep it animating now and then, so frames go on being rendered.
    xdotool key c
    now=$(rss)
    [ -n "$now" ] && samples+=("$now")
    sleep 0.5
done

count=${#samples[@]}
[ "$count" -ge 10 ] || fail "too few memory samples ($count)"
# The random keys reach the deepest traces, the most samples and anti-aliasing at random times, and
# each first visit touches stack and buffers once; how many frames a loaded machine renders before
# that is not ours to choose. A leak goes on growing, so the second half's peak is held to the
# first half's. A worker writes a generator table of its own (256 KiB) only once it has drawn a
# table's worth of samples, which may happen late for some of the 16 buckets: that much is allowed.
# Memory is judged only on a long run: in a short one on a loaded machine the warm-up's frames may
# still be pending when the samples start, and their one-time growth then looks like a leak.
half=$((count / 2))
early=$(printf '%s\n' "${samples[@]:0:$half}" | sort -n | tail -n 1)
peak=$(printf '%s\n' "${samples[@]:$half}" | sort -n | tail -n 1)
if [ "$seconds" -ge "$memory_check_seconds" ]; then
    awk -v a="$early" -v b="$peak" 'BEGIN { exit !(b <= a * 1.05 + 16 * 256) }' ||
        fail "resident memory grew from $early KiB to $peak KiB during the soak"
fi
echo "soak: $events events over $seconds s; memory at most $early KiB in the first half, $peak KiB in the second"

# The viewer still answers: Escape ends it with status 0.
xdotool key Escape
for _ in $(seq 100); do
    alive || break
    sleep 0.1
done
alive && fail "the viewer did not end on Escape after the soak"
wait "$viewer_pid"
status=$?
viewer_pid=
[ "$status" -eq 0 ] || fail "the viewer exited with status $status after Escape"
echo "PASS"
