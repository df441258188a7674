#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz/ with clang, instrumented for libFuzzer and the address
# and undefined-behaviour sanitizers, and runs each for a fixed time from a copy of its starting
# corpus in tests/fuzz/corpus/ (the repository is never written to). Fails on a crash, a leak, a
# time-out or a run past its memory limit; skips when clang is not installed.
# Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-30}
build="build-fuzz"
targets=(checkanswer delta journal unpacker)

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang is not installed, the fuzz targets are skipped"
    exit 0
fi

bash scripts/configure.sh "$build" -DCMAKE_CXX_COMPILER=clang++ -DAUTOUPDATE_FUZZ=ON \
    -DBUILD_TESTING=OFF >/dev/null
nice cmake --build "$build" --parallel 2 --target "${targets[@]/#/fuzz_}"

# An input that fails is kept in the build folder, named after the target.
mkdir -p "$build/fuzz-failures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt is built without frame pointers: only the slower unwinder follows an allocation through it
# to the functions that the suppressions name.
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0
export UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0
for target in "${targets[@]}"; do
    mkdir -p "$work/$target/corpus" "$work/$target/tmp"
    cp "tests/fuzz/corpus/$target"/* "$work/$target/corpus/"
    echo "fuzz: $target for $seconds s"
    TMPDIR=$work/$target/tmp "$root/$build/bin/fuzz_$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=512 -print_final_stats=1 \
        -artifact_prefix="$root/$build/fuzz-failures/$target-" "$work/$target/corpus" \
        2>"$work/$target/fuzz.log" || {
        tail -n 60 "$work/$target/fuzz.log" >&2
        echo "fuzz: $target failed; the input is in $build/fuzz-failures/" >&2
        exit 1
    }
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target/fuzz.log"
done
