#!/usr/bin/env bash
# Builds every libFuzzer target tests/fuzz/fuzz_*.cpp with clang against the model
# library (instrumented, with AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each for the given number of seconds (default 60), one after the other. Not part of CI.
#
#   tests/fuzz/run-fuzzers.sh [seconds] [target-name ...]
#
# Each target's log goes to build-fuzz/log-<target>.txt and whatever it finds (crash-*,
# leak-*, timeout-*, oom-* inputs) to build-fuzz/findings-<target>/. The closing table
# gives the executions and the findings of every target; the exit status is 1 when any
# target found something. ORVEL_FUZZ_NO_BUILD=1 reuses the library already built (so that
# a second run can go on beside the first one).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
build=build-fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g -O1"
if [ "${ORVEL_FUZZ_NO_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DORVEL_TESTS=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
  cmake --build "$build" -j "${ORVEL_FUZZ_JOBS:-4}" --target orvel_core >/dev/null
fi
libs="$build/liborvel_core.a $(pkg-config --libs netcdf-cxx4) -fopenmp"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

# Executions of a finished run: libFuzzer's closing "Done N runs", else the last status
# line "#N ..." (a run that stopped on a finding prints no closing line).
executions() {
  local n
  n=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$1" | tail -1)
  [ -n "$n" ] || n=$(sed -n 's/^#\([0-9]*\)[[:space:]].*/\1/p' "$1" | tail -1)
  echo "${n:-0}"
}

status=0
summary=()
for t in "${targets[@]}"; do
  bin="$build/$t"
  clang++ -std=c++17 $flags -fsanitize=fuzzer -Isrc "tests/fuzz/$t.cpp" $libs -o "$bin"
  corpus="$build/corpus-$t"
  findings="$build/findings-$t"
  log="$build/log-$t.txt"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  [ -d "tests/fuzz/corpus/$t" ] && cp -n tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  echo "== $t: ${seconds}s"
  rc=0
  (cd "$build" && "./$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="findings-$t/" "corpus-$t") >"$log" 2>&1 || rc=$?
  found=$(find "$findings" -type f | wc -l)
  [ "$rc" -eq 0 ] && [ "$found" -eq 0 ] || status=1
  summary+=("$(printf '%-28s %14s executions %4s findings (exit %s)' "$t" "$(executions "$log")" "$found" "$rc")")
  echo "${summary[-1]}"
done
echo "== summary (${seconds}s each)"
printf '%s\n' "${summary[@]}"
exit $status
