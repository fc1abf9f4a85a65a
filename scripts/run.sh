#!/usr/bin/env bash
# Builds meridane-cli and runs it on the given paths (options pass through,
# see --help). Without a path it runs on a copy of samples/, so the committed
# samples are never modified, even with --write.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! ( cd "$root" && ./scripts/setup.sh && cmake --preset dev &&
       cmake --build --preset dev -j "$(nproc 2>/dev/null || echo 2)" --target meridane-cli ) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "run.sh: the build failed (output above)" >&2
  exit 2
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
  exec "$root/build/bin/meridane-cli" "$@"
fi

samples="$(mktemp -d)"
trap 'rm -f "$log"; rm -rf "$samples"' EXIT
cp -R "$root/samples/." "$samples/"
echo "No path given: running on a copy of samples/ ($samples)." >&2
status=0
(cd "$samples" && "$root/build/bin/meridane-cli" "$@" .) || status=$?
exit "$status"
