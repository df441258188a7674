#!/usr/bin/env bash
# The whole zip road for two packages served on loopback, each beside a baseline of the same work
# done by standard tools on the same package and server: curl, md5sum, unzip, cp -R. Prints, in
# one run, times and peak memory of both beside the targets.
#   small files: 256 MiB in 320 random files of 0.8 MiB in 16 folders, so that nothing compresses.
#   mixed:       256 MiB, half random, half text that deflate shrinks; one entry of 64 MiB of
#                each among files of 0.5 MiB.
# Usage: bench/road.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
bench_start "${1:-build}"

config() { printf '{"client":{"version":"%s"}}\n' "$1"; }
max_ratio=1.00
max_peak_mib=64

# random_files <folder> <count> <bytes>
random_files() {
    mkdir -p "$1"
    for file in $(seq -w 1 "$2"); do head -c "$3" /dev/urandom >"$1/$file.bin"; done
}

# text_files <folder> <count> <bytes>: lines of words drawn from a vocabulary of made-up words,
# the common ones often, as in prose. Each file starts at its own place in 8 MiB of such text,
# made once per run; deflate looks back 32 KiB only, so text repeating further apart does not
# help it.
text_files() {
    python3 - "$work/words.txt" "$@" <<'PY'
import itertools, os, random, string, sys
pool_path, folder, count, size = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
rng = random.Random()
if not os.path.exists(pool_path):
    vocabulary = ["".join(rng.choices(string.ascii_lowercase, k=rng.randint(2, 10))) for _ in range(5000)]
    words = rng.choices(vocabulary, cum_weights=list(itertools.accumulate(
        1 / (rank + 1) for rank in range(len(vocabulary)))), k=(8 << 20) // 6)
    with open(pool_path, "w") as out:
        start = 0
        while start < len(words):
            end = start + rng.randint(6, 14)
            out.write(" ".join(words[start:end]).capitalize() + ".\n")
            start = end
with open(pool_path, "rb") as source:
    pool = source.read()
os.makedirs(folder, exist_ok=True)
for index in range(1, count + 1):
    start, left = rng.randrange(len(pool)), size
    with open(os.path.join(folder, "%03d.txt" % index), "wb") as out:
        while left:
            piece = pool[start:start + left]
            out.write(piece)
            start, left = 0, left - len(piece)
PY
}

small_files_release() {
    for folder in $(seq -w 1 16); do random_files "$1/data/$folder" 20 838860; done
}

mixed_release() {
    random_files "$1/media" 1 $((64 << 20))
    random_files "$1/media/parts" 128 $((512 << 10))
    text_files "$1/docs" 1 $((64 << 20))
    text_files "$1/docs/parts" 128 $((512 << 10))
}

# road <workload>: publishes the workload's release, updates a client to it with the updater, then
# does the same with the baseline. The client holds the previous release of the same files, so the
# updater saves every one of them before its copy. Leaves its figures in $work/<workload>.figures
# and the updater's backup and comparison in $work/<workload>.safety.
road() {
    local dir=$work/$1 home client release previous package
    home=$dir/home
    client=$home/Apps/Quorvex
    release=$dir/build-2.1.0
    previous=$dir/build-2.0.0
    mkdir -p "$dir/tmp" "$home/AppData/Roaming/quorvexAssistant" "$client/AutoUpdate" "$client/config"
    "${1}_release" "$release"
    "${1}_release" "$previous"
    cp -R "$previous/." "$client/"
    mkdir -p "$release/config" && config 2.1.0 >"$release/config/client.json"
    cp "$bin/QuorvexSample" "$release/"
    "$bin/update-service" publish --build "$release" --version 2.1.0 --name QuorvexSample \
        --notes-zh "基准" --notes-en "Benchmark" --out "$dir/releases" >/dev/null
    package=$(ls "$dir"/releases/2.1.0/*.zip)

    cp "$bin/QuorvexSample" "$client/" && config 2.0.0 >"$client/config/client.json"
    cp "$bin/AutoUpdate" "$client/AutoUpdate/"
    serve_client "$dir/releases" "$dir/service.log" "$client"
    local package_url
    package_url=$(sed -n 's/.*updatePackageUrl \(.*\)$/\1/p' "$dir/service.log")
    cat "$package" >/dev/null

    # The updater: its 1 s start delay and its two fixed 500 ms pauses are taken off its time.
    local start updater_seconds
    start=$(now)
    HOME=$home TMPDIR=$dir/tmp QT_QPA_PLATFORM=offscreen /usr/bin/time -v \
        "$client/AutoUpdate/AutoUpdate" -immediately >/dev/null 2>"$dir/updater.time"
    updater_seconds=$(echo "$(now) - $start - 2.0" | bc -l)
    grep -q '"version":"2.1.0"\|"version": "2.1.0"' "$client/config/client.json" ||
        { echo "road: the $1 update did not complete" >&2; exit 1; }

    # The baseline, step by step on the same package and server.
    local base=$dir/baseline baseline_seconds
    mkdir -p "$base/target"
    cp -R "$previous/." "$base/target/"
    start=$(now)
    /usr/bin/time -v -o "$dir/curl.time" curl -s -o "$base/package.zip" "${package_url}$(basename "$package")"
    /usr/bin/time -v -o "$dir/md5sum.time" md5sum "$base/package.zip" >/dev/null
    /usr/bin/time -v -o "$dir/unzip.time" unzip -q -o "$base/package.zip" -d "$base/unpacked"
    /usr/bin/time -v -o "$dir/cp.time" cp -R "$base/unpacked/QuorvexSample_2.1.0/." "$base/target"
    baseline_seconds=$(echo "$(now) - $start" | bc -l)
    kill "$service_pid"
    wait "$service_pid" 2>/dev/null || true
    service_pid=

    local largest peak baseline_peak
    largest=$(find "$release" -type f -printf '%s\n' | sort -n | tail -1)
    peak=$(peak_mib "$dir/updater.time")
    baseline_peak=$(for step in curl md5sum unzip cp; do peak_mib "$dir/$step.time"; echo; done | sort -n | tail -1)
    printf '%s %s %s %s %s %s %s %s\n' "$1" "$(($(stat -c %s "$package") >> 20))" \
        "$(find "$release" -type f | wc -l)" "$(echo "$largest / 1048576" | bc -l)" \
        "$updater_seconds" "$peak" "$baseline_seconds" "$baseline_peak" >"$work/$1.figures"
    safety_figures "$home/AppData/Roaming/AutoUpdate/AutoUpdate.log" >"$work/$1.safety"
    rm -rf "$release" "$previous" "$base" "$home"
}

# safety_figures <updater log>: what keeps the install all or nothing, as the updater logs it (both
# are in the updater's time): the backup of the files the package replaces, and the comparison of
# the copied files with their unpacked originals.
safety_figures() {
    local saved backup_ms saved_bytes copied_bytes compare_ms
    saved=$(grep -o 'client files saved: .*' "$1")
    backup_ms=$(echo "$saved" | sed -n 's/.* in \([0-9]*\) ms.*/\1/p')
    saved_bytes=$(echo "$saved" | sed -n 's/^client files saved: [0-9]* files, \([0-9]*\) bytes,.*/\1/p')
    copied_bytes=$(echo "$saved" | sed -n 's/.* bytes, \([0-9]*\) bytes copied,.*/\1/p')
    compare_ms=$(sed -n 's/.*copied files compared: [0-9]* files, in \([0-9]*\) ms.*/\1/p' "$1")
    printf 'backup %.2f s for %.0f MiB saved (%.0f MiB of it copied, the rest moved); compare %.2f s\n' \
        "$(echo "$backup_ms / 1000" | bc -l)" "$(echo "$saved_bytes / 1048576" | bc -l)" \
        "$(echo "$copied_bytes / 1048576" | bc -l)" "$(echo "$compare_ms / 1000" | bc -l)"
}

road small_files
road mixed

printf '%-12s %-31s %-19s %-24s %s\n' workload package updater "baseline (largest step)" ratio
while read -r name size files largest seconds peak base_seconds base_peak; do
    ratio=$(echo "$seconds / $base_seconds" | bc -l)
    misses=()
    (($(echo "$ratio > $max_ratio" | bc -l))) && misses+=(ratio)
    (($(echo "$peak > $max_peak_mib" | bc -l))) && misses+=(memory)
    printf '%-12s %4d MiB, %3d files, %4.1f MiB  %6.2f s %6.1f MiB  %6.2f s %6.1f MiB  %5.2f  %s\n' \
        "$name" "$size" "$files" "$largest" "$seconds" "$peak" "$base_seconds" "$base_peak" "$ratio" \
        "${misses[*]:+misses: ${misses[*]}}"
done < <(cat "$work/small_files.figures" "$work/mixed.figures")
for workload in small_files mixed; do printf '%-12s %s\n' "$workload" "$(cat "$work/$workload.safety")"; done
printf 'targets: ratio at most %.2f, updater peak at most %d MiB, on both\n' "$max_ratio" "$max_peak_mib"
