#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz/ and runs each from its kept corpus (tests/fuzz/corpus/TARGET) and its regressions, with
# the files of meshes/ and ../shared/testdata/ read by path as further seeds.
#
#   tools/fuzz.sh                     each target for LUMENBOX_FUZZ_SECONDS (default 60); what the run
#                                     finds stays in build-fuzz/, the repository is not written
#   tools/fuzz.sh --minutes N [--merge] [TARGET...]
#   tools/fuzz.sh --runs N [--merge] [TARGET...]
#                                     a campaign of N minutes or N executions per target; --merge then
#                                     minimizes the kept corpus together with what the run found
#                                     (libFuzzer -merge=1) and writes it back to tests/fuzz/corpus/
#
# Prints executions, executions a second and libFuzzer's coverage (cov: edges, ft: features) at the
# start and the end of each run. Exits non-zero when any target crashes, hangs, leaks or runs out of
# memory, naming the input that did it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
# Outside the repository: not every file there may be redistributed, so it is only read, and nothing
# that shares a stretch of bytes with it is kept (tools/fuzz-corpus-filter.py).
testdata=$root/../shared/testdata
all_targets=(FuzzObjReader FuzzTgaReader FuzzMilkShapeReader FuzzCommandLine)

limit=(-max_total_time="${LUMENBOX_FUZZ_SECONDS:-60}")
merge=0
targets=()
while [ $# -gt 0 ]; do
    case $1 in
        --minutes) limit=(-max_total_time="$((${2:?--minutes needs a number} * 60))"); shift 2 ;;
        --runs) limit=(-runs="${2:?--runs needs a number}"); shift 2 ;;
        --merge) merge=1; shift ;;
        Fuzz*) targets+=("$1"); shift ;;
        *) echo "usage: $0 [--minutes N | --runs N] [--merge] [TARGET...]" >&2; exit 2 ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

"$root/tools/install-packages.sh" python3
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENBOX_FUZZ=ON \
    -DLUMENBOX_BUILD_VIEWER=OFF -DLUMENBOX_BUILD_BENCH=OFF -DLUMENBOX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

# The longest input each target is given. Text formats show every construct within 4 KiB, and shorter
# inputs run faster; the binary formats keep whole small models and images.
max_len() {
    case $1 in
        FuzzObjReader) echo 4096 ;;
        FuzzCommandLine) echo 1024 ;;
        *) echo 65536 ;;
    esac
}

# Copies the files matching the patterns that exist into a directory.
seed() {
    local directory=$1
    shift
    local pattern file
    for pattern in "$@"; do
        for file in $pattern; do
            if [ -f "$file" ]; then
                cp "$file" "$directory/"
            fi
        done
    done
}

# The kept corpus's coverage line at start-up and the last one, as "cov: A ft: B".
coverage() {
    grep -E "$1" "$2" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || echo "cov: ? ft: ?"
}

failed=()
report=()
for target in "${targets[@]}"; do
    fuzzer=$build/tests/fuzz/$target
    corpus=$build/corpus/$target
    seeds=$build/seeds/$target
    artifacts=$build/artifacts/$target
    log=$build/logs/$target.log
    kept=$root/tests/fuzz/corpus/$target
    rm -rf "$corpus" "$seeds"
    mkdir -p "$corpus" "$seeds" "$artifacts" "$kept" "$(dirname "$log")"
    cp -R "$kept/." "$corpus/"
    case $target in
        FuzzObjReader) seed "$seeds" "$root/meshes/*.obj" "$root/meshes/*.mtl" "$testdata/obj/*" ;;
        FuzzTgaReader) seed "$seeds" "$root/meshes/*.tga" "$testdata/tga/*" ;;
        FuzzMilkShapeReader) seed "$seeds" "$root/meshes/*.ms3d" "$testdata/ms3d/*.ms3d" ;;
    esac
    if [ ! -d "$testdata" ] && [ "$target" != FuzzCommandLine ]; then
        echo "warning: $testdata is missing; $target starts from the project's own files only" >&2
    fi

    echo "== $target: ${limit[*]}, max_len $(max_len "$target"), $(ls "$corpus" | wc -l) kept inputs"
    status=0
    # New inputs go to the first directory only. Seeds longer than max_len are cut to it.
    start=$(date +%s)
    "$fuzzer" "${limit[@]}" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
        -artifact_prefix="$artifacts/" "$corpus" "$root/tests/fuzz/regressions/$target" "$seeds" >"$log" 2>&1 ||
        status=$?
    seconds=$(($(date +%s) - start))
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    report+=("$(printf '%-20s %12s %8s %6s s   start %-20s end %s' "$target" "${executions:-?}" "${rate:-?}" \
        "$seconds" "$(coverage 'INITED' "$log")" "$(coverage 'cov: ' "$log")")")
    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        echo "$target FAILED (status $status); log: $log" >&2
        grep -E '^==[0-9]+==ERROR|runtime error|^SUMMARY|deadly signal|ALARM|out-of-memory|leak' "$log" | head -n 5 >&2 || true
        grep -E 'Test unit written to' "$log" | sed 's/^.*Test unit written to /  artifact: /' >&2 || true
        echo "  copy the artifact into tests/fuzz/regressions/$target/, named after what it found" >&2
        continue
    fi

    if [ "$merge" -eq 1 ]; then
        merged=$build/merged/$target
        rm -rf "$merged"
        mkdir -p "$merged"
        "$fuzzer" -merge=1 -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
            "$merged" "$kept" "$corpus" >>"$log" 2>&1
        python3 "$root/tools/fuzz-corpus-filter.py" "$merged" "$testdata"
        rm -rf "$kept"
        mkdir -p "$kept"
        # Files are named by the SHA-1 of their bytes, so a merge keeps the names of inputs it keeps.
        cp "$merged"/* "$kept/" 2>/dev/null || true
        echo "$target: $(ls "$kept" | wc -l) inputs, $(du -sk --apparent-size "$kept" | cut -f1) KiB kept in tests/fuzz/corpus/$target"
    fi
done

echo
echo "target                 executions   exec/s   time   coverage"
printf '%s\n' "${report[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "Findings in: ${failed[*]}" >&2
    exit 1
fi
echo "No findings."
