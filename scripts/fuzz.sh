#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a bounded time, seeded from
# the repository's fixtures and the shared corpus. A crash leaves its input in
# build-fuzz/findings/<target>/; copy it to fuzz/regressions/<target>/ so the
# test suite replays it from then on.
#
#   ./scripts/fuzz.sh                 every target, 60 s each
#   FUZZ_SECONDS=600 ./scripts/fuzz.sh sidecar
#   FUZZ_RUNS=10000000 ./scripts/fuzz.sh tiffreader   a number of executions instead
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
limit=(-max_total_time="$seconds")
[[ -n ${FUZZ_RUNS:-} ]] && limit=(-runs="$FUZZ_RUNS")
build=${FUZZ_BUILD_DIR:-build-fuzz}
corpus=${MERIDANE_CORPUS:-../shared/corpus}
targets=("$@")
((${#targets[@]})) || targets=(gpstext sidecar xmppacket tiffreader heifreader)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMERIDANE_FUZZ=ON -DMERIDANE_BUILD_TESTS=OFF -DMERIDANE_BUILD_BENCH=OFF -DMERIDANE_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]/#/meridane_fuzz_}"

# Seeds: small committed ones, plus the fixtures and the corpus. Images are cut
# to their first 64 KiB, where their metadata lives, so that mutations stay fast.
seed_dir() {
  local target=$1 dir="$build/seeds/$1"
  rm -rf "$dir" && mkdir -p "$dir"
  [[ -d fuzz/seeds/$target ]] && cp fuzz/seeds/"$target"/* "$dir"/ 2>/dev/null || true
  [[ -d fuzz/regressions/$target ]] && cp fuzz/regressions/"$target"/* "$dir"/ 2>/dev/null || true
  case $target in
    sidecar | xmppacket)
      find "$corpus" tests/data -iname '*.xmp' -type f 2>/dev/null | while read -r f; do
        cp "$f" "$dir/seed-$(basename "$f")"; done ;;
    tiffreader | heifreader)
      local pattern=(-iname '*.dng')
      [[ $target == heifreader ]] && pattern=(-iname '*.heic' -o -iname '*.heif' -o -iname '*.hif')
      find "$corpus" tests/data -type f \( "${pattern[@]}" \) 2>/dev/null |
        while read -r f; do head -c 65536 "$f" >"$dir/seed-$(basename "$f")"; done ;;
  esac
  echo "$dir"
}

status=0
for target in "${targets[@]}"; do
  seeds=$(seed_dir "$target")
  work="$build/corpus/$target" findings="$build/findings/$target"
  mkdir -p "$work" "$findings"
  echo "== $target: ${limit[*]} from $(ls "$seeds" | wc -l) seeds"
  log="$build/fuzz-$target.log"
  if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
     "$build/bin/meridane_fuzz_$target" "$work" "$seeds" "${limit[@]}" -max_len=65536 \
       -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1; then
    echo "   no crash: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') executions," \
         "$(grep -E 'cov: [0-9]+' -o "$log" | tail -1)"
  else
    status=1
    echo "   FAILED, see $log and $findings/"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
  fi
done
exit $status
