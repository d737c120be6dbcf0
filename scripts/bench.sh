#!/usr/bin/env bash
# Builds without sanitizers into build/bench and runs every benchmark; each prints its figures
# beside their targets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_SANITIZE=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target zbengine zbsync zbengine_pages bench_http
for bench in "$build"/bin/bench_*; do
  "$bench"
done
