#!/usr/bin/env bash
# Builds Meridane and runs its main job on the given paths.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh >/dev/null
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

echo "Meridane's engine is built; the command-line front end and the window are not there yet."
