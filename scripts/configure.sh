#!/usr/bin/env bash
# Configures a build folder with CMake: a new one (or one made with Ninja) with Ninja, any other
# with the generator it was made with, which CMake refuses to change. So the scripts work on the
# build folder README's plain "cmake -S . -B build" makes.
# Usage: scripts/configure.sh <build-folder> [cmake-option...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
shift

generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
cmake -S . -B "$build" -G "${generator:-Ninja}" "$@"
