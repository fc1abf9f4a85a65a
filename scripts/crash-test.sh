#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Kills meridane-cli with SIGKILL at random moments of write runs and checks
# every sidecar after each kill (tests/hardening/CrashConsistencyTest.cpp).
#   ./scripts/crash-test.sh                  200 kills
#   KILLS=2000 SEED=12345 ./scripts/crash-test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
[[ -d "$build" ]] || cmake --preset dev
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target meridane_crash_tests meridane-cli
export MERIDANE_CRASH_KILLS=${KILLS:-200}
[[ -n "${SEED:-}" ]] && export MERIDANE_CRASH_SEED=$SEED
"$build/bin/meridane_crash_tests"
