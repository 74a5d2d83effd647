#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz/ and runs each for a bounded time (LUMENBOX_FUZZ_SECONDS, default 60). Exits non-zero when
# any target crashes, hangs, leaks or runs out of memory, naming the input that did it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${LUMENBOX_FUZZ_SECONDS:-60}
# Outside the repository: not every file there may be redistributed, so it is only read.
testdata=$root/../shared/testdata
targets=(FuzzObjReader FuzzTgaReader FuzzMilkShapeReader FuzzCommandLine)

"$root/tools/install-packages.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENBOX_FUZZ=ON \
    -DLUMENBOX_BUILD_VIEWER=OFF -DLUMENBOX_BUILD_BENCH=OFF -DLUMENBOX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

# Copies the files matching the patterns that exist into the corpus; a missing folder only warns.
seed() {
    local corpus=$1
    shift
    local pattern
    for pattern in "$@"; do
        local file
        for file in $pattern; do
            if [ -f "$file" ]; then
                cp "$file" "$corpus/"
            fi
        done
    done
}

seed_command_lines() {
    local corpus=$1
    printf 'lumenbox' >"$corpus/none"
    printf 'lumenbox\0x\0256' >"$corpus/size"
    printf 'lumenbox\0x\0512\00016\00016\0006\0008\0001\0001' >"$corpus/all-eight"
    printf 'lumenbox-render\0x\000256\00016\0--frames\00010\0--keys\0oj\0--stats\0--out\0frame.png' >"$corpus/headless"
    printf 'lumenbox-render\0--frames=3\0--keys=cgbvh\0--out=a.ppm' >"$corpus/options-with-equals"
    printf 'lumenbox\0--help' >"$corpus/help"
}

failed=()
declare -A executions
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/logs/$target.log
    rm -rf "$corpus"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    case $target in
        FuzzObjReader) seed "$corpus" "$root/meshes/*.obj" "$root/meshes/*.mtl" "$testdata/obj/*" ;;
        FuzzTgaReader) seed "$corpus" "$root/meshes/*.tga" "$testdata/tga/*" ;;
        FuzzMilkShapeReader) seed "$corpus" "$root/meshes/*.ms3d" "$testdata/ms3d/*" ;;
        FuzzCommandLine) seed_command_lines "$corpus" ;;
    esac
    if [ ! -d "$testdata" ] && [ "$target" != FuzzCommandLine ]; then
        echo "warning: $testdata is missing; $target starts from the project's own files only" >&2
    fi

    echo "== $target: $seconds s, corpus $corpus"
    status=0
    # The kept regressions seed the run too; new inputs go to the first directory only. Seeds longer
    # than max_len are cut: the large scene and model files would otherwise take most of the minute
    # (about a third of the executions), and their beginnings keep the structure.
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -max_len=65536 -artifact_prefix="$artifacts/" \
        "$corpus" "$root/tests/fuzz/regressions/$target" >"$log" 2>&1 || status=$?
    executions[$target]=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        echo "$target FAILED (status $status); log: $log" >&2
        grep -E '^==[0-9]+==ERROR|runtime error|^SUMMARY|deadly signal|ALARM|out-of-memory|leak' "$log" | head -n 5 >&2 || true
        grep -E 'Test unit written to' "$log" | sed 's/^.*Test unit written to /  artifact: /' >&2 || true
        echo "  copy the artifact into tests/fuzz/regressions/$target/, named after what it found" >&2
    fi
done

echo
echo "Executions (libFuzzer stat::number_of_executed_units, $seconds s per target):"
for target in "${targets[@]}"; do
    printf '  %-22s %s\n' "$target" "${executions[$target]:-unknown}"
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "Findings in: ${failed[*]}" >&2
    exit 1
fi
echo "No findings."
