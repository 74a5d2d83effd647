#!/usr/bin/env bash
# Runs every case of the bad-input corpus: a copy of the project's meshes/ with the case's files put in
# (after deleting those its `remove` lists), the renderer run there with the case's `args`, and the
# exit status and the one line of output compared with the case's `expected`:
#   line 1  exit status
#   line 2  the exact line printed, or empty when nothing may be printed
#   line 3  the stream it goes to, stderr or stdout; the other stream must stay empty
# Usage: run-corpus.sh path/to/lumenbox-render PROJECT_ROOT
set -uo pipefail

render=${1:?usage: $0 path/to/lumenbox-render PROJECT_ROOT}
root=${2:?usage: $0 path/to/lumenbox-render PROJECT_ROOT}
render=$(cd "$(dirname "$render")" && pwd)/$(basename "$render")
corpus=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
default_args='x 16 16 4 3 2 0 0'

[ -x "$render" ] || { echo "FAIL: $render is not an executable" >&2; exit 1; }
[ -d "$root/meshes" ] || { echo "FAIL: $root has no meshes/ folder" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/lumenbox-corpus.XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
failures=()
newline=$'\n'

# Prints the exact bytes of a file as one quoted line, so that a missing newline or a second line shows.
shown() {
    local text
    text=$(cat "$1"; printf x)
    printf '%q' "${text%x}"
}

fail_case() {
    failed=$((failed + 1))
    failures+=("$1")
    echo "FAIL $1: $2"
}

for case_dir in "$corpus"/*/; do
    case_dir=${case_dir%/}
    name=$(basename "$case_dir")
    if [ ! -f "$case_dir/expected" ]; then
        fail_case "$name" "no expected file"
        continue
    fi
    mapfile -t expected <"$case_dir/expected"
    want_status=${expected[0]:-}
    want_line=${expected[1]:-}
    want_stream=${expected[2]:-}
    if ! [[ $want_status =~ ^[0-9]+$ ]] || { [ -n "$want_line" ] && [[ $want_stream != stderr && $want_stream != stdout ]]; }; then
        fail_case "$name" "malformed expected file"
        continue
    fi

    run="$work/$name"
    mkdir -p "$run"
    cp -R "$root/meshes" "$run/meshes"
    if [ -f "$case_dir/remove" ]; then
        while IFS= read -r file || [ -n "$file" ]; do
            [ -n "$file" ] && rm -rf "$run/meshes/$file"
        done <"$case_dir/remove"
    fi
    if [ -d "$case_dir/meshes" ]; then
        cp -R "$case_dir/meshes/." "$run/meshes/"
    fi
    args=$default_args
    [ -f "$case_dir/args" ] && args=$(cat "$case_dir/args")

    # Word splitting of the args is wanted: one argument per word.
    # shellcheck disable=SC2086
    (cd "$run" && exec timeout 60 "$render" $args) </dev/null >"$run.out" 2>"$run.err"
    status=$?

    if [ "$status" -eq 124 ]; then
        fail_case "$name" "did not finish within 60 s"
        continue
    fi
    if [ "$status" -ne "$want_status" ]; then
        fail_case "$name" "exit status $status, expected $want_status; stdout $(shown "$run.out"), stderr $(shown "$run.err")"
        continue
    fi
    if [ -z "$want_line" ]; then
        if [ -s "$run.out" ] || [ -s "$run.err" ]; then
            fail_case "$name" "expected no output; stdout $(shown "$run.out"), stderr $(shown "$run.err")"
            continue
        fi
    else
        if [ "$want_stream" = stderr ]; then used="$run.err"; other="$run.out"; else used="$run.out"; other="$run.err"; fi
        if [ "$(cat "$used"; printf x)" != "$want_line${newline}x" ]; then
            fail_case "$name" "$want_stream is $(shown "$used"), expected $(printf '%q' "$want_line$newline")"
            continue
        fi
        if [ -s "$other" ]; then
            fail_case "$name" "unexpected output on the other stream: $(shown "$other")"
            continue
        fi
    fi
    passed=$((passed + 1))
    echo "ok   $name"
    rm -rf "$run" "$run.out" "$run.err"
done

echo "$passed passed, $failed failed of $((passed + failed)) cases"
if [ "$failed" -ne 0 ]; then
    printf 'failed: %s\n' "${failures[*]}"
    exit 1
fi
