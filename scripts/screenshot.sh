#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the window under a virtual X display after a dry run over a copy of
# samples/ and saves it as docs/screenshot.png (or the file given).
# Usage: scripts/screenshot.sh [OUTPUT.png]   (BUILD_DIR overrides build/)
set -euo pipefail
cd "$(dirname "$0")/.."

output=${1:-docs/screenshot.png}
build=${BUILD_DIR:-build}
program="$build/bin/meridane"
if [[ ! -x "$program" ]]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev -j "$(nproc 2>/dev/null || echo 2)" --target meridane >/dev/null
  program=build/bin/meridane
fi

# A copy, so the run can never touch the repository's samples.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r samples "$work/samples"
mkdir -p "$(dirname "$output")"

# A light theme and a fixed font size, so every screenshot looks alike.
QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= QT_STYLE_OVERRIDE=Fusion QT_FONT_DPI=96 \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$program" --screenshot "$work/shot.png" "$work/samples" >/dev/null

# Keep the PNG small enough for the repository.
if convert -version >/dev/null 2>&1; then
  convert "$work/shot.png" -strip -define png:compression-level=9 "$output"
else
  cp "$work/shot.png" "$output"
fi
echo "Saved $output ($(du -k "$output" | cut -f1) KiB)"
