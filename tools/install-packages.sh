#!/usr/bin/env bash
# Installs the Debian 12 packages Lumenbox builds, runs and tests with, skipping those already present.
# Arguments name further packages that only some commands need (ccache, the peer library).
# Usage: tools/install-packages.sh [PACKAGE...]
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libboost-thread-dev freeglut3-dev libgl-dev libgl1-mesa-dri libpng-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libassimp-dev libstb-dev assimp-testmodels
    xvfb xauth xdotool imagemagick
    clang libclang-rt-14-dev
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
