#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + ASan + UBSan) and runs each for a bounded
# time on its seed corpus. Every fuzz/<name>/ folder gives a target bin/fuzz_<name> and a
# seed corpus in fuzz/<name>/corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${PAVIX_FUZZ_SECONDS:-30}
ls fuzz/*/CMakeLists.txt >/dev/null 2>&1 || { echo "no fuzz targets"; exit 0; }
CC=clang CXX=clang++ bash scripts/build.sh build-fuzz none -DPAVIX_FUZZ=ON -DPAVIX_BUILD_TESTS=OFF
for dir in fuzz/*/; do
  name=$(basename "$dir")
  bin=build-fuzz/bin/fuzz_$name
  [ -x "$bin" ] || { echo "missing $bin"; exit 1; }
  work=$(mktemp -d)
  cp -r "$dir/corpus/." "$work/" 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" 2>&1 | tail -n 12
  rm -rf "$work"
done
