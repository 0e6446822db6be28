#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, ASan + UBSan) and runs each for a while.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 60 s, every target
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_JOBS (targets run
# at once, default 1), FUZZ_NICE (nice level, default 0).
# A crash, a sanitizer report, a leak, one input taking more than 10 s, or more than
# 2 GiB of memory fails the run; the input is kept under $FUZZ_BUILD/artifacts/.
# The seeds in fuzz/corpus/<target>/ are read, never written: what the fuzzer learns
# goes to $FUZZ_BUILD/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=${FUZZ_BUILD:-build-fuzz}
jobs=${FUZZ_JOBS:-1}
nice_level=${FUZZ_NICE:-0}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DVTO_FUZZ=ON \
  -DVTO_BUILD_TESTS=OFF -DVTO_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
nice -n "$nice_level" cmake --build "$build" -j "$(nproc)" --target fuzzers

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for d in fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi

mkdir -p "$build/artifacts" "$build/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local t=$1 work="$build/corpus/$1" log="$build/logs/$1.log"
  mkdir -p "$work"
  if nice -n "$nice_level" "$build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -timeout=10 -detect_leaks=1 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    local n
    n=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$')
    echo "$(date -u +%FT%TZ) $t ${seconds}s $n" >>"$build/logs/summary.txt"
    echo "$t: $n executions, no finding"
    return 0
  fi
  echo "$t: FINDING (log $log)"
  grep -E "ERROR|SUMMARY|fuzz check failed|runtime error" "$log" | head -5 || true
  return 1
}

failed=0
running=0
for t in "${targets[@]}"; do
  if [[ $running -ge $jobs ]]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
while [[ $running -gt 0 ]]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
