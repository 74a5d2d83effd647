#!/usr/bin/env bash
# Builds the Release tree and runs the benchmarks on this machine: the peer benchmark (our kd-trees
# against Embree on the same rays, with the agreement check) and then every Google Benchmark. Installs
# what is missing, Embree included; nothing but the peer benchmark links Embree.
# Usage: tools/bench.sh [peer | micro | big] [Google Benchmark options]
#   big: the big-model figures alone, the load of each size in a process of its own (memory freed by an
#   earlier load would be reused unseen), then the frames and ray queries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LUMENBOX_BUILD_DIR:-$root/build}
which=all
case ${1:-} in
peer | micro | big) which=$1; shift ;;
esac
"$root/tools/install-packages.sh" libembree-dev
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMENBOX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
# Both read meshes/ from the project root, as the programs do.
cd "$root"
if [ "$which" = big ]; then
    for triangles in 10000 100000 1000000; do
        "$build/bench/lumenbox_bench" --benchmark_filter="BigModelLoad/$triangles/" "$@"
    done
    exec "$build/bench/lumenbox_bench" --benchmark_filter='BigModelFrame|BigModelNearestHits' "$@"
fi
if [ "$which" != micro ]; then
    "$build/bench/lumenbox-peer-bench"
fi
if [ "$which" != peer ]; then
    "$build/bench/lumenbox_bench" "$@"
fi
