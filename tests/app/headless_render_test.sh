#!/usr/bin/env bash
# End-to-end check of lumenbox-render: the --stats lines, the PNG and PPM it writes, usage errors, --help,
# a missing scene and a scene directory copied elsewhere.
# Usage: headless_render_test.sh path/to/lumenbox-render
set -uo pipefail

render=$(readlink -f "${1:?usage: $0 path/to/lumenbox-render}")
size=64
scene_args=(x "$size" 16 16 6 8 0 0)

# ImageMagick reads the images; the test command installs it.
for tool in identify convert compare od awk; do
    command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: missing $tool (tools/install-packages.sh installs it)"; exit 1; }
done

source "$(dirname "${BASH_SOURCE[0]}")/scratch-dir.sh" render-test

"$render" "${scene_args[@]}" --frames 3 --stats --out "$work/f.png" >"$work/stats.out" 2>"$work/stats.err"
status=$?
[ "$status" -eq 0 ] || fail "--frames 3 --stats --out f.png exited with $status: $(cat "$work/stats.err")"
[ ! -s "$work/stats.err" ] || fail "unexpected output on stderr: $(cat "$work/stats.err")"

mapfile -t lines <"$work/stats.out"
[ "${#lines[@]}" -eq 4 ] || fail "expected 4 lines of statistics, got ${#lines[@]}: $(cat "$work/stats.out")"
times=()
rates=()
for i in 0 1 2; do
    frame_pattern="^frame $((i + 1)): ([0-9]+\.[0-9]) ms, ([0-9]+) rays, ([0-9]+\.[0-9]{2}) Mrays/s\$"
    [[ ${lines[$i]} =~ $frame_pattern ]] || fail "line $((i + 1)) is not a frame line: \"${lines[$i]}\""
    times+=("${BASH_REMATCH[1]}")
    rates+=("${BASH_REMATCH[3]}")
    # Every pixel casts at least its primary ray.
    [ "${BASH_REMATCH[2]}" -ge $((size * size)) ] ||
        fail "frame $((i + 1)) counts ${BASH_REMATCH[2]} rays, fewer than the $((size * size)) pixels"
done
median_pattern='^median: ([0-9]+\.[0-9]) ms, ([0-9]+\.[0-9]{2}) Mrays/s over 3 frames$'
[[ ${lines[3]} =~ $median_pattern ]] || fail "line 4 is not the median line: \"${lines[3]}\""
# Of three values the median is the middle one, printed exactly as in its frame line.
middle() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
[ "${BASH_REMATCH[1]}" = "$(middle "${times[@]}")" ] ||
    fail "median time ${BASH_REMATCH[1]} is not the middle of ${times[*]}"
[ "${BASH_REMATCH[2]}" = "$(middle "${rates[@]}")" ] ||
    fail "median rate ${BASH_REMATCH[2]} is not the middle of ${rates[*]}"

[ -s "$work/f.png" ] || fail "no PNG written"
geometry=$(identify -format '%m %wx%h' "$work/f.png") || fail "identify cannot read the PNG"
[ "$geometry" = "PNG ${size}x${size}" ] || fail "the PNG is \"$geometry\", expected PNG ${size}x${size}"
# The frame is a lit image, not an empty buffer.
lit=$(convert "$work/f.png" -channel RGB -separate -evaluate-sequence max -threshold 5% -format '%[fx:mean]' info:)
awk -v f="$lit" 'BEGIN { exit !(f > 0.95) }' || fail "only $lit of the PNG is lit (expected > 0.95)"

"$render" "${scene_args[@]}" --frames 3 --out "$work/f.ppm" >"$work/ppm.out" 2>&1 ||
    fail "--out f.ppm failed: $(cat "$work/ppm.out")"
[ ! -s "$work/ppm.out" ] || fail "output without --stats: $(cat "$work/ppm.out")"
header=$(printf 'P6\n%d %d\n255\n' "$size" "$size")
header_bytes=$((${#header} + 1)) # the command substitution dropped the final newline
[ "$(head -c "$header_bytes" "$work/f.ppm" | od -An -c)" = "$(printf '%s\n' "$header" | od -An -c)" ] ||
    fail "the PPM header is not P6 $size $size 255: $(head -c "$header_bytes" "$work/f.ppm" | od -An -c)"
bytes=$(stat -c %s "$work/f.ppm")
[ "$bytes" -eq $((header_bytes + size * size * 3)) ] ||
    fail "the PPM has $bytes bytes, expected $header_bytes of header and $((size * size * 3)) of pixels"
# Rendering is deterministic, so both formats must hold the same pixels, rows in the same order.
differing=$(compare -metric AE "$work/f.png" "$work/f.ppm" null: 2>&1)
[ "$differing" = 0 ] || fail "the PNG and the PPM differ in $differing pixels"

"$render" x 0 >"$work/zero.out" 2>"$work/zero.err"
status=$?
[ "$status" -eq 2 ] || fail "size 0 exited with $status, expected 2"
[ "$(wc -l <"$work/zero.err")" -eq 1 ] || fail "size 0 should print one line on stderr, got: $(cat "$work/zero.err")"
[ ! -s "$work/zero.out" ] || fail "size 0 printed on stdout: $(cat "$work/zero.out")"

"$render" --help >"$work/help.out" 2>"$work/help.err"
status=$?
[ "$status" -eq 0 ] || fail "--help exited with $status"
grep -q '^Usage: ' "$work/help.out" || fail "--help printed no usage: $(cat "$work/help.out")"

# Without its scene folder the renderer names the missing file in one line and fails.
(cd "$work" && "$render" x 16 >"$work/missing.out" 2>"$work/missing.err")
status=$?
[ "$status" -eq 1 ] || fail "a missing scene exited with $status, expected 1"
[ "$(cat "$work/missing.err")" = "Error reading file meshes/scene.obj" ] ||
    fail "a missing scene printed: $(cat "$work/missing.err")"

# A copy of the scene directory, read through --meshes from another working directory (whose own
# meshes/ does not exist), renders the same frame: the textures the MTL file names as meshes/... are
# found in the copy. The dot in the copy's name must not be taken for the models' extension.
cp -R meshes "$work/copy.of.meshes" && mkdir "$work/elsewhere" || fail "cannot copy meshes/ into $work"
"$render" x 32 --digest >"$work/here.out" 2>&1 || fail "the shipped scene failed: $(cat "$work/here.out")"
(cd "$work/elsewhere" && "$render" x 32 --digest --meshes "$work/copy.of.meshes" >"$work/copy.out" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "--meshes with a copied scene exited with $status: $(cat "$work/copy.out")"
[ "$(cat "$work/copy.out")" = "$(cat "$work/here.out")" ] ||
    fail "the copied scene gave \"$(cat "$work/copy.out")\", the shipped one \"$(cat "$work/here.out")\""

# A directory without the scene is named in the one line, with the file within it.
"$render" x 16 --meshes="$work/absent" >"$work/absent.out" 2>"$work/absent.err"
status=$?
[ "$status" -eq 1 ] || fail "a missing --meshes directory exited with $status, expected 1"
[ ! -s "$work/absent.out" ] || fail "a missing --meshes directory printed on stdout: $(cat "$work/absent.out")"
[ "$(cat "$work/absent.err")" = "Error reading file $work/absent/scene.obj" ] ||
    fail "a missing --meshes directory printed: $(cat "$work/absent.err")"

# Keys at a frame act just before it: frame 1 as without them, then as --keys from the start would.
digests() { "$render" x 32 --frames 3 --digest "$@" | cut -d' ' -f4 | tr '\n' ' '; }
read -r -a plain <<<"$(digests)"
read -r -a at_two <<<"$(digests --keys-at 2:o)"
read -r -a at_one <<<"$(digests --keys-at 1:o)"
read -r -a from_start <<<"$(digests --keys o)"
[ "${#plain[@]}" -eq 3 ] || fail "--digest printed ${#plain[@]} digests for 3 frames"
[ "${at_two[0]}" = "${plain[0]}" ] || fail "--keys-at 2:o changed frame 1"
[ "${at_two[1]}" != "${plain[1]}" ] || fail "--keys-at 2:o left frame 2 as it was"
[ "${at_one[*]}" = "${from_start[*]}" ] || fail "--keys-at 1:o differs from --keys o"

echo "PASS"
