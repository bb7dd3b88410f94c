#!/usr/bin/env bash
# Draws the example's title picture (insttscr.png) with ImageMagick and the IPA Gothic font.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf
convert -size 256x256 gradient:'#1b2a5c'-'#6a8fd0' \
  -font "$font" -fill white -gravity north \
  -pointsize 30 -annotate +0+60 'デモゲーム' \
  -pointsize 18 -annotate +0+110 'アップデート 1.10' \
  -fill '#ffd84a' -draw 'circle 128,190 128,215' \
  -fill '#1b2a5c' -pointsize 22 -annotate +0+178 '表' \
  -depth 8 PNG24:insttscr.png
