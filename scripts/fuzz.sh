#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang-14 under AddressSanitizer
# and UndefinedBehaviorSanitizer and runs each for the given number of
# seconds (default 60), one after another on one core.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# Each target starts from its seeds in fuzz/corpus/<target>/ and keeps what
# it learns in build-fuzz/corpus/<target>/. An input that crashes a target or
# fails its checks is saved in build-fuzz/findings/<target>/ and makes the
# script exit with status 1. FUZZ_SEED fixes libFuzzer's seed (default: a
# fresh one each run); FUZZ_JOBS > 0 keeps fuzzing past findings in fork
# mode with that many workers, for long runs; FUZZ_BUILD names another build
# directory (default build-fuzz).
set -eu
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"job_fuzzer settings_fuzzer text_fuzzer compress_fuzzer preview_fuzzer prefilter_fuzzer image_fuzzer"}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALVERO_FUZZ=ON -DTALVERO_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target fuzzers >/dev/null

# An allocation above 64 MiB fails (returns null) as on a small print server,
# so inputs that declare huge pages exercise the filter's allocation-failure
# path instead of spending the run zeroing gigabytes.
export ASAN_OPTIONS="${ASAN_OPTIONS:-allocator_may_return_null=1:max_allocation_size_mb=64}"
failed=""
for target in $targets; do
  name=${target%_fuzzer}
  corpus=$build/corpus/$name
  findings=$build/findings/$name
  mkdir -p "$corpus" "$findings"
  set -- -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 -malloc_limit_mb=65536 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$findings/"
  [ -n "${FUZZ_SEED:-}" ] && set -- "$@" -seed="$FUZZ_SEED"
  [ "${FUZZ_JOBS:-0}" -gt 0 ] && set -- "$@" -fork="$FUZZ_JOBS" -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1
  log=$build/$name.log
  echo "== $target: $seconds s"
  if ! "$build/fuzz/$target" "$@" "$corpus" "fuzz/corpus/$name" >"$log" 2>&1 ||
     [ -n "$(ls -A "$findings")" ]; then
    failed="$failed $target"
    grep -E "^(INFO: Seed:|==[0-9]+==ERROR|CHECK FAILED|SUMMARY)" "$log" | head -6 || true
    echo "   findings in $findings/, log in $log"
  fi
  # Final statistics; in fork mode, the last progress line instead.
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$log" | sed 's/^/   /' ||
    grep -E "^#[0-9]+:" "$log" | tail -1 | sed 's/^/   /' || true
done
if [ -n "$failed" ]; then
  echo "Findings:$failed"
  exit 1
fi
echo "No findings."
