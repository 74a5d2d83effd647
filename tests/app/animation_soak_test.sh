#!/usr/bin/env bash
# Long animated runs of lumenbox-render: many frames keep memory flat (the per-frame rebuild
# recycles its pool storage), many workers hold little more than one (they share their generator
# tables), and the same frame number gives the same picture on two runs.
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

# Renders frames frames at 128 x 128 in buckets of side $1, sampling resident memory four times a
# second into samples.
run_sampled() {
    "$render" x 128 "$1" 4 3 8 0 0 --frames "$frames" --out "$work/long.ppm" &
    local pid=$!
    samples=()
    while kill -0 "$pid" 2>/dev/null; do
        local now
        now=$(rss_kib "$pid")
        [ -n "$now" ] && samples+=("$now")
        sleep 0.25
    done
    wait "$pid" || fail "the $frames-frame run in $1-pixel buckets exited with $?"
    [ "${#samples[@]}" -ge 10 ] || fail "the run was too short to judge its memory (${#samples[@]} samples)"
}

highest() { printf '%s\n' "$@" | sort -n | tail -n 1; }

# One worker draws the whole picture; 64 workers must hold no more than 5 % and 64 KiB a worker beyond
# it, so that what each worker comes to keep for itself (a generator table is 256 KiB) shows.
run_sampled 128
single=$(highest "${samples[@]}")
run_sampled 16
# No sample of the second half of the run may exceed the highest of the first half, which holds
# start-up and thread creation however slow a loaded machine makes them, by more than 5 %.
count=${#samples[@]}
half=$((count / 2))
early=$(highest "${samples[@]:0:$half}")
peak=$(highest "${samples[@]:$half}")
awk -v a="$early" -v b="$peak" 'BEGIN { exit !(b <= a * 1.05) }' ||
    fail "resident memory grew from $early KiB to $peak KiB over $frames frames"
most=$(highest "$early" "$peak")
# Each worker has a fixed cost of its own, its thread's stack pages and its scratch, some tens of KiB;
# a generator table a worker keeps for itself is 256 KiB, and the first of those the old generator
# took already passed this allowance.
allowance=$((63 * 64))
awk -v a="$single" -v b="$most" -v w="$allowance" 'BEGIN { exit !(b <= a * 1.05 + w) }' ||
    fail "64 workers held $most KiB, one worker $single KiB, over $frames frames"
echo "memory: one worker at most $single KiB; 64 workers at most $early KiB in the first half, at most $peak KiB in the second, over $frames frames ($count samples)"

# Two runs to the same frame render the same picture, bit for bit.
"$render" x 32 16 4 3 2 0 0 --frames "$repeat" --out "$work/a.ppm" || fail "first $repeat-frame run failed"
"$render" x 32 16 4 3 2 0 0 --frames "$repeat" --out "$work/b.ppm" || fail "second $repeat-frame run failed"
cmp -s "$work/a.ppm" "$work/b.ppm" || fail "two runs to frame $repeat differ"
echo "PASS"
