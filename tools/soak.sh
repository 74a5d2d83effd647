#!/usr/bin/env bash
# The long soaks, which the regular suite runs only in short form: 20,000 animated frames with flat
# memory, and three minutes of random input on the real window. About five minutes on two cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
ctest --test-dir "${LUMENBOX_BUILD_DIR:-$root/build}" --output-on-failure -j "$(nproc)" -L long
