#!/usr/bin/env bash
# Installs, builds and runs renovo against the built-in virtual probes
# (scripts/scenarios/demo.scenario), with the library's log lines shown.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
bash scripts/build.sh build none
exec ./build/bin/pavix-vprobe scripts/scenarios/demo.scenario -- ./build/bin/renovo --debug
