#!/usr/bin/env bash
# build.sh <build-dir> <none|address|thread> [extra cmake args...] : configure and build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}; san=${2:-none}; shift $(( $# > 2 ? 2 : $# ))
cmake -S "$root" -B "$root/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAVIX_SANITIZE="$san" "$@"
cmake --build "$root/$dir" -j "$(nproc)"
