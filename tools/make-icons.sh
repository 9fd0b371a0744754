#!/bin/bash
# Renders the program's icon from its SVG source into the sizes a desktop asks for:
#   tools/make-icons.sh <icon.svg> <output-dir>
# writes <output-dir>/unveilo-{16,32,48,256}.png and unveilo.ico (all four sizes; the 256 one
# stored as PNG, as Windows Vista and later read it). rsvg-convert (librsvg2-bin) draws, icotool
# (icoutils) packs; neither writes a date, so the same SVG gives the same bytes.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 <icon.svg> <output-dir>" >&2
    exit 2
fi
svg=$1
out=$2
mkdir -p "$out"
for size in 16 32 48 256; do
    rsvg-convert --width "$size" --height "$size" --format png --output "$out/unveilo-$size.png" \
        "$svg"
done
icotool --create --output "$out/unveilo.ico" "$out/unveilo-16.png" "$out/unveilo-32.png" \
    "$out/unveilo-48.png" --raw="$out/unveilo-256.png"
