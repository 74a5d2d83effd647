#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
build=${LUMENBOX_BUILD_DIR:-$root/build}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
