#!/usr/bin/env bash
# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer, and animated headless frames
# under ThreadSanitizer: the counter hand-off between the driver and the workers is the whole
# locking scheme, so a race anywhere would show there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

asan="$root/build-asan"
cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENBOX_BUILD_VIEWER=OFF -DLUMENBOX_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
    >/dev/null
cmake --build "$asan" -j "$jobs"
# The soak's 20,000 frames run in the plain build; here a sanitized run of the rest is enough.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 LUMENBOX_SANITIZED=1 \
    ctest --test-dir "$asan" --output-on-failure -j "$jobs" -E 'AnimationSoak'

tsan="$root/build-tsan"
cmake -S "$root" -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENBOX_BUILD_VIEWER=OFF -DLUMENBOX_BUILD_BENCH=OFF \
    -DLUMENBOX_BUILD_TESTS=OFF -DLUMENBOX_BUILD_TOOLS=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" >/dev/null
cmake --build "$tsan" -j "$jobs" --target lumenbox-render
# 64 buckets of 8 pixels race through 40 animated frames with every light and reflection setting
# changed between runs by the keys.
cd "$root"
TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$tsan/lumenbox-render" x 64 8 4 3 2 0 0 --frames 40 --keys 'oj+l]'
TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$tsan/lumenbox-render" x 64 8 4 3 2 1 1 --frames 20 --keys 'cgbv'
echo "sanitizers: clean"
