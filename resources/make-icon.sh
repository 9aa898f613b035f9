#!/usr/bin/env bash
# Draws the program icon and packs it as images/kov.ico (128, 48, 32 and 16 px).
# The drawing: a sheet of paper with a folded corner and four text lines on a rounded ink-blue tile,
# a golden quill lying across the sheet from the lower left to the upper right.
# Needs ImageMagick 6. Run from anywhere; rewrites images/kov.ico beside this script.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 512x512 xc:none \
    -fill '#1f4e79' -draw 'roundrectangle 16,16 495,495 80,80' \
    -fill '#fdfdf8' -draw 'polygon 128,72 320,72 392,144 392,440 128,440' \
    -fill '#c9d3de' -draw 'polygon 320,72 320,144 392,144' \
    -stroke '#7f93a8' -strokewidth 14 \
    -draw 'line 164,200 356,200' -draw 'line 164,252 356,252' \
    -draw 'line 164,304 356,304' -draw 'line 164,356 292,356' \
    -stroke none -fill '#e0a526' \
    -draw 'polygon 150,430 200,350 300,230 400,110 452,64 430,130 340,250 230,370' \
    -fill '#9c6b10' -draw 'polygon 150,430 176,410 300,250 452,64 290,240' \
    -fill '#2b2b2b' -draw 'polygon 136,452 150,430 166,440' \
    "$work/master.png"

for size in 128 48 32 16; do
    convert "$work/master.png" -filter Lanczos -resize ${size}x${size} -strip "$work/icon-$size.png"
done
convert "$work/icon-128.png" "$work/icon-48.png" "$work/icon-32.png" "$work/icon-16.png" "$here/images/kov.ico"
