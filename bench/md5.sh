#!/usr/bin/env bash
# The package digests against md5sum and sha256sum on the same 1 GiB file, in one run: throughput
# and peak memory.
# Usage: bench/md5.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target md5bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/package.bin
head -c 1073741824 /dev/urandom >"$file"
cat "$file" >/dev/null # both runs start from the page cache

measure() {
    local name=$1
    shift
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -v "$@" >"$work/$name.out" 2>"$work/$name.time"
    end=$(date +%s.%N)
    local seconds kib
    seconds=$(echo "$end - $start" | bc -l)
    kib=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/$name.time")
    printf '%-10s %8.1f MiB/s  %6.1f MiB peak  %s\n' "$name" "$(echo "1024 / $seconds" | bc -l)" \
        "$(echo "$kib / 1024" | bc -l)" "$(cut -c1-32 "$work/$name.out" | head -1)"
}

measure md5sum md5sum "$file"
measure updater "$build/bin/md5bench" "$file"
measure sha256sum sha256sum "$file"
measure updater+sha "$build/bin/md5bench" --sha256 "$file"
