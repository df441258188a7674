#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test and run its demo, and those
# named as arguments (scripts/windows.sh names its own). Usage: scripts/setup.sh [package...]
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-private-dev qtbase5-dev-tools libzip-dev zlib1g-dev
    libcpp-httplib-dev libssl-dev openssl nginx libsodium-dev libzstd-dev libdivsufsort-dev
    xvfb xauth imagemagick fonts-wqy-microhei time bc curl unzip python3
    clang libclang-rt-dev
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
# An index that fails to download (a mirror in the middle of a sync, say of an architecture added
# for scripts/wine32.sh) fails "apt-get update"; the install goes on with the lists there are,
# and fails by itself when they lack a package.
"${sudo[@]}" apt-get update -qq || echo "setup.sh: apt-get update reported the errors above; installing with the lists there are"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
