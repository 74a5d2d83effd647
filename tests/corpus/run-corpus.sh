#!/usr/bin/env bash
# Runs every case of the bad-input corpus: a copy of the project's meshes/ with the case's files put in
# (after deleting those its `remove` lists), the renderer run there with the case's `args`, and the
# exit status and the one line of output compared with the case's `expected`:
#   line 1  exit status
#   line 2  the exact line printed, or empty when nothing may be printed
#   line 3  the stream it goes to, stderr or stdout; the other stream must stay empty
# A case with a `program` file naming lumenbox-import runs the importer instead, with the same args;
# one with an `unsanitized-only` file is skipped when LUMENBOX_SANITIZED is set.
# Usage: run-corpus.sh path/to/lumenbox-render PROJECT_ROOT [path/to/lumenbox-import]
set -uo pipefail

render=${1:?usage: $0 path/to/lumenbox-render PROJECT_ROOT [path/to/lumenbox-import]}
root=${2:?usage: $0 path/to/lumenbox-render PROJECT_ROOT [path/to/lumenbox-import]}
importer=${3:-}
render=$(cd "$(dirname "$render")" && pwd)/$(basename "$render")
[ -z "$importer" ] || importer=$(cd "$(dirname "$importer")" && pwd)/$(basename "$importer")
corpus=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
default_args='x 16 16 4 3 2 0 0'

[ -x "$render" ] || { echo "FAIL: $render is not an executable" >&2; exit 1; }
[ -d "$root/meshes" ] || { echo "FAIL: $root has no meshes/ folder" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/lumenbox-corpus.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Prints the exact bytes of a file as one quoted line, so that a missing newline or a second line shows.
shown() {
    local text
    text=$(cat "$1"; printf x)
    printf '%q' "${text%x}"
}

# Runs one case in its own copy of meshes/ and prints "ok NAME" or "FAIL NAME: why".
run_case() {
    local case_dir=$1 name run status expected used other args
    name=$(basename "$case_dir")
    [ -f "$case_dir/expected" ] || { echo "FAIL $name: no expected file"; return; }
    mapfile -t expected <"$case_dir/expected"
    local want_status=${expected[0]:-} want_line=${expected[1]:-} want_stream=${expected[2]:-}
    if ! [[ $want_status =~ ^[0-9]+$ ]] || { [ -n "$want_line" ] && [[ $want_stream != stderr && $want_stream != stdout ]]; }; then
        echo "FAIL $name: malformed expected file"
        return
    fi

    run="$work/$name"
    mkdir -p "$run"
    cp -R "$root/meshes" "$run/meshes"
    if [ -f "$case_dir/remove" ]; then
        while IFS= read -r file || [ -n "$file" ]; do
            [ -n "$file" ] && rm -rf "$run/meshes/$file"
        done <"$case_dir/remove"
    fi
    [ -d "$case_dir/meshes" ] && cp -R "$case_dir/meshes/." "$run/meshes/"
    args=$default_args
    [ -f "$case_dir/args" ] && args=$(cat "$case_dir/args")
    # A sanitizer maps more address space than a cap on it allows, so a program under one cannot
    # refuse a file that states more than memory holds before it fills the machine.
    if [ -f "$case_dir/unsanitized-only" ] && [ -n "${LUMENBOX_SANITIZED:-}" ]; then
        echo "ok   $name (skipped: sanitized build)"
        return
    fi
    local program=$render
    if [ "$(cat "$case_dir/program" 2>/dev/null)" = lumenbox-import ]; then
        [ -n "$importer" ] || { echo "ok   $name (skipped: no importer built)"; return; }
        program=$importer
    fi

    # Word splitting of the args is wanted: one argument per word.
    # shellcheck disable=SC2086
    (cd "$run" && exec timeout 60 "$program" $args) </dev/null >"$run.out" 2>"$run.err"
    status=$?

    if [ "$status" -eq 124 ]; then
        echo "FAIL $name: did not finish within 60 s"
    elif [ "$status" -ne "$want_status" ]; then
        echo "FAIL $name: exit status $status, expected $want_status; stdout $(shown "$run.out"), stderr $(shown "$run.err")"
    elif [ -z "$want_line" ]; then
        if [ -s "$run.out" ] || [ -s "$run.err" ]; then
            echo "FAIL $name: expected no output; stdout $(shown "$run.out"), stderr $(shown "$run.err")"
        else
            echo "ok   $name"
        fi
    else
        if [ "$want_stream" = stderr ]; then used="$run.err"; other="$run.out"; else used="$run.out"; other="$run.err"; fi
        if [ "$(cat "$used"; printf x)" != "$want_line"$'\n'x ]; then
            echo "FAIL $name: $want_stream is $(shown "$used"), expected $(printf '%q' "$want_line"$'\n')"
        elif [ -s "$other" ]; then
            echo "FAIL $name: unexpected output on the other stream: $(shown "$other")"
        else
            echo "ok   $name"
        fi
    fi
    rm -rf "$run" "$run.out" "$run.err"
}

# The cases are independent, so they run one per core, each printing into a file of its own.
mkdir -p "$work/results"
for case_dir in "$corpus"/*/; do
    case_dir=${case_dir%/}
    run_case "$case_dir" >"$work/results/$(basename "$case_dir")" &
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n; done
done
wait
cat "$work/results"/*
passed=$(cat "$work/results"/* | grep -c '^ok ')
failed=$(cat "$work/results"/* | grep -c '^FAIL ')
echo "$passed passed, $failed failed of $((passed + failed)) cases"
[ "$failed" -eq 0 ]
