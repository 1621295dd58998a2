#!/bin/sh
# Renders the icon sources (src/gui/resources/svg/*.svg) to the PNG files the resource file
# lists (src/gui/resources/Resources/*.png), each at the pixel size its SVG declares.
# The build uses the committed PNGs; run this after changing an SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
src="$here/src/gui/resources/svg"
out="$here/src/gui/resources/Resources"

if ! command -v rsvg-convert >/dev/null 2>&1; then
  echo "render-icons: rsvg-convert not found (apt-get install librsvg2-bin)" >&2
  exit 1
fi

mkdir -p "$out"
for svg in "$src"/*.svg; do
  name=$(basename "$svg" .svg)
  rsvg-convert --format=png --output="$out/$name.png" "$svg"
  echo "$name.png"
done
