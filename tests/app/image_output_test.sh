#!/usr/bin/env bash
# Pictures are whole or absent: lumenbox-render writes each image beside its target and renames it into
# place, so a write that fails part-way (a full disk, here a file size limit) leaves the earlier picture
# and no temporary file; devices are written in place. Also the numbered sequences of --out.
# Usage: image_output_test.sh path/to/lumenbox-render
set -uo pipefail

render=${1:?usage: $0 path/to/lumenbox-render}
source "$(dirname "${BASH_SOURCE[0]}")/scratch-dir.sh" output-test

# Runs the renderer with a file size limit of 2 KiB and SIGXFSZ ignored, so that a write past the limit
# fails with EFBIG as a full disk fails with ENOSPC.
render_limited() {
    (trap '' XFSZ && ulimit -f 2 && exec "$render" "$@")
}

# Expects status 1 and exactly the one line given on stderr, nothing on stdout.
expect_one_line() {
    local what=$1 line=$2 status=$3
    [ "$status" -eq 1 ] || fail "$what exited with $status, expected 1"
    [ "$(cat "$work/err")" = "$line" ] || fail "$what printed \"$(cat "$work/err")\", expected \"$line\""
    [ ! -s "$work/out" ] || fail "$what printed on stdout: $(cat "$work/out")"
}

mkdir "$work/seq" "$work/dir"
"$render" x 32 --frames 3 --out "$work/seq/%04d.png" >"$work/out" 2>"$work/err" || fail "the sequence: $(cat "$work/err")"
[ "$(ls -A "$work/seq" | tr '\n' ' ')" = "0001.png 0002.png 0003.png " ] ||
    fail "the sequence wrote: $(ls -A "$work/seq")"
"$render" x 32 --frames 1 --out "$work/first.png" || fail "a single frame could not be written"
"$render" x 32 --frames 3 --out "$work/last.png" || fail "a single frame could not be written"
cmp -s "$work/first.png" "$work/seq/0001.png" || fail "frame 1 of the sequence is not the one-frame picture"
cmp -s "$work/last.png" "$work/seq/0003.png" || fail "frame 3 of the sequence is not the last frame of three"

for format in png ppm; do
    target=$work/dir/picture.$format
    "$render" x 64 --out "$target" || fail "the first $format could not be written"
    chmod 640 "$target"
    cp -p "$target" "$work/earlier.$format"
    render_limited x 256 --out "$target" >"$work/out" 2>"$work/err"
    expect_one_line "a $format write failing part-way" "Error writing file $target: File too large" $?
    cmp -s "$target" "$work/earlier.$format" || fail "a failed $format write changed the earlier picture"
    [ "$(ls -A "$work/dir")" = "picture.$format" ] || fail "a failed write left: $(ls -A "$work/dir")"
    "$render" x 32 --out "$target" || fail "the $format could not be replaced"
    ! cmp -s "$target" "$work/earlier.$format" || fail "a successful write kept the earlier $format"
    [ "$(stat -c %a "$target")" = 640 ] || fail "the replaced $format lost its mode: $(stat -c %a "$target")"
    rm "$target"
done

# A new picture that fails part-way leaves nothing at all.
render_limited x 256 --out "$work/dir/new.png" >"$work/out" 2>"$work/err"
expect_one_line "a new picture failing part-way" "Error writing file $work/dir/new.png: File too large" $?
[ -z "$(ls -A "$work/dir")" ] || fail "a failed new picture left: $(ls -A "$work/dir")"

# A link keeps pointing at its picture, which is replaced.
"$render" x 16 --out "$work/dir/real.png" || fail "the linked picture could not be written"
ln -s real.png "$work/dir/link.png"
"$render" x 32 --out "$work/dir/link.png" || fail "writing through a link failed"
[ -L "$work/dir/link.png" ] || fail "writing through a link replaced the link"
[ "$(identify -format '%w' "$work/dir/real.png")" = 32 ] || fail "writing through a link missed its picture"

# A device is written in place and kept: a full device fails in one line.
"$render" x 16 --out /dev/full >"$work/out" 2>"$work/err"
expect_one_line "--out /dev/full" "Error writing file /dev/full: No space left on device" $?
[ -c /dev/full ] || fail "/dev/full is no longer a device"
"$render" x 16 --out /dev/stdout 2>"$work/err" | head -c 2 >"$work/out"
[ "$(cat "$work/out")" = P6 ] || fail "--out /dev/stdout did not write the picture to the pipe"

echo "PASS"
