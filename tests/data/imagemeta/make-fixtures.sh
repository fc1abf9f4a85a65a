#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the small image fixtures of the image metadata tests. Needs heif-enc
# (Debian libheif-examples), exiftool (libimage-exiftool-perl) and ImageMagick.
# The files are committed; run this again only to change them, then update the
# expected lines in tests/imagemeta.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A tiny picture keeps every fixture at a few KB.
convert -size 16x16 gradient:red-blue "$work/pixels.png"
convert "$work/pixels.png" -quality 80 "$work/pixels.jpg"

exif() { exiftool -q -overwrite_original -n "$@"; }

# iPhone photo, southern and western hemisphere, Exif written by libheif
# (heif-enc copies the Exif of its JPEG input into an Exif item).
cp "$work/pixels.jpg" "$work/rio.jpg"
exif -Make=Apple -Model="iPhone 15 Pro" -Software=17.4.1 \
  -GPSLatitude=22.95191944 -GPSLatitudeRef=S -GPSLongitude=43.21048611 -GPSLongitudeRef=W "$work/rio.jpg"
heif-enc -q 50 -o iphone-rio.heic "$work/rio.jpg" >/dev/null

# iPad photo, southern and eastern hemisphere, GPS added by exiftool after
# encoding (an edited file: the Exif item is rewritten where exiftool puts it).
heif-enc -q 50 -o ipad-sydney.heic "$work/pixels.png" >/dev/null
exif -Make=Apple -Model="iPad Pro (11-inch)" -Software=17.2 \
  -GPSLatitude=33.85678444 -GPSLatitudeRef=S -GPSLongitude=151.21529667 -GPSLongitudeRef=E ipad-sydney.heic

# Another maker's HEIF with camera data and no position.
cp "$work/pixels.jpg" "$work/pixel.jpg"
exif -Make=Google -Model="Pixel 8" -Software="HDR+ 1.0.612345" "$work/pixel.jpg"
heif-enc -q 50 -o pixel-no-gps.heif "$work/pixel.jpg" >/dev/null

# HEIC without any Exif item.
heif-enc -q 50 -o no-exif.heic "$work/pixels.png" >/dev/null

# DNG: a TIFF that carries the DNG version tag, as a camera's raw file does.
convert "$work/pixels.png" -depth 8 "$work/raw.tif"
exif -DNGVersion="1 6 0 0" -Make=Apple -Model="iPhone 14 Pro" -Software=16.5 \
  -GPSLatitude=48.85837 -GPSLatitudeRef=N -GPSLongitude=2.294481 -GPSLongitudeRef=E "$work/raw.tif"
mv "$work/raw.tif" iphone-proraw-paris.dng

# A JPEG whose name says HEIC: the reader decides by content.
# (exiftool itself refuses to write a file whose name lies, hence the move.)
cp "$work/pixels.jpg" "$work/tokyo.jpg"
exif -Make=Canon -Model="Canon EOS R6" -GPSLatitude=35.65858 -GPSLatitudeRef=N \
  -GPSLongitude=139.74543 -GPSLongitudeRef=E "$work/tokyo.jpg"
mv "$work/tokyo.jpg" jpeg-named.heic

ls -l ./*.heic ./*.heif ./*.dng
