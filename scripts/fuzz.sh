#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-asan/
# and runs each for SECONDS (default 60) on seeds made here plus the corpus
# earlier runs kept. Fails on any crash, sanitizer finding, leak or timeout;
# the input that did it is left in build-asan/artifacts/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
# The sanitizer suite's build holds the targets too; on its own this script
# configures it without the tests.
build=${VELTRANO_FUZZ_BUILD_DIR:-build-asan}

# Each target and the seed folder it starts from.
declare -A seeds=(
  [fuzz_mp3_stream]=mp3 [fuzz_mp3_reader]=mp3 [fuzz_wav_finish]=wav
  [fuzz_file_reader]=files [fuzz_libav_decoders]=packets)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_mp3_stream fuzz_mp3_reader fuzz_wav_finish fuzz_file_reader fuzz_libav_decoders)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DVELTRANO_SANITIZE=address,undefined -DVELTRANO_FUZZ=ON \
    -DVELTRANO_BUILD_TESTS=OFF -DVELTRANO_WERROR=ON "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
scripts/fuzz-seeds.sh "$build/seeds"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export GST_DEBUG=0
mkdir -p "$build/artifacts"
failed=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  log="$build/artifacts/$t.log"
  echo "fuzz: $t for ${seconds}s"
  # New inputs go to the first folder, which persists between runs; the seeds are only read.
  if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$t-" "$corpus" "$build/seeds/${seeds[$t]}" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" |
      tr '\n' ' ' | sed 's/stat:://g'
    echo "corpus=$(find "$corpus" -type f | wc -l) $(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n1)"
  else
    echo "fuzz: $t FAILED; see $log"
    grep -E 'ERROR|SUMMARY|Test unit written|fuzz invariant' "$log" | head -n 20 || true
    failed+=("$t")
  fi
done
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
