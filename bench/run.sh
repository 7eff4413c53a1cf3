#!/usr/bin/env bash
# Runs every benchmark (bench/bench-*.sh) against an optimised native build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build --preset native -j "$(nproc)"
for script in bench/bench-*.sh; do
  printf '\n=== %s\n' "$script"
  bash "$script" build/native
done
