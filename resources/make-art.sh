#!/usr/bin/env bash
# Makes the program's artwork with ImageMagick: the side picture of each page
# (161 x 225, 8-bit), the maker's logo (144 x 32, 8-bit), the three method
# icons and MAINICON (16 x 16). Usage: make-art.sh OUTPUT-FOLDER
set -euo pipefail
out=$1
mkdir -p "$out"
im=/usr/bin/convert   # ImageMagick itself, not a look-alike earlier on PATH
[ -x "$im" ] || im=convert
here=$(cd "$(dirname "$0")" && pwd)
# Every bitmap is written with a full 256-entry palette (8 bits a pixel).
bmp8() { python3 "$here/bmp8.py" "$1" "$2" && rm -f "$1"; }

# Side pictures: a dark-blue panel with a board drawn in it; the version page
# has a white field (drawn transparent on that page).
side() {  # name accent
  local name=$1 accent=$2
  "$im" -size 161x225 gradient:'#0b2a5b'-'#2f6db5' \
    -fill none -stroke '#9fc3ee' -strokewidth 1 -draw "rectangle 14,40 146,184" \
    -fill '#1f3f6f' -stroke '#9fc3ee' -draw "rectangle 24,52 136,172" \
    -fill "$accent" -stroke none -draw "rectangle 40,70 76,106" \
    -fill '#c9a227' -draw "rectangle 90,70 124,80" -draw "rectangle 90,88 124,98" \
    -draw "rectangle 90,106 124,116" -draw "rectangle 40,122 124,130" \
    -fill '#d9e6f5' -draw "circle 80,152 80,160" \
    -colors 256 -depth 8 "PPM:$out/$name.ppm"
  bmp8 "$out/$name.ppm" "$out/$name.bmp"
}
side bgwork '#5fbf5f'
side bgserver '#e0a030'
side bgversion '#c05050'
# The version page draws white transparent: give its picture a white band.
"$im" "$out/bgversion.bmp" -fill white -draw "rectangle 0,200 160,224" -colors 256 -depth 8 "PPM:$out/bgversion.ppm"
bmp8 "$out/bgversion.ppm" "$out/bgversion.bmp"

# Logo: white background (drawn transparent), a navy "N" mark and bars.
"$im" -size 144x32 xc:white \
  \( -size 104x3 gradient:'#0b2a5b'-'#9fc3ee' \) -geometry +36+29 -composite \
  -fill '#0b2a5b' -draw "polygon 4,28 4,4 10,4 22,20 22,4 28,4 28,28 22,28 10,12 10,28" \
  -fill '#2f6db5' -draw "rectangle 36,6 140,11" -draw "rectangle 36,14 120,19" \
  -fill '#c9a227' -draw "rectangle 36,22 100,27" \
  -colors 256 -depth 8 "PPM:$out/logo.ppm"
bmp8 "$out/logo.ppm" "$out/logo.bmp"

# Icons: 1 a disk, 2 a globe, 3 a download arrow; MAINICON a chip.
icon() {  # name size draw...
  local name=$1 size=$2; shift 2
  "$im" -size "${size}x${size}" xc:none "$@" "PNG32:$out/$name-$size.png"
}
for s in 16 32; do
  k=$((s / 16))
  icon method1 $s -fill '#6b6b6b' -draw "rectangle $((2*k)),$((2*k)) $((13*k)),$((13*k))" \
    -fill '#d0d0d0' -draw "rectangle $((4*k)),$((2*k)) $((11*k)),$((6*k))" \
    -fill '#2f6db5' -draw "rectangle $((4*k)),$((9*k)) $((11*k)),$((12*k))"
  icon method2 $s -fill '#2f6db5' -draw "circle $((8*k)),$((8*k)) $((8*k)),$((2*k))" \
    -fill '#5fbf5f' -draw "rectangle $((5*k)),$((5*k)) $((9*k)),$((8*k))" \
    -stroke '#d9e6f5' -fill none -draw "line $((2*k)),$((8*k)) $((14*k)),$((8*k))"
  icon method3 $s -fill '#2f6db5' -draw "rectangle $((6*k)),$((2*k)) $((10*k)),$((8*k))" \
    -draw "polygon $((3*k)),$((8*k)) $((13*k)),$((8*k)) $((8*k)),$((13*k))" \
    -fill '#6b6b6b' -draw "rectangle $((2*k)),$((14*k)) $((14*k)),$((15*k))"
done
"$im" "$out/method1-32.png" "$out/method1-16.png" "$out/method1.ico"
"$im" "$out/method2-32.png" "$out/method2-16.png" "$out/method2.ico"
"$im" "$out/method3-32.png" "$out/method3-16.png" "$out/method3.ico"
icon main 16 -fill '#0b2a5b' -draw "rectangle 3,3 12,12" -fill '#c9a227' \
  -draw "rectangle 1,5 2,6" -draw "rectangle 1,9 2,10" -draw "rectangle 13,5 14,6" -draw "rectangle 13,9 14,10"
"$im" "$out/main-16.png" "$out/mainicon.ico"
