#!/usr/bin/env bash
# Builds the Windows program with mingw-w64 against the static Qt 5 for Windows that lies in
# shared/toolchains beside the repository, and tests it under Wine:
#   build-windows/     64-bit program and test programs; the tests run under Wine, in the
#                      prefix build-windows/wine
#   build-windows-32/  the 32-bit program, the product's own bitness, packaged for vendors:
#                      package/AutoUpdate-<version>-win32.zip
# Then the Linux build given as argument (default: build) runs the 64-bit program under Wine
# against the update service; where 32-bit Wine works (scripts/wine32.sh installs and checks it),
# the 32-bit product is first started under Wine once. It says which ran. Last, scripts/wine-screenshots.sh shows the windows with
# Qt's windows platform plugin on a virtual screen, checks their size and keeps the pictures in
# build-windows/screenshots/.
# AUTOUPDATE_TOOLCHAINS names another folder of toolchains (scripts/windows-toolchains.sh builds
# them). Without the toolchains (a fresh clone) it says so and exits 0, leaving the verdict to the
# Linux tests; with CI=true the toolchains are required.
# Usage: scripts/windows.sh [linux-build-folder]
#        scripts/windows.sh --product    only the 32-bit AutoUpdate.exe and its package
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
linux_build=build
product_only=0
for argument in "$@"; do
    case $argument in
    --product) product_only=1 ;;
    -*) echo "windows.sh: unknown option $argument (usage: scripts/windows.sh [--product] [linux-build-folder])" >&2; exit 2 ;;
    *) linux_build=$argument ;;
    esac
done
toolchains=${AUTOUPDATE_TOOLCHAINS:-"$(dirname "$repo")/shared/toolchains"}

if [ ! -d "$toolchains" ]; then
    if [ "${CI:-}" = true ]; then
        echo "windows.sh: CI needs the Windows toolchains (static Qt, libzip, libsodium, libzstd), but $toolchains does not exist" >&2
        exit 1
    fi
    echo "windows.sh: skipped: no Windows toolchains at $toolchains (scripts/windows-toolchains.sh builds them, AUTOUPDATE_TOOLCHAINS names their folder); the Linux tests decide"
    exit 0
fi

# unpack <tarball> <folder it unpacks to> <build folder>
# Unpacks a toolchain tarball into the build folder once; the stamp file .unpacked tells.
unpack() {
    local tarball="$toolchains/$1" prefix="$3/$2"
    if [ ! -f "$tarball" ]; then
        echo "windows.sh: missing $tarball" >&2
        echo "  The toolchain tarballs are kept in shared/toolchains beside the repository, or in the" \
            "folder AUTOUPDATE_TOOLCHAINS names; scripts/windows-toolchains.sh builds them." >&2
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
# Qt, libzip, libsodium and libzstd are found through the prefix path; libzip links mingw-w64's
# static zlib.
configure() {
    local build=$1 arch=$2 qt=$3 zip="libzip-1.7.3-mingw-w64-$2" sodium="libsodium-1.0.18-mingw-w64-$2"
    local zstd="libzstd-1.5.4-mingw-w64-$2"
    shift 3
    unpack "$zip.tar.xz" "$zip" "$build"
    unpack "$sodium.tar.xz" "$sodium" "$build"
    unpack "$zstd.tar.xz" "$zstd" "$build"
    bash scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-w64.cmake" -DMINGW_ARCH="$arch" \
        -DCMAKE_PREFIX_PATH="$repo/$build/$qt;$repo/$build/$zip;$repo/$build/$sodium;$repo/$build/$zstd" \
        -DZLIB_LIBRARY="/usr/$arch-w64-mingw32/lib/libz.a" \
        -DZLIB_INCLUDE_DIR="/usr/$arch-w64-mingw32/include" "$@"
}

report_time() {
    echo "windows.sh: $1 took $(($SECONDS - $2)) s"
}

# package_product: zips the 32-bit build's install tree with CPack and checks the program in
# the package: stripped of its debug information, and still large-address-aware.
package_product() {
    local name package exe headers
    (cd build-windows-32 && cpack)
    name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' build-windows-32/CPackConfig.cmake)
    package=build-windows-32/package/$name.zip
    exe="build-windows-32/package/AutoUpdate.exe"
    unzip -p "$package" "$name/AutoUpdate/AutoUpdate.exe" >"$exe"
    headers=$(i686-w64-mingw32-objdump -h -p "$exe")
    rm "$exe"
    if [[ $headers == *" .debug"* ]]; then
        echo "windows.sh: the AutoUpdate.exe in $package still holds debug information" >&2
        exit 1
    fi
    if [[ $headers != *"large address aware"* ]]; then
        echo "windows.sh: the AutoUpdate.exe in $package is not large-address-aware" >&2
        exit 1
    fi
    echo "windows.sh: the package: $repo/$package"
}

# smoke_product: the 32-bit AutoUpdate.exe, started under Wine in a folder without its
# configuration, says so in its log and ends: it loads, reads and writes as on Windows.
smoke_product() {
    local folder=build-windows-32/smoke log status=0
    log=$repo/build-windows/wine/drive_c/users/$(id -un)/AppData/Roaming/AutoUpdate/AutoUpdate.log
    rm -rf "$folder" "$log" && mkdir -p "$folder"
    cp build-windows-32/bin/AutoUpdate.exe "$folder/"
    export WINEPREFIX=$repo/build-windows/wine
    bash tests/support/wine-session.sh start
    (cd "$folder" && QT_QPA_PLATFORM=offscreen timeout 120 wine AutoUpdate.exe >/dev/null 2>&1) || true
    bash tests/support/wine-session.sh stop
    unset WINEPREFIX
    if ! grep -q "updateconfig.json open failed" "$log" 2>/dev/null; then
        echo "windows.sh: the 32-bit AutoUpdate.exe left no log line on its missing configuration at $log" >&2
        status=1
    fi
    return $status
}

# build_product: the 32-bit AutoUpdate.exe and its package.
build_product() {
    local start=$SECONDS
    unpack_qt qt-5.15.8-mingw-w64-i686-static.tar.xz qt5-win32 build-windows-32
    configure build-windows-32 i686 qt5-win32 -DBUILD_TESTING=OFF
    cmake --build build-windows-32 --parallel "$(nproc)" --target AutoUpdate
    package_product
    report_time "the 32-bit build and its package" $start
}

if [ $product_only -eq 1 ]; then
    bash scripts/setup.sh g++-mingw-w64-i686-posix libz-mingw-w64-dev
    build_product
    exit 0
fi

bash scripts/setup.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine64
bash scripts/wine32.sh install

start=$SECONDS
unpack_qt qt-5.15.8-mingw-w64-x86_64-static.tar.xz qt5-win64 build-windows
configure build-windows x86_64 qt5-win64
cmake --build build-windows --parallel "$(nproc)"
report_time "the 64-bit build" $start

build_product

# Both test runs report before the script fails on either.
status=0
start=$SECONDS
ctest --test-dir build-windows --output-on-failure --timeout 300 || status=1
report_time "the tests under Wine" $start

start=$SECONDS
# The product's own bitness, where this machine runs it, only starts here: the runs below take the
# 64-bit program, as their stand-in client and tools are 64-bit, and under Wine a 32-bit program's
# taskkill does not see 64-bit ones. Installed, wine32 keeps Wine's own taskkill from seeing them
# too, so it goes again before those runs.
if WINEPREFIX="$repo/build-windows/wine" bash scripts/wine32.sh check build-windows-32/wine32-probe; then
    if smoke_product; then
        bitness="the 64-bit AutoUpdate.exe; the 32-bit product started and logged under Wine"
    else
        bitness="the 64-bit AutoUpdate.exe; the 32-bit product FAILED to start under Wine"
        status=1
    fi
    bash scripts/wine32.sh remove
else
    bitness="the 64-bit AutoUpdate.exe INSTEAD of the 32-bit product, which 32-bit Wine cannot run here"
fi
program=$repo/build-windows/bin/AutoUpdate.exe
echo "windows.sh: tst_programwine runs $bitness ($program)"
bash scripts/configure.sh "$linux_build" -DAUTOUPDATE_WINDOWS_BUILD="$repo/build-windows" \
    -DAUTOUPDATE_WINDOWS_PROGRAM="$program"
cmake --build "$linux_build" --parallel "$(nproc)" --target tst_programwine
ctest --test-dir "$linux_build" -L wine --output-on-failure --timeout 300 || status=1
report_time "the runs of the Windows program from Linux" $start

start=$SECONDS
bash scripts/wine-screenshots.sh build-windows || status=1
report_time "the screenshots under Wine" $start

echo "windows.sh: the runs of the program under Wine ran $bitness"
exit $status
