#!/usr/bin/env bash
# Photographs every dialog state on a virtual screen, one PNG per state and language.
# Builds nothing: it runs dialog-preview from an existing build folder.
# Usage: scripts/screenshots.sh [build-folder] [output-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-screenshots}

preview=$(realpath "$build/bin/dialog-preview")
mkdir -p "$out"

# The dialogs ask for the Windows font "微软雅黑"; WenQuanYi Micro Hei stands in for it, for
# Latin text as well as Chinese.
fonts=$(mktemp -d)
trap 'rm -rf "$fonts"' EXIT
cat >"$fonts/fonts.conf" <<'XML'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="same">
    <family>微软雅黑</family>
    <prefer><family>WenQuanYi Micro Hei</family></prefer>
  </alias>
</fontconfig>
XML
export FONTCONFIG_FILE=$fonts/fonts.conf

# The preview prints "shown" once its window is painted; the screen is taken then.
shoot() {
    local state=$1 language=$2 file
    file=$(realpath "$out")/$state-$language.png
    xvfb-run -a -s "-screen 0 800x600x24" bash -c '
        coproc preview { exec "$1" "$2" "$3"; }
        read -r _ <&"${preview[0]}"
        import -window root "$4"
        kill "$preview_PID"
        wait "$preview_PID" || true
    ' shoot "$preview" "$state" "$language" "$file"
    echo "$file"
}

for language in zh en; do
    for state in prompt-normal prompt-ticked prompt-forced progress error confirm installing; do
        shoot "$state" "$language"
    done
done
