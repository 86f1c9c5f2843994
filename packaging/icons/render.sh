#!/usr/bin/env bash
# Renders the PNG sizes of the icon from qrb.svg (librsvg2-bin); run after changing the drawing and
# commit the PNGs, so that building the package needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" qrb.svg -o "qrb-$size.png"
done
