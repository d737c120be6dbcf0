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
    CommandServerBench ClientFilterBench HttpSoakBench)
fi
# Everything, so the benches find every program they start and the optimised build keeps linking.
cmake --build "$build" -j "$(nproc)"
for bench in "${benches[@]}"; do
  echo "== $bench"
  "$build/bin/$bench"
done
