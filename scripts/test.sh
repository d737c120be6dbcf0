#!/usr/bin/env bash
# Builds everything with the sanitizers, gives each fuzz target a few seconds and runs every test
# (unit and end-to-end). Extra arguments go to ctest (and leave the fuzzing out), e.g.
# scripts/test.sh -L unit  or  -R Format.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --tests
scripts/check-layout.sh
build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZB_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
# intercept_tls_get_addr=0: the sanitizer runtime of g++ 12 misreads the thread-local block of a
# loaded shared object (the task-scheduler library) and can crash at exit.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The whole suite also gives every fuzz target a few seconds (scripts/fuzz.sh runs them longer),
# first, so that ctest's summary closes the output.
if [ $# -eq 0 ]; then scripts/fuzz.sh 3; fi
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
