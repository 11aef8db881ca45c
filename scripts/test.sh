#!/usr/bin/env bash
# Installs what is needed, builds Veltrano with warnings as errors and runs the
# whole test suite headless; then the same suite built with AddressSanitizer
# and UndefinedBehaviorSanitizer, and a short run of every fuzz target from
# that build. (The ThreadSanitizer run, scripts/sanitize.sh tsan, is made by
# hand: its build alone would add a quarter of an hour here.)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
# The builds share compiled objects across clones of the repository.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
part() { echo "test.sh: $1 took $(($(date +%s) - $2)) s"; }

start=$(date +%s)
build=${VELTRANO_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANO_WERROR=ON "${launcher[@]}"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
part "release build and suite" "$start"

start=$(date +%s)
./scripts/sanitize.sh asan
part "ASan+UBSan build and suite" "$start"

start=$(date +%s)
./scripts/fuzz.sh "${VELTRANO_FUZZ_SECONDS:-30}"
part "fuzz run" "$start"
