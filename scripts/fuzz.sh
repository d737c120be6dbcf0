#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz) with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build/fuzz and runs each for SECONDS (default 60), starting from
# its seeds in tests/fuzz/corpus/<target>. Fails when any target crashes, hangs (10 s on one
# input), leaks or runs out of memory; the input that did it is kept in build/fuzz/artifacts and
# belongs, once mended, in tests/fuzz/regressions/<target>/ (the unit tests replay it).
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
ZB_FUZZ=1 scripts/setup.sh
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DZB_FUZZ=ON -DZB_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_all

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in tests/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  status=0
  "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1 ||
    status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    echo "fuzz $target: ${runs:-?} inputs, no finding"
  else
    echo "fuzz $target: FINDING after ${runs:-?} inputs (exit $status), see $log and $artifacts"
    grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -5 || true
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz findings in: ${failed[*]}"
  exit 1
fi
