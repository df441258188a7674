#!/usr/bin/env bash
# Draws the dialogs' images into AutoUpdate/windows/image/resourceimg with ImageMagick.
# Usage: scripts/draw-artwork.sh
set -euo pipefail
cd "$(dirname "$0")/../AutoUpdate/windows/image/resourceimg"

blue='rgba(66,133,246,1)'
# No time stamps or comments, so a redraw gives the same bytes.
stable=(-strip -define png:exclude-chunks=date,time)

# The badge: a blue rounded square with a white upward arrow over a short base line.
convert -size 128x128 xc:none -fill "$blue" -draw 'roundrectangle 4,4 123,123 28,28' \
    -fill white -draw 'polygon 64,22 100,60 76,60 76,92 52,92 52,60 28,60' \
    -draw 'roundrectangle 34,100 93,108 4,4' "${stable[@]}" PNG32:logo.png

# The window icon holds the badge once, at 128 x 128 and 32 bits per pixel.
convert logo.png -define icon:auto-resize=128 -type TrueColorAlpha logo.ico

# The ticked box of the check box: the blue rounded box with a white check mark.
convert -size 64x64 xc:none -fill "$blue" -draw 'roundrectangle 0,0 63,63 12,12' \
    -fill none -stroke white -strokewidth 8 -draw 'polyline 15,33 27,45 49,20' \
    -resize 16x16 "${stable[@]}" PNG32:check.png

# The confirmation card: white, rounded, on a soft shadow that keeps clear of the image's edge,
# since the style sheet tiles the image over the slightly larger panel.
convert -size 196x112 xc:'rgba(32,49,82,0)' -fill 'rgba(32,49,82,0.3)' -draw 'roundrectangle 8,9 187,104 8,8' \
    -channel A -blur 0x4 +channel -fill white -draw 'roundrectangle 7,6 188,101 8,8' \
    "${stable[@]}" PNG32:cancle.png

identify logo.ico logo.png check.png cancle.png
