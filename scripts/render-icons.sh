#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from its SVG into
# data/icons/hicolor/<size>x<size>/apps/. The PNGs are checked in, so a
# build needs no SVG renderer; run this after changing the SVG (needs
# rsvg-convert, Debian package librsvg2-bin).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
icons="$root/data/icons/hicolor"
svg="$icons/scalable/apps/org.kestrin.Quellmark.svg"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$icons/${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" --format png \
        --output "$icons/${size}x${size}/apps/org.kestrin.Quellmark.png" "$svg"
done
