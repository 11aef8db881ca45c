#!/usr/bin/env bash
# Installs what is needed, builds Veltrano with warnings as errors and runs the
# whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${VELTRANO_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANO_WERROR=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
