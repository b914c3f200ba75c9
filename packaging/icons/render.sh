#!/usr/bin/env bash
# Renders the program's icon, drawn once as SVG, to the PNG sizes of the
# hicolor theme. The PNGs are kept in the repository so that a build needs no
# SVG renderer; run this after changing the SVG (needs rsvg-convert, from
# Debian's librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/hicolor"
svg=scalable/apps/org.example.quenlow.svg
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "$svg" --output "${size}x${size}/apps/org.example.quenlow.png"
done
