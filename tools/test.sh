#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test: the suite (unit, picture,
# window, short soak and bad-input corpus tests), then the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer with animated frames under ThreadSanitizer, then each fuzzer for about
# a minute. `ctest --test-dir build -LE long` alone reruns the suite; tools/soak.sh runs the long soaks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
build=${LUMENBOX_BUILD_DIR:-$root/build}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -LE long
"$root/tools/sanitize.sh"
"$root/tools/fuzz.sh"
