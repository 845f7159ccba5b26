#!/bin/sh
# Regenerates the PNG fixtures and their expected RGBA (ImageMagick 6.9).
set -e
convert -size 13x11 pattern:checkerboard -threshold 50% -define png:color-type=0 -define png:bit-depth=1 -interlace PNG gray1_adam7.png
convert -size 13x11 xc:none -fill red -draw 'rectangle 2,2 8,6' -fill blue -draw 'circle 9,7 11,9' -define png:color-type=3 -depth 4 pal4_trns.png
convert -size 13x11 gradient:'rgba(255,0,0,0.2)'-'rgba(0,0,255,0.9)' -define png:color-type=6 -depth 16 rgba16.png
convert -seed 3 -size 13x11 plasma:red-yellow -define png:color-type=2 -depth 8 -interlace PNG rgb8_adam7.png
convert -size 13x11 gradient:white-black -alpha set -channel A -evaluate set 60% +channel -define png:color-type=4 -depth 8 graya8.png
for f in gray1_adam7 pal4_trns rgb8_adam7 graya8; do convert $f.png -depth 8 rgba:$f.rgba; done
convert rgba16.png -depth 16 -endian LSB rgba:rgba16.rgba
