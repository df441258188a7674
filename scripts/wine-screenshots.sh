#!/usr/bin/env bash
# Shows the prompt and the progress window of a Windows build under Wine, with Qt's windows
# platform plugin on a virtual X screen (Xvfb), photographs every state in both languages, and
# checks that each window appeared at the fixed size of its form. Fails when a window did not
# appear or has another size. The pictures, cut to the window, go to <build>/screenshots/.
# Runs in the build's Wine prefix "wine" (tests/support/wine-session.sh makes it when missing),
# where "微软雅黑", the font the windows ask for, is replaced by WenQuanYi Micro Hei.
# Usage: scripts/wine-screenshots.sh [windows-build-folder]    (default: build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-windows}")
out=$build/screenshots
preview=$build/bin/dialog-preview.exe
readonly kShownTimeoutS=60

if [ ! -f "$preview" ]; then
    echo "wine-screenshots.sh: no $preview: build the Windows build first (scripts/windows.sh)" >&2
    exit 1
fi

export WINEPREFIX=$build/wine WINEDEBUG=-all
# The windows platform plugin, whatever the caller's environment says.
unset WINEQT_QPA_PLATFORM

# form_size <form.ui>: the fixed size of a form, as WxH: the first geometry in the file is the
# window's own.
form_size() {
    local width height
    width=$(grep -m1 -o '<width>[0-9]*</width>' "$1" | tr -dc 0-9)
    height=$(grep -m1 -o '<height>[0-9]*</height>' "$1" | tr -dc 0-9)
    echo "${width}x$height"
}
prompt_size=$(form_size AutoUpdate/windows/updatedialog.ui)
progress_size=$(form_size AutoUpdate/windows/dwondialog.ui)

xvfb_pid=
stop_all() {
    bash tests/support/wine-session.sh stop
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap stop_all EXIT

# A virtual screen on a free display (Xvfb picks the number and tells it), black behind the
# windows so that a window stands out from it.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -br -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.1
done
export DISPLAY=:$(cat "$display_file")
rm -f "$display_file"
if [ "$DISPLAY" = : ]; then
    echo "wine-screenshots.sh: Xvfb did not start" >&2
    exit 1
fi

# The Wine session runs on the virtual screen from its start: its desktop process holds the display.
bash tests/support/wine-session.sh start
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' /d 'WenQuanYi Micro Hei' /f \
    >/dev/null

# shown <output file> <pid>: waits until the preview printed "shown" (its window is painted), and
# fails when it ends or the time runs out first.
shown() {
    local deadline=$((SECONDS + kShownTimeoutS))
    until grep -q "^shown" "$1"; do
        if ! kill -0 "$2" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
            return 1
        fi
        sleep 0.2
    done
}

# shoot <state> <language> <form size>: shows one state, photographs the screen once the window
# is painted, and keeps the window's part of it. Says what went wrong, if anything, and returns 1
# then.
shoot() {
    local state=$1 language=$2 expected=$3 file="$out/$1-$2.png" screen="$out/$1-$2.screen.png"
    local output="$out/$1-$2.log" pid box status=0
    : >"$output"
    wine "$preview" "$state" "$language" >"$output" 2>&1 &
    pid=$!
    if shown "$output" $pid; then
        import -window root "$screen"
    else
        status=1
    fi
    kill $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    if [ $status -ne 0 ]; then
        echo "wine-screenshots.sh: $state ($language): no window: the preview ended, or did not" \
            "show it within $kShownTimeoutS s; what it printed is in $output" >&2
        return 1
    fi
    # The window is what differs from the black screen: its box is the window's size and place.
    box=$(convert "$screen" -format '%@' info:)
    if [ "${box%%+*}" != "$expected" ]; then
        echo "wine-screenshots.sh: $state ($language): the window on the screen is $box" \
            "(width x height + place), its form is $expected; the screen: $screen" >&2
        return 1
    fi
    convert "$screen" -crop "$box" +repage "$file"
    rm "$screen" "$output"
    echo "$file"
}

rm -rf "$out"
mkdir -p "$out"
shots=0
failures=0
for language in zh en; do
    for state in prompt-normal prompt-ticked prompt-forced progress error confirm installing; do
        size=$progress_size
        [[ $state != prompt-* ]] || size=$prompt_size
        shots=$((shots + 1))
        shoot "$state" "$language" "$size" || failures=$((failures + 1))
    done
done
if [ $failures -ne 0 ]; then
    echo "wine-screenshots.sh: FAILED: $failures of $shots windows did not appear at their size" >&2
    exit 1
fi
echo "wine-screenshots.sh: $shots windows at their size (prompt $prompt_size, progress" \
    "$progress_size); the pictures are in $out"
