#!/usr/bin/env bash
# Runs the tests under the sanitizers, each build in a folder of its own:
#   build-asan  Debug, AddressSanitizer + UndefinedBehaviorSanitizer (any
#               undefined behaviour aborts) with LeakSanitizer on: every test,
#               end-to-end ones included;
#   build-tsan  Debug, ThreadSanitizer: the thread-pool, task-queue and tool
#               runner suites, building only what they need. The suites of the
#               transfer tools themselves stay with build-asan: the tools run
#               Qt's network stack on its own threads, whose locking (futexes
#               in uninstrumented Qt) the checker cannot see.
# A report from the project's own code fails the run. What lies outside it is
# suppressed in scripts/sanitizers/*.supp, each entry with its reason.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}
supp=$top/scripts/sanitizers

configure() {
  local dir=$1 flags=$2
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
}

# The options reach every process a test starts (the updater, the transfer
# tools, helper children), since each inherits the environment.
asan_dir=$top/build-asan
configure "$asan_dir" "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake --build "$asan_dir" -j "$jobs"
(
  cd "$asan_dir"
  export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Allocation stacks are unwound fully only for the corpus replays, whose one
  # suppressed leak lies deep inside Qt's JSON parser. Unwinding every allocation
  # fully makes the TLS suites, which parse the system's root certificates in
  # every tool run, take nine minutes instead of one.
  ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs" -E '^fuzz_corpus\.'
  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
    ctest --output-on-failure -j "$jobs" -R '^fuzz_corpus\.'
)

tsan_dir=$top/build-tsan
tsan_targets=(thread_pool_test task_queue_test zipper_test transfer_runner_test)
configure "$tsan_dir" "-fsanitize=thread"
cmake --build "$tsan_dir" -j "$jobs" --target "${tsan_targets[@]}"
(
  cd "$tsan_dir"
  export TSAN_OPTIONS="suppressions=$supp/tsan.supp:print_suppressions=0:halt_on_error=1"
  # Discovered test cases carry their suite's prefix, the zipper's their fixture
  # names. The transfer tools' own suites drive the real tools, which this
  # build does not make.
  ctest --output-on-failure -j "$jobs" \
    -R '^(thread_pool\.|task_queue$|transfer_runner$|.*Zipper)'
)
