#!/usr/bin/env bash
# Rebuilds the toolchain tarballs that scripts/windows.sh unpacks (the static Qt 5, libsodium,
# libzip and libzstd for Windows) from Debian's source packages with mingw-w64, so that anyone
# can make them or check where they came from. Names and layout are those of the tarballs in
# shared/toolchains beside the repository; that folder is only read: each new tarball is compared
# with the one of the same name there, when there is one, file list and content.
#
# Usage: scripts/windows-toolchains.sh [--arch x86_64|i686] [--only NAME[,NAME...]] [--jobs N]
#                                      [output-folder]
#   --arch   one target (repeatable); default both
#   --only   some of libsodium, libzip, libzstd, qt; default all four
#   --jobs   parallel compile jobs; default the number of processors
#   output folder: default build-toolchains/ in the repository (ignored by git). It receives the
#   tarballs, their .sha256 files, and work/ (sources, build trees, staged installs), which may go.
#
# The sources are fetched with apt-get source from deb-src entries derived at run time from this
# machine's own apt sources; they live in the output folder with their own package lists, so the
# system's apt configuration is not touched. Versions are pinned below: a newer Debian revision
# is a deliberate change here.
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/.."
repo=$PWD
reference="$(dirname "$repo")/shared/toolchains"

qt_source=qtbase-opensource-src=5.15.8+dfsg-11+deb12u3
sodium_source=libsodium=1.0.18-1+deb12u1
zip_source=libzip=1.7.3-1
zstd_source=libzstd=1.5.4+dfsg2-5

usage() {
    sed -n '/^# Usage:/,/^#$/s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

archs=()
only=libsodium,libzip,libzstd,qt
jobs=$(nproc)
out=$repo/build-toolchains
while [ $# -gt 0 ]; do
    case $1 in
    --arch) archs+=("${2:?}"); shift 2 ;;
    --only) only=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    -h | --help) usage ;;
    -*) echo "windows-toolchains.sh: unknown option $1" >&2; usage ;;
    *) [[ $1 == /* ]] && out=$1 || out=$caller/$1; shift ;;
    esac
done
[ ${#archs[@]} -gt 0 ] || archs=(x86_64 i686)
for arch in "${archs[@]}"; do
    [[ $arch == x86_64 || $arch == i686 ]] || { echo "windows-toolchains.sh: no such target: $arch" >&2; exit 2; }
done
IFS=, read -r -a components <<<"$only"
for component in "${components[@]}"; do
    [[ $component =~ ^(libsodium|libzip|libzstd|qt)$ ]] || { echo "windows-toolchains.sh: no such toolchain: $component" >&2; exit 2; }
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
if [ -d "$reference" ] && [ "$out" -ef "$reference" ]; then
    echo "windows-toolchains.sh: refusing to write into $reference; name another output folder" >&2
    exit 2
fi
work=$out/work
mkdir -p "$work"

bash scripts/setup.sh dpkg-dev xz-utils autoconf automake libtool g++-mingw-w64-x86-64-posix \
    g++-mingw-w64-i686-posix libz-mingw-w64-dev

# --- Sources ---------------------------------------------------------------------------------

apt_dir=$work/apt
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
[ "$(id -u)" -ne 0 ] || apt_options+=(-o APT::Sandbox::User=root)

# Writes the deb-src twin of every enabled binary entry of this machine's apt sources, in both the
# one-line and the deb822 format, into the private list.
write_source_entries() {
    mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' >"$apt_dir/sources.list"
    local parts=(/etc/apt/sources.list.d/*.sources)
    [ -e "${parts[0]}" ] || parts=(/dev/null)
    awk 'BEGIN { RS = "" }
    {
        n = split($0, lines, "\n"); stanza = ""; binary = 0; enabled = 1
        for (i = 1; i <= n; i++) {
            line = lines[i]
            if (line ~ /^#/) continue
            if (line ~ /^Types:/) { binary = (line " ") ~ /[: ]deb /; line = "Types: deb-src" }
            if (line ~ /^Enabled:[ \t]*[Nn][Oo]/) enabled = 0
            stanza = stanza line "\n"
        }
        if (binary && enabled) printf "%s\n", stanza
    }' "${parts[@]}" >"$apt_dir/sources.list.d/deb-src.sources"
    if [ ! -s "$apt_dir/sources.list" ] && [ ! -s "$apt_dir/sources.list.d/deb-src.sources" ]; then
        echo "windows-toolchains.sh: no enabled Debian entry in /etc/apt/sources.list(.d) to derive deb-src from" >&2
        exit 1
    fi
}

sources_ready=0
# fetch <package>=<version> [patched|upstream]: unpacks the source package once, with Debian's
# patches applied (under work/src/patched) or as its upstream tarball alone (work/src/upstream),
# into the folder apt-get source would make, and prints that folder.
fetch() {
    local name=${1%%=*} version=${1#*=} tree=${2:-patched}
    local upstream=${version#*:}
    upstream=${upstream%-*}
    local dsc="$work/src/${name}_${version#*:}.dsc" folder="$work/src/$tree/$name-$upstream"
    if [ ! -f "$folder/.unpacked" ]; then
        if [ $sources_ready -eq 0 ]; then
            write_source_entries
            apt-get "${apt_options[@]}" -qq update >&2
            sources_ready=1
        fi
        mkdir -p "$work/src"
        [ -f "$dsc" ] || (cd "$work/src" && apt-get "${apt_options[@]}" -q source --download-only --only-source "$1") >&2
        rm -rf "$folder"
        mkdir -p "$work/src/$tree"
        local skip=()
        [ "$tree" = patched ] || skip=(--skip-patches)
        dpkg-source -x "${skip[@]}" "$dsc" "$folder" >&2
        touch "$folder/.unpacked"
    fi
    echo "$folder"
}

# The toolchain's posix-thread compilers under the plain names that autoconf, CMake and Qt's
# mkspec look for, whichever of win32 and posix the system's alternatives choose.
tools=$work/tools
mkdir -p "$tools"
for triple in x86_64-w64-mingw32 i686-w64-mingw32; do
    for tool in gcc g++; do
        ln -sf "/usr/bin/$triple-$tool-posix" "$tools/$triple-$tool"
    done
done
export PATH="$tools:$PATH"

# --- Packing and comparing -------------------------------------------------------------------

# source_date <source folder>: the date of the source package's last changelog entry, used for
# every file's time in the tarball, so the same sources give the same tarball.
source_date() {
    dpkg-parsechangelog -l "$1/debian/changelog" -STimestamp
}

# pack <stage folder> <folder name> <tarball name> <source folder> <mingw-w64 target>
pack() {
    local stage=$1 folder=$2 tarball=$3 epoch
    epoch=$(source_date "$4")
    tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" --clamp-mtime \
        -C "$stage" -cJf "$out/$tarball.part" "$folder"
    mv "$out/$tarball.part" "$out/$tarball"
    (cd "$out" && sha256sum "$tarball" >"$tarball.sha256")
    echo "windows-toolchains.sh: $out/$tarball ($(du -k "$out/$tarball" | cut -f1) KiB) sha256 $(cut -d' ' -f1 "$out/$tarball.sha256")"
    compare "$tarball" "$5"
}

# compare <tarball name> <mingw-w64 target>: the new tarball against the one of the same name in
# shared/toolchains: the file lists, then each file's content. Static libraries that differ are
# compared member by member without their debug information, which holds the build's paths.
compare() {
    local tarball=$1 triple=$2-w64-mingw32 existing="$reference/$1"
    if [ ! -f "$existing" ]; then
        echo "windows-toolchains.sh: no $existing to compare with"
        return
    fi
    local dir=$work/compare/$tarball
    rm -rf "$dir"
    mkdir -p "$dir/there" "$dir/here"
    tar -xJf "$existing" -C "$dir/there"
    tar -xJf "$out/$tarball" -C "$dir/here"
    if ! diff <(cd "$dir/there" && find . | sort) <(cd "$dir/here" && find . | sort) >"$dir/files.diff"; then
        echo "windows-toolchains.sh: $tarball: file list differs from $existing (< there, > here):"
        cat "$dir/files.diff"
        return
    fi
    local file files=0 same=0 code_same=0
    while IFS= read -r file; do
        files=$((files + 1))
        if cmp -s "$dir/there/$file" "$dir/here/$file"; then
            same=$((same + 1))
        elif [[ $file == *.a ]] && same_without_debug_info "$dir" "$file" "$triple"; then
            code_same=$((code_same + 1))
        else
            echo "  $file differs"
        fi
    done < <(cd "$dir/there" && find . -type f | sort)
    echo "windows-toolchains.sh: $tarball: the same file list as $existing; of its $files files," \
        "$same identical, $code_same static libraries identical without their debug information," \
        "$((files - same - code_same)) different"
    rm -rf "$dir"
}

# same_without_debug_info <compare folder> <library> <mingw-w64 triple>
same_without_debug_info() {
    local dir=$1 library=$2 triple=$3 side member
    for side in there here; do
        mkdir -p "$dir/members/$side"
        (cd "$dir/members/$side" && rm -f ./* && ar x "$dir/$side/$library" &&
            for member in *; do "$triple-objcopy" --strip-debug "$member"; done)
    done
    diff -rq "$dir/members/there" "$dir/members/here" >/dev/null
}

# relocatable_pc <pc file>: names the prefix relative to the file itself, so the unpacked folder
# works wherever it lies.
relocatable_pc() {
    sed -i 's|^prefix=.*|prefix=${pcfiledir}/../..|' "$1"
}

report_time() {
    echo "windows-toolchains.sh: $1 took $((SECONDS - $2)) s"
}

# --- The toolchains --------------------------------------------------------------------------

# cmake_cross <arch> <source> <build> <prefix> [cmake options...]: a release build of a static
# library with the project's own mingw-w64 toolchain file, installed into <prefix>.
cmake_cross() {
    local arch=$1 source=$2 build=$3 prefix=$4
    shift 4
    rm -rf "$build" "$prefix"
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-w64.cmake" -DMINGW_ARCH="$arch" \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
    cmake --build "$build" --parallel "$jobs"
    cmake --install "$build"
}

build_libsodium() {
    local arch=$1 source name=libsodium-1.0.18-mingw-w64-$1
    source=$(fetch "$sodium_source")
    # Configured through a relative path from beside its source, so that the source file names
    # its assertions carry do not depend on where the output folder lies.
    local build
    build=$(dirname "$source")/build-$name
    local stage=$work/stage/$name
    local prefix=$stage/$name
    rm -rf "$build" "$stage"
    mkdir -p "$build"
    # The source package carries no configure script: Debian's build makes it with autoreconf.
    [ -x "$source/configure" ] || (cd "$source" && autoreconf -fi)
    (cd "$build" && "../$(basename "$source")/configure" --host="$arch-w64-mingw32" --prefix="$prefix" \
        --disable-shared --enable-static --disable-ssp --quiet &&
        make -j"$jobs" --silent && make install --silent)
    rm -f "$prefix/lib/libsodium.la"
    relocatable_pc "$prefix/lib/pkgconfig/libsodium.pc"
    cp "$source/LICENSE" "$prefix/"
    pack "$stage" "$name" "$name.tar.xz" "$source" "$arch"
}

# cmake_library <arch> <name> <CMake source folder> <.pc file name> [cmake option...]
# Builds a static library with CMake into the staged install $work/stage/<name>/<name>, its .pc
# file made relocatable.
cmake_library() {
    local arch=$1 name=$2 cmake_source=$3 pc=$4 stage=$work/stage/$2
    shift 4
    rm -rf "$stage"
    cmake_cross "$arch" "$cmake_source" "$work/build/$name" "$stage/$name" "$@"
    relocatable_pc "$stage/$name/lib/pkgconfig/$pc"
}

build_libzip() {
    local arch=$1 source name=libzip-1.7.3-mingw-w64-$1
    # Debian's one patch adds a dummy function for Debian's own ABI: the upstream tarball is built.
    source=$(fetch "$zip_source" upstream)
    # Deflate and store only, what zip packages use: every other codec and every crypto
    # backend off. zlib is mingw-w64's static one from Debian.
    cmake_library "$arch" "$name" "$source" libzip.pc -DBUILD_SHARED_LIBS=OFF \
        -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
        -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
        -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF \
        -DZLIB_LIBRARY="/usr/$arch-w64-mingw32/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$arch-w64-mingw32/include"
    cp "$source/LICENSE" "$work/stage/$name/$name/"
    pack "$work/stage/$name" "$name" "$name.tar.xz" "$source" "$arch"
}

build_libzstd() {
    local arch=$1 source name=libzstd-1.5.4-mingw-w64-$1
    # Debian's patches serve its tests, its command line tool and one compressor fix; the upstream
    # tarball is built.
    source=$(fetch "$zstd_source" upstream)
    # Decompression is what a Windows program does with it: no worker threads, no legacy formats.
    cmake_library "$arch" "$name" "$source/build/cmake" libzstd.pc \
        -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_PROGRAMS=OFF \
        -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF
    local licenses=$work/stage/$name/$name/share/licenses
    mkdir -p "$licenses"
    cp "$source/LICENSE" "$source/COPYING" "$licenses/"
    pack "$work/stage/$name" "$name" "$name.tar.xz" "$source" "$arch"
}

build_qt() {
    local arch=$1 source folder
    source=$(fetch "$qt_source")
    [ "$arch" = x86_64 ] && folder=qt5-win64 || folder=qt5-win32
    local build=$work/build/qt-$arch stage=$work/stage/qt-$arch
    rm -rf "$build" "$stage"
    mkdir -p "$build"
    # mingw-w64's import libraries are lower case; Linux file names are case-sensitive.
    sed -i 's/"-lSecur32" "-lCrypt32"/"-lsecur32" "-lcrypt32"/' "$source/src/network/ssl/ssl.pri"
    # Debian's source lacks wintab and sqlite, hence the tablet events and SQLite off.
    (cd "$build" && "$source/configure" -xplatform win32-g++ \
        -device-option CROSS_COMPILE="$arch-w64-mingw32-" \
        -static -static-runtime -release -opensource -confirm-license -nomake examples \
        -nomake tests -no-opengl -no-dbus -no-openssl -schannel -no-pkg-config -no-icu -qt-zlib \
        -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -no-sql-sqlite \
        -no-feature-tabletevent -prefix "$stage/$folder" &&
        make -j"$jobs" && make install)
    pack "$stage" "$folder" "qt-5.15.8-mingw-w64-$arch-static.tar.xz" "$source" "$arch"
}

for component in "${components[@]}"; do
    for arch in "${archs[@]}"; do
        start=$SECONDS
        "build_$component" "$arch"
        report_time "$component for $arch" $start
    done
done
