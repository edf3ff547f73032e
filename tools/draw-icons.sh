#!/bin/sh
# Redraws the desktop icons (PNG, for icon themes) from the window icon's art,
# resources/marovane.ico: the 32 x 32 picture as it is, and enlarged pixel for
# pixel to 64, 128 and 256. Run from the source tree after changing the icon.
set -e
cd "$(dirname "$0")/.."
for s in 32 64 128 256; do
  mkdir -p "resources/desktop/icons/${s}x${s}"
  convert resources/marovane.ico -filter point -resize "${s}x${s}" -strip \
    "resources/desktop/icons/${s}x${s}/marovane.png"
done
