#!/usr/bin/env bash
# Installs what is missing, builds, and starts the viewer with the given arguments. Without a display
# it renders one frame headless to lumenbox.png instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-packages.sh"
"$root/tools/build.sh"
build=${LUMENBOX_BUILD_DIR:-$root/build}
cd "$root"
if [ -z "${DISPLAY:-}" ]; then
    echo "No display (DISPLAY is not set): rendering one frame to lumenbox.png with lumenbox-render instead."
    exec "$build/lumenbox-render" "$@" --out lumenbox.png
fi
exec "$build/lumenbox" "$@"
