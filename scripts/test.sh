#!/usr/bin/env bash
# Installs, builds and runs the whole suite: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the tests labelled "concurrency" again under
# ThreadSanitizer, then the fuzz targets for a bounded time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
start=$(date +%s)
bash scripts/install-deps.sh

bash scripts/build.sh build-asan address
(cd build-asan && ctest --output-on-failure -j "$(nproc)" --timeout 300)
echo "asan+ubsan suite done after $(( $(date +%s) - start )) s"

bash scripts/build.sh build-tsan thread -DPAVIX_ONLY_CONCURRENCY=ON -DPAVIX_BUILD_BENCHMARKS=OFF
(cd build-tsan && ctest --output-on-failure -j "$(nproc)" -L concurrency --timeout 300)
echo "tsan concurrency suite done after $(( $(date +%s) - start )) s"

if [ -x scripts/fuzz.sh ]; then
  bash scripts/fuzz.sh
fi
echo "whole suite done after $(( $(date +%s) - start )) s"
