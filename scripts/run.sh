#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Meridane and runs it on the given paths: the window when a display
# is available ($DISPLAY or $WAYLAND_DISPLAY), meridane-cli otherwise (options
# pass through, see --help). Without a path the CLI runs on a copy of
# samples/, so the committed samples are never modified, even with --write.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# With a display the window opens on the paths; without one the CLI runs.
gui=false
targets=(meridane-cli)
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  gui=true
  targets=(meridane)
fi

# An optimised build (the release preset, in build-release/): the program
# people run, at full speed.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
if ! ( cd "$root" && ./scripts/setup.sh && cmake --preset release &&
       cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}" ) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "run.sh: the build failed (output above)" >&2
  exit 2
fi

if $gui; then
  exec "$root/build-release/bin/meridane" "$@"
fi

has_path=false
options_ended=false
for argument in "$@"; do
  if $options_ended || [[ "$argument" != -* || "$argument" == "-" ]]; then
    has_path=true
  elif [[ "$argument" == "--" ]]; then
    options_ended=true
  elif [[ "$argument" == "--help" || "$argument" == "-h" || "$argument" == "--version" ]]; then
    has_path=true  # nothing to run on
  fi
done

if $has_path; then
  exec "$root/build-release/bin/meridane-cli" "$@"
fi

samples="$(mktemp -d)"
trap 'rm -f "$log"; rm -rf "$samples"' EXIT
cp -R "$root/samples/." "$samples/"
echo "No path given: running on a copy of samples/ ($samples)." >&2
status=0
(cd "$samples" && "$root/build-release/bin/meridane-cli" "$@" .) || status=$?
exit "$status"
