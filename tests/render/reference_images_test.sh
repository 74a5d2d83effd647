#!/usr/bin/env bash
# Renders every case of tests/reference/cases with lumenbox-render and compares it with the committed
# picture. Renders are deterministic, so the same build gives the same pixels; a later change may move
# a channel by a rounding step here and there (another valid float order), so a case fails only when
# more than 0.1 % of its pixels differ by more than 1 %. LUMENBOX_UPDATE_REFERENCES=1 rewrites the
# pictures after a deliberate change.
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
    if ! "$render" $arguments --out "$work/$name.png" >"$work/$name.log" 2>&1; then
        echo "FAIL $name: lumenbox-render $arguments: $(cat "$work/$name.log")"
        failed=1
        continue
    fi
    if [ "${LUMENBOX_UPDATE_REFERENCES:-}" = 1 ]; then
        cp "$work/$name.png" "$expected"
        echo "wrote $expected"
        continue
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
