#!/usr/bin/env bash
# Installs, builds and runs the whole suite: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the tests labelled "concurrency" again under
# ThreadSanitizer, then the fuzz targets for a bounded time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
start=$(date +%s)
elapsed() { echo "$(( $(date +%s) - start )) s"; }
bash scripts/install-deps.sh

passed=0
failed=0
# Runs ctest in a build tree, keeping its exit status and adding its counts to the totals.
run_ctest() {
  local dir=$1; shift
  local log; log=$(mktemp)
  local rc=0
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 300 "$@") 2>&1 | tee "$log" || rc=$?
  local line; line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local total fail
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    fail=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fail))
    failed=$((failed + fail))
  fi
  rm -f "$log"
  return $rc
}

bash scripts/build.sh build-asan address
echo "asan+ubsan build done after $(elapsed)"
run_ctest build-asan
echo "asan+ubsan suite done after $(elapsed)"

bash scripts/build.sh build-tsan thread -DPAVIX_ONLY_CONCURRENCY=ON -DPAVIX_BUILD_BENCHMARKS=OFF
echo "tsan build done after $(elapsed)"
run_ctest build-tsan -L concurrency
echo "tsan concurrency suite done after $(elapsed)"

if [ -x scripts/fuzz.sh ]; then
  bash scripts/fuzz.sh
fi
echo "whole suite done after $(elapsed)"
echo "suite: $passed passed, $failed failed"
