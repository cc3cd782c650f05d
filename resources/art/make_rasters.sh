#!/usr/bin/env bash
# Produces the raster resources from their SVG sources with Qt's SVG renderer:
# rsc/LOGO-03.jpg (window icon) and icon/loading.gif (the loading animation).
# Needs g++, pkg-config, the Qt 6 development packages and ImageMagick.
set -euo pipefail
art=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
res=$(dirname "$art")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 "$art/make_brand.py" "$tmp/spinner"
g++ -std=c++17 -fPIC $(pkg-config --cflags Qt6Gui Qt6Svg) "$art/rasterise.cpp" -o "$tmp/rasterise" \
    $(pkg-config --libs Qt6Gui Qt6Svg)
export QT_QPA_PLATFORM=offscreen

"$tmp/rasterise" "$res/icon/AppIconSVG.svg" "$res/rsc/LOGO-03.jpg" 256 256 '#1c1c1e'

# GIF transparency is all or nothing: the spinner is laid on the top bar's
# colour so its soft edges blend there, and that colour is then keyed out.
for f in "$tmp"/spinner/frame*.svg; do
    "$tmp/rasterise" "$f" "$tmp/$(basename "$f" .svg).png" 64 64 '#212124'
done
convert -delay 7 -loop 0 -dispose background "$tmp"/frame*.png -transparent '#212124' "$res/icon/loading.gif"
echo "wrote rsc/LOGO-03.jpg and icon/loading.gif"
