#!/usr/bin/env bash
# Delta updates on a series of six releases of a client tree that changes a little each time, as a
# vendor's releases do: a program and a library compiled from generated C of some 3,000 functions
# (a few changed and a few added per release, and the version string), a manual and a changelog
# edited in a few places, icons that stay and a splash image with a version badge. Each release is published
# with deltas; for each minor update the updater updates a client of the release before, once with
# the delta and once from the same releases published without deltas. Prints per update the bytes
# the updater downloaded (from serve's log), the full package's size, what
# "zstd -19 --long --patch-from" and "bsdiff" make of the same files, the updater's time and peak
# memory on both roads (the median time and the largest peak of three runs each), and checks the
# figures against the targets.
# Usage: bench/delta.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh zstd bsdiff
source bench/lib.sh
bench_start "${1:-build}"

versions=(3.0.0 3.0.1 3.0.2 3.1.0 3.1.1 3.1.2)
max_peak_extra_mib=64

# generated_c <file> <prefix> <functions> <release index>: C source of many small functions with
# tables of constants. Release n changes the constants of every 150th function starting at n,
# adds 8 functions per release, and names its version.
generated_c() {
    python3 - "$@" <<'PY'
import random, sys
path, prefix, count, release = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
with open(path, "w") as out:
    out.write('#include <stdio.h>\n#include <string.h>\n')
    out.write('const char %s_version[] = "release %d";\n' % (prefix, release))
    total = count + 8 * release
    for i in range(total):
        rng = random.Random(i * 7919 + (release if i % 150 == release else 0))
        table = ", ".join(str(rng.randrange(1 << 30)) for _ in range(12))
        out.write('static const unsigned %s_t%d[12] = {%s};\n' % (prefix, i, table))
        out.write('unsigned %s_f%d(unsigned x, const char *s) {\n' % (prefix, i))
        out.write('    unsigned a = x * %du + %s_t%d[x %% 12];\n' % (rng.randrange(1, 99999), prefix, i))
        out.write('    for (unsigned k = 0; k < (x & %d); ++k)\n' % rng.choice((3, 7, 15)))
        out.write('        a ^= (a << %d) + %s_t%d[k %% 12] + (unsigned)strlen(s);\n' % (rng.randrange(1, 9), prefix, i))
        out.write('    if (a %% %d == 0) printf("%s %d: %%u %%s\\n", a, s);\n' % (rng.randrange(90, 999), prefix, i))
        out.write('    return a;\n}\n')
    out.write('unsigned (*const %s_all[])(unsigned, const char *) = {%s};\n'
              % (prefix, ", ".join("%s_f%d" % (prefix, i) for i in range(total))))
    out.write('const unsigned %s_count = %d;\n' % (prefix, total))
PY
}

# text <file> <words> <release index>: prose from a fixed vocabulary; each release rewrites a few
# sentences here and there.
text() {
    python3 - "$@" <<'PY'
import random, string, sys
path, count, release = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(1)
vocabulary = ["".join(rng.choices(string.ascii_lowercase, k=rng.randint(2, 10))) for _ in range(4000)]
words = rng.choices(vocabulary, k=count)
for edit in range(1, release + 1):
    edits = random.Random(edit)
    for _ in range(6):
        start = edits.randrange(count - 40)
        words[start:start + 20] = edits.choices(vocabulary, k=20)
with open(path, "w") as out:
    for start in range(0, count, 12):
        out.write(" ".join(words[start:start + 12]).capitalize() + ".\n")
PY
}

# release <folder> <index> <version>
release() {
    local dir=$1 index=$2 version=$3
    mkdir -p "$dir/bin" "$dir/lib" "$dir/docs" "$dir/images" "$dir/config"
    generated_c "$work/core.c" core 3000 "$index"
    generated_c "$work/app.c" app 1500 "$index"
    printf 'extern unsigned core_count;\nint main(int c, char **v) { return (int)(core_count + (unsigned)c) & 1; }\n' >"$work/main.c"
    gcc -O2 -shared -fPIC -o "$dir/lib/libquorvexcore.so" "$work/core.c"
    gcc -O2 -o "$dir/bin/quorvex-app" "$work/app.c" "$work/main.c" -L"$dir/lib" -lquorvexcore
    text "$dir/docs/manual.txt" 200000 "$index"
    { for i in $(seq 0 "$index"); do echo "${versions[$i]}: fixes and improvements, item $i"; done; } >"$dir/docs/changelog.txt"
    for icon in 1 2 3 4 5 6; do
        [ -f "$work/icon$icon.png" ] ||
            convert -size 128x128 radial-gradient:"rgb($((icon * 40)),90,200)-white" \
                -swirl $((icon * 60)) "$work/icon$icon.png"
        cp "$work/icon$icon.png" "$dir/images/"
    done
    # The splash's version badge: a bar that grows with each release.
    convert -size 480x270 gradient:"#1e3c72-#2a5298" -fill white \
        -draw "rectangle 20,240 $((40 + 30 * index)),252" "$dir/images/splash.png"
    cp "$bin/QuorvexSample" "$dir/"
    printf '{"client":{"version":"%s"}}\n' "$version" >"$dir/config/client.json"
}

# publish_all <releases folder> <deltas>
publish_all() {
    for index in "${!versions[@]}"; do
        "$bin/update-service" publish --build "$work/build-${versions[$index]}" \
            --version "${versions[$index]}" --name QuorvexSample --notes-zh "基准" \
            --notes-en "Benchmark" --out "$1" --deltas "$2"
    done
}

# tool_bytes <old tree> <new tree>: what zstd and bsdiff make of every file that changed or is new,
# as "<zstd bytes> <bsdiff bytes>"; a new file counts as zstd -19 of itself for both.
tool_bytes() {
    local zstd_total=0 bsdiff_total=0 file old new
    while read -r file; do
        old=$1/$file
        new=$2/$file
        if [ -f "$old" ] && cmp -s "$old" "$new"; then continue; fi
        if [ -f "$old" ]; then
            zstd -q -19 --long=27 --patch-from="$old" "$new" -o "$work/patch.zst" -f 2>/dev/null
            bsdiff "$old" "$new" "$work/patch.bsdiff"
            bsdiff_total=$((bsdiff_total + $(stat -c %s "$work/patch.bsdiff")))
        else
            zstd -q -19 "$new" -o "$work/patch.zst" -f
            bsdiff_total=$((bsdiff_total + $(stat -c %s "$work/patch.zst")))
        fi
        zstd_total=$((zstd_total + $(stat -c %s "$work/patch.zst")))
    done < <(cd "$2" && find . -type f | sed 's|^\./||')
    echo "$zstd_total $bsdiff_total"
}

# update <releases folder> <from index>: updates a client of the release at the index to the newest
# release the folder's serve offers, and prints "<downloaded bytes> <seconds> <peak MiB>". serve
# answers every check with the newest release, so the releases after the target are left out by
# serving a folder of links to the first ones only.
update() {
    local from=$1 to=$(($1 + 1)) releases=$2 dir=$work/run home client
    rm -rf "$dir" && mkdir -p "$dir/releases" "$dir/tmp"
    for index in $(seq 0 "$to"); do ln -s "$releases/${versions[$index]}" "$dir/releases/"; done
    home=$dir/home
    client=$home/Apps/Quorvex
    mkdir -p "$home/AppData/Roaming/quorvexAssistant" "$client/AutoUpdate"
    cp -R "$work/build-${versions[$from]}/." "$client/"
    cp "$bin/AutoUpdate" "$client/AutoUpdate/"
    serve_client "$dir/releases" "$dir/service.log" "$client"
    # The 1 s start delay and the two fixed 500 ms pauses are taken off the updater's time.
    local start seconds
    start=$(now)
    LD_LIBRARY_PATH=$client/lib HOME=$home TMPDIR=$dir/tmp QT_QPA_PLATFORM=offscreen \
        /usr/bin/time -v "$client/AutoUpdate/AutoUpdate" -immediately >/dev/null 2>"$dir/updater.time"
    seconds=$(echo "$(now) - $start - 2.0" | bc -l)
    kill "$service_pid"
    wait "$service_pid" 2>/dev/null || true
    service_pid=
    if ! diff -rq --exclude=AutoUpdate --exclude=sample-client.log "$work/build-${versions[$to]}" "$client" >"$dir/diff" 2>&1; then
        echo "delta.sh: the update to ${versions[$to]} did not install the release's tree:" >&2
        cat "$dir/diff" >&2
        tail -20 "$home/AppData/Roaming/AutoUpdate/AutoUpdate.log" >&2
        exit 1
    fi
    local downloaded
    downloaded=$(grep -o ' -> 200, [0-9]* of' "$dir/service.log" | awk '{sum += $3} END {print sum + 0}')
    echo "$downloaded $seconds $(peak_mib "$dir/updater.time")"
}

# median_update <from index> <releases folder>: update's figures over three runs, the median
# time and the largest peak: one run's time moves by tens of milliseconds with the machine's load.
median_update() {
    local runs=() bytes seconds peak max_peak=0
    for _ in 1 2 3; do
        read -r bytes seconds peak < <(update "$1" "$2")
        runs+=("$seconds")
        max_peak=$(echo "if ($peak > $max_peak) $peak else $max_peak" | bc -l)
    done
    seconds=$(printf '%s\n' "${runs[@]}" | sort -g | sed -n 2p)
    echo "$bytes $seconds $max_peak"
}

for index in "${!versions[@]}"; do release "$work/build-${versions[$index]}" "$index" "${versions[$index]}"; done
echo "publish with deltas:"
publish_all "$work/releases" 3 | grep -v '^published' | sed 's/^/  /'
publish_all "$work/full" 0 >/dev/null

printf '\n%-15s %10s %10s %7s %10s %10s  %-17s %-17s %s\n' update full delta share zstd bsdiff \
    "delta road" "full road" misses
for from in $(seq 0 $((${#versions[@]} - 2))); do
    to=$((from + 1))
    full=$(stat -c %s "$work/releases/${versions[$to]}/QuorvexSample_${versions[$to]}.zip")
    read -r zstd_bytes bsdiff_bytes < <(tool_bytes "$work/build-${versions[$from]}" "$work/build-${versions[$to]}")
    read -r delta_bytes delta_seconds delta_peak < <(median_update "$from" "$work/releases")
    read -r full_bytes full_seconds full_peak < <(median_update "$from" "$work/full")
    largest=$(find "$work/build-${versions[$to]}" -type f -printf '%s\n' | sort -n | tail -1)
    misses=()
    ((delta_bytes <= zstd_bytes)) || misses+=(bytes)
    (($(echo "$delta_seconds <= $full_seconds" | bc -l))) || misses+=(time)
    (($(echo "$delta_peak <= $max_peak_extra_mib + $largest / 1048576" | bc -l))) || misses+=(memory)
    ((full_bytes == full)) || misses+=("full road fetched $full_bytes")
    printf '%-15s %10d %10d %6.1f%% %10d %10d  %5.2f s %5.1f MiB  %5.2f s %5.1f MiB  %s\n' \
        "${versions[$from]}>${versions[$to]}" "$full" "$delta_bytes" \
        "$(echo "100 * $delta_bytes / $full" | bc -l)" "$zstd_bytes" "$bsdiff_bytes" \
        "$delta_seconds" "$delta_peak" "$full_seconds" "$full_peak" "${misses[*]:-}"
done
printf 'targets: delta bytes at most zstd'"'"'s, delta road at most the full road'"'"'s time, peak at most %d MiB plus the largest file\n' \
    "$max_peak_extra_mib"
