#!/usr/bin/env bash
# Renders every case of tests/reference/cases with lumenbox-render and checks it two ways. The digest
# of every frame's float buffer must equal the committed <name>.digests exactly: a change made for
# speed keeps every frame bit for bit. The last frame must also look like the committed <name>.png,
# which says what is wrong when the digests differ: a case fails there when more than 0.1 % of its
# pixels differ by more than 1 %. LUMENBOX_UPDATE_REFERENCES=1 rewrites both after a deliberate change
# of the picture.
# Usage: reference_images_test.sh path/to/lumenbox-render PROJECT_ROOT
set -uo pipefail
render=$(readlink -f "${1:?usage: $0 path/to/lumenbox-render PROJECT_ROOT}")
root=${2:?usage: $0 path/to/lumenbox-render PROJECT_ROOT}
references=$root/tests/reference
work=$(mktemp -d "${TMPDIR:-/tmp}/lumenbox-reference.XXXXXX")
cd "$root" || exit 1

failed=0
while IFS=$'\t' read -r -u 3 name arguments; do
    [[ -z $name || $name == \#* ]] && continue
    expected=$references/$name.png
    # Word splitting of the arguments is wanted: no case quotes anything.
    # shellcheck disable=SC2086
    if ! "$render" $arguments --digest --out "$work/$name.png" >"$work/$name.digests" 2>"$work/$name.log"; then
        echo "FAIL $name: lumenbox-render $arguments: $(cat "$work/$name.log")"
        failed=1
        continue
    fi
    if [ "${LUMENBOX_UPDATE_REFERENCES:-}" = 1 ]; then
        cp "$work/$name.png" "$expected"
        cp "$work/$name.digests" "$references/$name.digests"
        echo "wrote $expected and $name.digests"
        continue
    fi
    if ! cmp -s "$references/$name.digests" "$work/$name.digests"; then
        echo "FAIL $name: frames differ from $references/$name.digests (lumenbox-render $arguments):"
        diff "$references/$name.digests" "$work/$name.digests" | head -n 6
        failed=1
    fi
    size=$(identify -format '%w %h' "$expected" 2>/dev/null) || { echo "FAIL $name: cannot read $expected"; failed=1; continue; }
    differing=$(compare -metric AE -fuzz 1% "$expected" "$work/$name.png" "$work/$name-difference.png" 2>&1)
    if ! awk -v d="$differing" -v s="$size" 'BEGIN { split(s, wh, " "); exit !(d + 0 == d && d <= 0.001 * wh[1] * wh[2]) }'; then
        echo "FAIL $name: $differing pixels differ from $expected (lumenbox-render $arguments);" \
            "picture and difference kept in $work"
        failed=1
    fi
done 3<"$references/cases"
[ "$failed" -eq 0 ] && rm -rf "$work" && echo PASS
exit "$failed"
