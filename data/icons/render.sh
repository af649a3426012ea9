#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the hicolor PNG sizes from ringpost.svg. Run after editing the SVG and
# commit the results; the build only copies them.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  # -strip keeps time stamps out, so an unchanged SVG renders to identical files.
  convert -background none ringpost.svg -resize "${size}x${size}" -depth 8 -strip \
    "PNG32:ringpost-${size}.png"
done
