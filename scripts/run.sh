#!/usr/bin/env bash
# Installs what is needed, builds Veltrano and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${VELTRANO_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
exec "$build/veltrano" "$@"
