#!/usr/bin/env bash
# Redraws res/karvo.ico: a disk drive with a partition slice, 32x32 and 16x16,
# 16 colours each. The .ico is committed; this is only needed to change it.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
draw() {  # one size, drawn on a 32-pixel grid and scaled
  local size=$1
  convert -size 32x32 xc:none \
    -fill '#808080' -stroke '#000000' -draw 'roundrectangle 2,8 29,25 3,3' \
    -fill '#C0C0C0' -stroke none -draw 'rectangle 4,10 27,17' \
    -fill '#0000FF' -draw 'rectangle 4,10 16,17' \
    -fill '#00FF00' -draw 'rectangle 24,20 26,22' \
    -fill '#FFFFFF' -draw 'rectangle 5,20 20,21' \
    -filter point -resize "${size}x${size}" \
    -channel A -threshold 50% +channel \
    PNG32:"$tmp/karvo-$size.png"
}
draw 32
draw 16
icotool -c -b 4 -o ../karvo.ico "$tmp/karvo-32.png" "$tmp/karvo-16.png"
icotool -l ../karvo.ico
