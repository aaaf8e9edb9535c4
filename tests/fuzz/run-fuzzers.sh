#!/usr/bin/env bash
# Builds every libFuzzer target tests/fuzz/fuzz_*.cpp with clang against the model
# library (instrumented, with AddressSanitizer and UndefinedBehaviorSanitizer including
# float-cast-overflow) and runs each for the given number of seconds (default 60). Not
# part of CI.
#
#   tests/fuzz/run-fuzzers.sh [seconds] [target-name ...]
#
# A target stops at its first sanitizer report (memory error, leak, undefined behaviour)
# or crash, and the input that caused it is left in build-fuzz/findings-<target>/
# (crash-*, leak-*, timeout-*, oom-*); its log goes to build-fuzz/log-<target>.txt. The
# closing table gives the executions and the findings of every target; the exit status
# is 1 when any target found something.
#
# Leaks that LeakSanitizer finds inside the netCDF and HDF5 libraries themselves are
# suppressed (tests/fuzz/lsan-suppressions.txt).
#
# A target may give libFuzzer further options in tests/fuzz/<target>.flags (for example a
# -max_len above the 1 MiB that libFuzzer otherwise cuts every seed to).
#
#   ORVEL_FUZZ_NO_BUILD=1   reuse the library already built (a second run beside the first)
#   ORVEL_FUZZ_PARALLEL=N   run N targets at a time (default 1)
#   ORVEL_FUZZ_RUNNER=cmd   run each target's build and run through cmd (e.g. a job-slot
#                           wrapper that limits how many run on a shared machine)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
build=build-fuzz
sanitizers="address,undefined,float-cast-overflow"
flags="-fsanitize=fuzzer-no-link,$sanitizers -fno-sanitize-recover=undefined,float-cast-overflow"
flags="$flags -fno-omit-frame-pointer -g -O1"
parallel=${ORVEL_FUZZ_PARALLEL:-1}
read -r -a runner <<<"${ORVEL_FUZZ_RUNNER:-}"
if [ "${ORVEL_FUZZ_NO_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DORVEL_TESTS=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
  ${runner[@]+"${runner[@]}"} cmake --build "$build" -j "${ORVEL_FUZZ_JOBS:-4}" --target orvel_core >/dev/null
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

# Builds and runs one target; its line of the closing table goes to summary-<target>.txt.
run_target() {
  local t=$1 bin="$build/$1" corpus="$build/corpus-$1" findings="$build/findings-$1" log="$build/log-$1.txt"
  local rc=0 found options=()
  [ -f "tests/fuzz/$t.flags" ] && read -r -a options <"tests/fuzz/$t.flags"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  [ -d "tests/fuzz/corpus/$t" ] && cp -n tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  echo "== $t: ${seconds}s"
  {
    clang++ -std=c++17 $flags -fsanitize=fuzzer -Isrc "tests/fuzz/$t.cpp" $libs -o "$bin" &&
      (cd "$build" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        LSAN_OPTIONS=suppressions="$suppressions" \
        "./$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 ${options[@]+"${options[@]}"} \
        -artifact_prefix="findings-$t/" "corpus-$t")
  } >"$log" 2>&1 || rc=$?
  found=$(find "$findings" -type f | wc -l)
  printf '%-32s %14s executions %4s findings (exit %s)\n' "$t" "$(executions "$log")" "$found" "$rc" \
    >"$build/summary-$t.txt"
  cat "$build/summary-$t.txt"
}
export -f run_target executions
suppressions="$PWD/tests/fuzz/lsan-suppressions.txt"
export build seconds flags libs suppressions

running=0
for t in "${targets[@]}"; do
  rm -f "$build/summary-$t.txt"
  if [ "$parallel" -le 1 ]; then
    ${runner[@]+"${runner[@]}"} bash -c 'run_target "$0"' "$t"
    continue
  fi
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  ${runner[@]+"${runner[@]}"} bash -c 'run_target "$0"' "$t" &
  running=$((running + 1))
done
wait || true

status=0
echo "== summary (${seconds}s each)"
for t in "${targets[@]}"; do
  line=$(cat "$build/summary-$t.txt" 2>/dev/null || printf '%-32s did not run\n' "$t")
  echo "$line"
  case "$line" in *" 0 findings (exit 0)") ;; *) status=1 ;; esac
done
exit $status
