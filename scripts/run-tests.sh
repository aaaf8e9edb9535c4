#!/usr/bin/env bash
# Builds the model and its tests twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs the whole test suite in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
# ORVEL_JOBS sets how many compilers (and test programs) run at once; every core by default.
jobs=${ORVEL_JOBS:-$(nproc 2>/dev/null || echo 2)}
# The install script provides the outside tools that some tests check against (GDAL, cdo,
# python3): here a missing one fails its test instead of skipping it.
export ORVEL_REQUIRE_TOOLS=1

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && OMP_NUM_THREADS=2 ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   OMP_NUM_THREADS=2 ctest --output-on-failure -j "$jobs")
