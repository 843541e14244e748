#!/usr/bin/env bash
# Renders the PNG sizes of the icon from skarvel.svg (needs rsvg-convert: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" skarvel.svg -o "skarvel-$size.png"
done
