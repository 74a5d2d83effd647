#!/usr/bin/env bash
# Long animated runs of lumenbox-render: many frames keep memory flat (the per-frame rebuild
# recycles its pool storage), and the same frame number gives the same picture on two runs.
# Usage: animation_soak_test.sh path/to/lumenbox-render [frames] [frames-to-repeat]
set -uo pipefail
render=${1:?usage: $0 path/to/lumenbox-render [frames] [frames-to-repeat]}
frames=${2:-20000}
repeat=${3:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null; }

# Resident memory is sampled four times a second; no sample of the second half of the run may exceed
# the highest of the first half, which holds start-up and thread creation however slow a loaded
# machine makes them, by more than 5 %.
"$render" x 16 16 4 3 2 0 0 --frames "$frames" --out "$work/long.ppm" &
pid=$!
samples=()
while kill -0 "$pid" 2>/dev/null; do
    now=$(rss_kib "$pid")
    [ -n "$now" ] && samples+=("$now")
    sleep 0.25
done
wait "$pid" || fail "the $frames-frame run exited with $?"
count=${#samples[@]}
[ "$count" -ge 10 ] || fail "the run was too short to judge its memory ($count samples)"
half=$((count / 2))
early=$(printf '%s\n' "${samples[@]:0:$half}" | sort -n | tail -n 1)
peak=$(printf '%s\n' "${samples[@]:$half}" | sort -n | tail -n 1)
awk -v a="$early" -v b="$peak" 'BEGIN { exit !(b <= a * 1.05) }' ||
    fail "resident memory grew from $early KiB to $peak KiB over $frames frames"
echo "memory: at most $early KiB in the first half, at most $peak KiB in the second, over $frames frames ($count samples)"

# Two runs to the same frame render the same picture, bit for bit.
"$render" x 32 16 4 3 2 0 0 --frames "$repeat" --out "$work/a.ppm" || fail "first $repeat-frame run failed"
"$render" x 32 16 4 3 2 0 0 --frames "$repeat" --out "$work/b.ppm" || fail "second $repeat-frame run failed"
cmp -s "$work/a.ppm" "$work/b.ppm" || fail "two runs to frame $repeat differ"
echo "PASS"
