#!/usr/bin/env bash
# Builds the test suite with sanitizers (clang) in a folder of its own and
# runs it:
#   scripts/sanitize.sh asan   AddressSanitizer + UndefinedBehaviorSanitizer,
#                              the whole suite and the fuzz targets, in build-asan/
#   scripts/sanitize.sh tsan   ThreadSanitizer, the engine, span and player
#                              tests, in build-tsan/
# Leaks are detected; the third-party ones are listed with their reasons in
# scripts/sanitizers/.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-asan}
supp=$PWD/scripts/sanitizers
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
configure() {  # configure BUILD SANITIZERS [more cmake arguments]
  local dir=$1 sanitizers=$2
  shift 2
  cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DVELTRANO_SANITIZE="$sanitizers" -DVELTRANO_WERROR=ON \
    "${launcher[@]}" "$@" >/dev/null
}
case "$kind" in
  asan)
    build=${VELTRANO_ASAN_BUILD_DIR:-build-asan}
    # The fuzz targets come out of the same build (scripts/fuzz.sh runs them):
    # one sanitized compile of the tree instead of two.
    configure "$build" address,undefined -DVELTRANO_FUZZ=ON
    cmake --build "$build" -j "$(nproc)"
    # The slow unwinder walks through GLib's frames, which have no frame
    # pointers: the suppressions can then tell its allocations apart.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:fast_unwind_on_malloc=0:malloc_context_size=12
    export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
    ;;
  tsan)
    build=${VELTRANO_TSAN_BUILD_DIR:-build-tsan}
    tests=(test_conversion_engine test_preview_player test_playback_graph test_dialog_conversion)
    configure "$build" thread
    cmake --build "$build" -j "$(nproc)" --target "${tests[@]}"
    export TSAN_OPTIONS="suppressions=$supp/tsan.supp:ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1"
    # Instrumented resampling is slow: a long conversion takes minutes here.
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 3600 -R "^($(IFS='|'; echo "${tests[*]}"))\$"
    ;;
  *)
    echo "usage: $0 asan|tsan" >&2
    exit 2
    ;;
esac
