#!/usr/bin/env bash
# Builds the programs and the benchmarks optimised, without sanitizers, into build/bench and runs
# the benchmarks; each prints every figure beside its target. Extra arguments name the benchmarks
# to run (default: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_SANITIZE=OFF >/dev/null
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  benches=(RunItemListBench HistoryBench SettingsBench IdleBench DueMinuteBench RegistryBench HttpBench
    CommandServerBench ClientFilterBench)
fi
# The benches and the programs they start; the test programs are the test command's.
cmake --build "$build" -j "$(nproc)" --target "${benches[@]}" zbengine zbsync zbengine_pages ZBEngineIcon
for bench in "${benches[@]}"; do
  echo "== $bench"
  "$build/bin/$bench"
done
