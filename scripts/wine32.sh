#!/usr/bin/env bash
# Whether 32-bit Windows programs run under Wine here, in the prefix that WINEPREFIX names.
#   install  installs Debian's 32-bit Wine (wine32, an i386 package) where the machine allows it:
#            only when the kernel runs 32-bit programs at all. Where it does not, wine32 would
#            take over the "wine" command with a loader the kernel refuses and so break the 64-bit
#            Wine too: nothing is installed then, and a wine32 installed earlier is removed.
#            Never fails: without it, "check" says so.
#   check <folder>  builds a small 32-bit program into <folder>, runs it under Wine and looks for
#            the file it writes: without a working 32-bit Wine a program may seem to run, and end
#            with 0, having done nothing. Exits 0 when the file names 32 bits, otherwise says why,
#            removes a wine32 that does not serve, and exits 1.
#   remove   removes wine32 again, for runs of 64-bit programs alone.
# Usage: scripts/wine32.sh install | remove | check <folder>
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

installed() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'
}

# Runs a static i386 Linux program that exits with 32, made with binutils alone (no 32-bit C
# library needed). Prints why when the kernel does not run it.
kernel_runs_32bit() {
    local folder status=0
    folder=$(mktemp -d)
    printf '.globl _start\n_start:\n movl $1, %%eax\n movl $32, %%ebx\n int $0x80\n' >"$folder/exit.s"
    if ! as --32 -o "$folder/exit.o" "$folder/exit.s" || ! ld -m elf_i386 -o "$folder/exit" "$folder/exit.o"; then
        echo "wine32.sh: binutils could not make the 32-bit probe (see above)"
        status=1
    elif "$folder/exit" 2>/dev/null; [ $? -ne 32 ]; then
        echo "wine32.sh: the kernel does not run 32-bit programs (a static i386 program failed to start)"
        status=1
    fi
    rm -rf "$folder"
    return $status
}

# A wine32 that does not serve stands in the way: with a kernel that refuses it, "wine" runs
# nothing at all, 64-bit included; otherwise Wine's tools no longer see the 64-bit programs.
remove_wine32() {
    installed || return 0
    echo "wine32.sh: removing the wine32:i386 installed earlier"
    if ! DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq --autoremove \
        -o DPkg::Lock::Timeout=300 wine32:i386; then
        echo "wine32.sh: wine32:i386 could not be removed (see above): Wine may start nothing"
        return 0
    fi
    "${sudo[@]}" dpkg --remove-architecture i386 2>/dev/null ||
        echo "wine32.sh: other i386 packages are installed, so the i386 architecture stays enabled"
}

# The i386 architecture stays enabled only when wine32 installs: an i386 index that fails to
# download would otherwise fail every later "apt-get update" on the machine.
install_wine32() {
    if ! kernel_runs_32bit; then
        echo "wine32.sh: wine32:i386 is not installed; the Wine runs use 64-bit programs"
        remove_wine32
        return 0
    fi
    installed && return 0
    local added=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo[@]}" dpkg --add-architecture i386
        added=1
    fi
    echo "wine32.sh: installing wine32:i386"
    "${sudo[@]}" apt-get update -qq ||
        echo "wine32.sh: apt-get update reported the errors above; trying the install with the lists it has"
    if DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 wine32:i386; then
        wine --version >/dev/null 2>&1 && return 0
        echo "wine32.sh: Wine no longer starts with wine32:i386 installed"
        remove_wine32
        return 0
    fi
    echo "wine32.sh: wine32:i386 did not install (see above)"
    if [ $added -eq 1 ]; then
        if "${sudo[@]}" dpkg --remove-architecture i386; then
            echo "wine32.sh: the i386 architecture is disabled again"
        else
            echo "wine32.sh: i386 packages were installed, so the i386 architecture stays enabled"
        fi
    fi
}

check_wine32() {
    local folder=$1 result status=0 missing=
    if ! kernel_runs_32bit; then
        echo "wine32.sh: no 32-bit Wine: 32-bit programs cannot run on this kernel"
        return 1
    fi
    mkdir -p "$folder"
    folder=$(realpath "$folder")
    result=$folder/probe-result.txt
    cat >"$folder/probe.c" <<'C'
#include <stdio.h>

/* Writes how many bits its pointers have to the file it is given. */
int main(int argc, char** argv)
{
    FILE* file = argc == 2 ? fopen(argv[1], "w") : NULL;
    if (!file)
        return 1;
    fprintf(file, "%d bits\n", (int)(sizeof(void*) * 8));
    return fclose(file) != 0;
}
C
    i686-w64-mingw32-gcc -O2 -o "$folder/probe.exe" "$folder/probe.c"
    rm -f "$result"
    bash tests/support/wine-session.sh start
    wine "$folder/probe.exe" "Z:$result" >"$folder/probe-output.txt" 2>&1 || status=$?
    bash tests/support/wine-session.sh stop
    # A Windows program writes its lines ending in CR LF.
    if [ "$(tr -d '\r' <"$result" 2>/dev/null)" = "32 bits" ]; then
        echo "wine32.sh: 32-bit programs run under Wine"
        return 0
    fi
    installed || missing=" (wine32:i386 is not installed)"
    echo "wine32.sh: no 32-bit Wine$missing: a 32-bit program ended with $status and did not" \
        "write its file; Wine said: $(head -c 300 "$folder/probe-output.txt" | tr '\n' ' ')"
    # The 64-bit runs that take the place of the 32-bit ones need it gone.
    remove_wine32
    return 1
}

case "${1:-}" in
install) install_wine32 ;;
remove) remove_wine32 ;;
check)
    [ $# -eq 2 ] || { echo "usage: scripts/wine32.sh install | remove | check <folder>" >&2; exit 2; }
    check_wine32 "$2"
    ;;
*)
    echo "usage: scripts/wine32.sh install | remove | check <folder>" >&2
    exit 2
    ;;
esac
