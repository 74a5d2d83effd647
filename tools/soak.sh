#!/usr/bin/env bash
# The long soaks, which the regular suite runs only in short form: 3,000 animated frames with one
# worker and again with 64, with flat memory, and three minutes of random input on the real window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
ctest --test-dir "${LUMENBOX_BUILD_DIR:-$root/build}" --output-on-failure -j "$(nproc)" -L long
