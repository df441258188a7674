#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

bash scripts/setup.sh
bash scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$(nproc)"
# The runs of the Windows program under Wine, registered here once scripts/windows.sh has built
# it, are that script's.
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure --parallel "$(( $(nproc) * 2 ))" \
    --timeout 300 -LE wine
bash scripts/fuzz.sh
bash scripts/windows.sh "$build"
bash scripts/test-ratio.sh
