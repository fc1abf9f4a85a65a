#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

preset=dev
[[ "${CI:-}" == "true" ]] && preset=ci
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset "$preset"
cmake --build --preset "$preset" -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$jobs" --output-on-failure
