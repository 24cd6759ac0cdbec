#!/usr/bin/env bash
# Renders the PNG sizes of the icon from data/icons/keyflare.svg (needs rsvg-convert, from
# librsvg2-bin). The PNGs are kept in the repository, so building needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for n in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$n" -h "$n" keyflare.svg -o "keyflare-$n.png"
done
