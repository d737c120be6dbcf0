#!/usr/bin/env bash
# Builds the benchmark programs without sanitizers (optimised) and runs each; they print every
# figure beside its target. Extra arguments name the programs to run (default: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  benches=(HistoryBench SettingsBench IdleBench RegistryBench)
fi
cmake --build "$build" -j "$(nproc)" --target "${benches[@]}" ZBEngineIcon
for bench in "${benches[@]}"; do
  echo "== $bench"
  "$build/bin/$bench"
done
