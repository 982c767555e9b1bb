#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz.cmake) with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/, then runs
# each for FUZZ_SECONDS (default 20) from its seed corpus, as many at once as
# there are cores (JOBS). One line per target;
# a target fails on a crash, a leak, undefined behaviour, an input that takes
# over a second or a failed check, and its input is kept in
# build-fuzz/artifacts/. New inputs go to build-fuzz/corpus/<name>, never into
# the source tree. FUZZ_TARGETS names a subset. Inputs are kept to 8 KiB, which
# keeps runs fast; the seeds that pass the readers' larger limits still run
# whole in the corpus replays of make test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build-fuzz
seconds=${FUZZ_SECONDS:-20}
jobs=${JOBS:-$(nproc)}

flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPVL_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$dir" -j "$jobs" --target fuzz_targets >"$dir/build.log" 2>&1 ||
  { cat "$dir/build.log"; exit 1; }

targets=${FUZZ_TARGETS:-$(ls "$top/tests/fuzz/corpus")}
mkdir -p "$dir/artifacts" "$dir/logs"

# Runs one target; its exit status is the verdict, its log in logs/<name>.log.
fuzz_one() {
  local name=$1
  local program=$dir/bin/fuzz_$name corpus=$dir/corpus/$name
  mkdir -p "$corpus"
  # A dictionary gives the words of formats read by Qt, whose code is not instrumented.
  local dict=$top/tests/fuzz/$name.dict options=()
  [[ -f $dict ]] && options+=(-dict="$dict")
  # Leaks inside Qt are suppressed as in the sanitizer runs; the full unwind lets
  # an entry name a Qt function below frames built without frame pointers.
  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
    LSAN_OPTIONS=suppressions=$top/scripts/sanitizers/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$program" "$corpus" "$top/tests/fuzz/corpus/$name" -max_total_time="$seconds" \
    -max_len=8192 -timeout=1 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$name-" "${options[@]}" >"$dir/logs/$name.log" 2>&1
}

# As many targets at once as there are cores, each on one.
ran=()
for name in $targets; do
  [[ -x $dir/bin/fuzz_$name ]] || continue
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  rm -f "$dir/logs/$name.status"
  { if fuzz_one "$name"; then echo 0; else echo 1; fi >"$dir/logs/$name.status"; } &
  ran+=("$name")
done
wait

passed=0
failed=0
for name in "${ran[@]}"; do
  log=$dir/logs/$name.log
  if [[ $(cat "$dir/logs/$name.status" 2>/dev/null) == 0 ]]; then
    verdict=passed
    passed=$((passed + 1))
  else
    verdict="FAILED (see $log)"
    failed=$((failed + 1))
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
  printf '%-18s %10s executions  %-20s %s\n' "$name" "${runs:-?}" "$coverage" "$verdict"
done
echo "$passed passed, $failed failed"
((failed == 0))
