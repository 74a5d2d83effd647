#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test: the suite (unit, picture,
# window, soak and bad-input corpus tests), then the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer with animated frames under ThreadSanitizer, then each fuzzer for about
# a minute. About half an hour on two cores; `ctest --test-dir build` alone reruns the suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
build=${LUMENBOX_BUILD_DIR:-$root/build}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
"$root/tools/sanitize.sh"
"$root/tools/fuzz.sh"
