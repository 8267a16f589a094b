#!/usr/bin/env bash
# Builds everything and runs the whole test suite (the release build; --asan for the sanitizer build).
set -euo pipefail
cd "$(dirname "$0")/.."
preset=default
[ "${1:-}" = "--asan" ] && preset=asan
scripts/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
