#!/usr/bin/env bash
# Builds the Windows program with mingw-w64 against the static Qt 5 for Windows that lies in
# shared/toolchains beside the repository, and tests it under Wine:
#   build-windows/     64-bit program and test programs; the tests run under Wine, in the
#                      prefix build-windows/wine
#   build-windows-32/  the 32-bit program, the product's own bitness: compiled and linked only
# Then the Linux build given as argument (default: build) runs the 64-bit program under Wine
# against the update service.
# Usage: scripts/windows.sh [linux-build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
linux_build=${1:-build}
toolchains="$(dirname "$repo")/shared/toolchains"

# unpack <tarball> <folder it unpacks to> <build folder>
# Unpacks a toolchain tarball into the build folder once; the stamp file .unpacked tells.
unpack() {
    local tarball="$toolchains/$1" prefix="$3/$2"
    if [ ! -f "$tarball" ]; then
        echo "windows.sh: missing $tarball" >&2
        echo "  The toolchain tarballs are kept in shared/toolchains beside the repository." >&2
        exit 1
    fi
    if [ ! "$prefix/.unpacked" -nt "$tarball" ]; then
        rm -rf "$prefix"
        mkdir -p "$3"
        tar -xJf "$tarball" -C "$3"
        touch "$prefix/.unpacked"
    fi
}

# unpack_qt <tarball> <folder it unpacks to> <build folder>
# Unpacks a Qt for Windows with the qt.conf that lets its host tools find it wherever it lies.
unpack_qt() {
    unpack "$@"
    printf '[Paths]\nPrefix=..\n' >"$3/$2/bin/qt.conf"
}

# configure <build folder> <mingw-w64 target> <Qt folder in the build folder> [cmake options...]
# Qt, libzip and libsodium are found through the prefix path; libzip links mingw-w64's static
# zlib.
configure() {
    local build=$1 arch=$2 qt=$3 zip="libzip-1.7.3-mingw-w64-$2" sodium="libsodium-1.0.18-mingw-w64-$2"
    shift 3
    unpack "$zip.tar.xz" "$zip" "$build"
    unpack "$sodium.tar.xz" "$sodium" "$build"
    bash scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-w64.cmake" -DMINGW_ARCH="$arch" \
        -DCMAKE_PREFIX_PATH="$repo/$build/$qt;$repo/$build/$zip;$repo/$build/$sodium" \
        -DZLIB_LIBRARY="/usr/$arch-w64-mingw32/lib/libz.a" \
        -DZLIB_INCLUDE_DIR="/usr/$arch-w64-mingw32/include" "$@"
}

report_time() {
    echo "windows.sh: $1 took $(($SECONDS - $2)) s"
}

bash scripts/setup.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine64

start=$SECONDS
unpack_qt qt-5.15.8-mingw-w64-x86_64-static.tar.xz qt5-win64 build-windows
configure build-windows x86_64 qt5-win64
cmake --build build-windows --parallel "$(nproc)"
report_time "the 64-bit build" $start

start=$SECONDS
unpack_qt qt-5.15.8-mingw-w64-i686-static.tar.xz qt5-win32 build-windows-32
configure build-windows-32 i686 qt5-win32 -DBUILD_TESTING=OFF
cmake --build build-windows-32 --parallel "$(nproc)" --target AutoUpdate
if [[ "$(i686-w64-mingw32-objdump -p build-windows-32/bin/AutoUpdate.exe)" != *"large address aware"* ]]; then
    echo "windows.sh: the 32-bit AutoUpdate.exe is not large-address-aware" >&2
    exit 1
fi
report_time "the 32-bit build" $start

# Both test runs report before the script fails on either.
status=0
start=$SECONDS
ctest --test-dir build-windows --output-on-failure --timeout 300 || status=1
report_time "the tests under Wine" $start

start=$SECONDS
bash scripts/configure.sh "$linux_build" -DAUTOUPDATE_WINDOWS_BUILD="$repo/build-windows"
cmake --build "$linux_build" --parallel "$(nproc)" --target tst_programwine
ctest --test-dir "$linux_build" -L wine --output-on-failure --timeout 300 || status=1
report_time "the runs of the Windows program from Linux" $start
exit $status
