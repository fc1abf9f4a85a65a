#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, configures, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

preset=dev
[[ "${CI:-}" == "true" ]] && preset=ci
jobs=$(nproc 2>/dev/null || echo 2)

# Let ccache reuse objects across clones in other folders (CI builds a fresh
# clone each time).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

cmake --preset "$preset"
cmake --build --preset "$preset" -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$jobs" --output-on-failure

# The engine's tests and the hardening tests once more, built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer (MERIDANE_SKIP_ASAN=1 leaves
# this out of a quick local run).
if [[ "${MERIDANE_SKIP_ASAN:-}" != "1" ]]; then
  cmake --preset asan
  cmake --build --preset asan -j "$jobs"
  QT_QPA_PLATFORM=offscreen ctest --preset asan -j "$jobs" --output-on-failure
fi
