#!/usr/bin/env bash
# Installs, builds and runs renovo against the built-in virtual probes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
bash scripts/build.sh build none
./build/bin/renovo
