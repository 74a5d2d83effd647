#!/usr/bin/env bash
# Seeded-fault check of the test suite: applies each one-line fault of tools/seeded-faults.txt in turn
# to a clean copy of a revision, builds it and runs the suite, and prints which tests catch it. A fault
# that no test catches is a hole in the suite; after any change that rewrites or removes tests, every
# fault caught before must still be caught.
#
# Usage: tools/seeded-faults.sh [--rev REV] [--only REGEX] [--list FILE] [--results FILE]
#   --rev REV       the revision whose code and tests are checked (default HEAD); "worktree" takes
#                   the files of the working tree as they are, committed or not
#   --only REGEX    only the faults whose id matches
#   --list FILE     another list of faults, in the same form
#   --results FILE  also write "id<TAB>catching tests" lines, for comparing two suites
# The unit tests run first, in one process per core; the program tests (headless renderer, corpus,
# window, short soaks, fuzz regressions) run only when no unit test catches the fault. The copy and its
# build stay in $LUMENBOX_FAULTS_DIR (default /tmp/lumenbox-faults); ccache keeps the rebuilds short
# (every fault's copy is fresh, so without it each would build everything).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tools/seeded-faults.txt
rev=HEAD
only=.
results=
while [ $# -gt 0 ]; do
    case $1 in
    --rev) rev=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --list) list=$(realpath -m "$2"); shift 2 ;;
    --results) results=$(realpath -m "$2"); shift 2 ;;
    *) echo "usage: $0 [--rev REV] [--only REGEX] [--list FILE] [--results FILE]" >&2; exit 2 ;;
    esac
done

work=${LUMENBOX_FAULTS_DIR:-/tmp/lumenbox-faults}
src=$work/src
build=$work/build
jobs=$(nproc)
# A fault that makes a test spin is caught by this limit rather than waited for.
unit_limit=300

"$root/tools/install-packages.sh" ccache
rm -rf "$src"
mkdir -p "$src" "$build"
# -m: the copy's files are newer than every object of an earlier run, whose last fault is in them.
if [ "$rev" = worktree ]; then
    (cd "$root" && git ls-files -co --exclude-standard -z | tar -c --null --ignore-failed-read -T - 2>/dev/null) | tar -x -m -C "$src"
else
    git -C "$root" archive "$rev" | tar -x -m -C "$src"
fi
# Tests and fuzz seeds read ../shared/testdata beside the project, so the copy gets the same neighbour.
[ -d "$root/../shared" ] && ln -sfn "$(cd "$root/../shared" && pwd)" "$work/shared"
launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMENBOX_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null

# Prints the names of the failing unit tests, or "crash in X" / "hang in X" for a shard that died.
run_units() {
    local shard logs=()
    for ((shard = 0; shard < jobs; shard++)); do
        logs+=("$work/unit-$shard.log")
        (cd "$src" && GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$shard \
            timeout "$unit_limit" "$build/tests/lumenbox_tests" --gtest_brief=1 >"$work/unit-$shard.log" 2>&1
            echo $? >"$work/unit-$shard.status") &
    done
    wait
    for ((shard = 0; shard < jobs; shard++)); do
        local log=${logs[$shard]} status
        status=$(cat "$work/unit-$shard.status")
        sed -n 's/^\[  FAILED  \] \([^ ,]*\.[^ ,]*\)\( (.*)\)\?$/\1/p' "$log" | sort -u
        if [ "$status" -ne 0 ] && ! grep -q '^\[  FAILED  \]' "$log"; then
            local last
            last=$(sed -n 's/^\[ RUN      \] //p' "$log" | tail -n 1)
            if [ "$status" -eq 124 ]; then echo "hang in ${last:-lumenbox_tests}"; else echo "crash in ${last:-lumenbox_tests}"; fi
        fi
    done
}

# Prints the names of the failing program tests.
run_programs() {
    ctest --test-dir "$build" -j "$jobs" -LE 'unit|long' --timeout 300 >"$work/programs.log" 2>&1 || true
    sed -n '/^The following tests FAILED:/,$ s/^[[:space:]]*[0-9]* - \([^ ]*\) (.*)$/\1/p' "$work/programs.log"
}

catchers() {
    local caught
    caught=$(run_units)
    [ -n "$caught" ] || caught=$(run_programs)
    echo "$caught"
}

echo "== $rev: building the clean copy in $build"
cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1 || { tail -n 20 "$work/build.log"; exit 1; }
baseline=$(catchers)
if [ -n "$baseline" ]; then
    echo "the suite fails without any fault:" $baseline >&2
    exit 1
fi

[ -z "$results" ] || : >"$results"
total=0
missed=()
while IFS=$'\t' read -r -u 3 id path from to; do
    [[ -z $id || $id == \#* ]] && continue
    [[ $id =~ $only ]] || continue
    total=$((total + 1))
    file=$src/$path
    cp "$file" "$work/original"
    if ! FROM=$from TO=$to perl -0pi -e 'my $n = () = /\Q$ENV{FROM}\E/g; die "found $n times\n" if $n != 1;
            s/\Q$ENV{FROM}\E/$ENV{TO}/' "$file" 2>"$work/apply.log"; then
        echo "$id: cannot apply to $path: $(cat "$work/apply.log")" >&2
        exit 1
    fi
    if ! cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1; then
        cp "$work/original" "$file"
        echo "$id: does not build" >&2
        tail -n 20 "$work/build.log" >&2
        exit 1
    fi
    caught=$(catchers | tr '\n' ' ' | sed 's/ $//')
    cp "$work/original" "$file"
    if [ -n "$caught" ]; then
        echo "$id: caught by $caught"
    else
        echo "$id: NOT CAUGHT"
        missed+=("$id")
    fi
    [ -z "$results" ] || printf '%s\t%s\n' "$id" "${caught:--}" >>"$results"
done 3<"$list"

echo "$((total - ${#missed[@]})) of $total faults caught${missed:+; missed: ${missed[*]}}"
