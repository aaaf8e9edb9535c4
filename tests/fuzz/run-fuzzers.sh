#!/usr/bin/env bash
# Builds every libFuzzer target tests/fuzz/fuzz_*.cpp with clang against the model
# library (instrumented, with AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each for the given number of seconds (default 60). Not part of CI.
#
#   tests/fuzz/run-fuzzers.sh [seconds] [target-name ...]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
build=build-fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g -O1"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DORVEL_TESTS=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvel_core >/dev/null
libs="$build/liborvel_core.a $(pkg-config --libs netcdf-cxx4) -fopenmp"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
status=0
for t in "${targets[@]}"; do
  bin="$build/$t"
  clang++ -std=c++17 $flags -fsanitize=fuzzer -Isrc "tests/fuzz/$t.cpp" $libs -o "$bin"
  corpus="$build/corpus-$t"
  mkdir -p "$corpus"
  [ -d "tests/fuzz/corpus/$t" ] && cp -n tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  echo "== $t: ${seconds}s"
  (cd "$build" && "./$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 "corpus-$t") || status=1
done
exit $status
