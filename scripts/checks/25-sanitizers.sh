#!/usr/bin/env bash
# Runs the whole test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), then the tests of the parts that
# run on several threads at once (module pool and handler, log, sessions,
# PostgreSQL connection pool, HTTP host, fault injection) built with
# ThreadSanitizer (build-tsan/). Any report fails the check: every sanitizer
# halts on its first error and no report is suppressed.
#   bash scripts/checks/25-sanitizers.sh [asan|tsan]   (default: both)
# Not yet executable, so the test command skips it: it becomes part of the
# test command (chmod +x) once a whole run on the CI machine has been timed
# within the test command's limit and found clean.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
scripts/ensure-packages.sh ccache
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=1
which=${1:-both}
jobs=${SANITIZER_JOBS:-2}

configure() {  # configure BUILD_DIR FLAGS
  # -O1 keeps the instrumented build and its tests quick; frame pointers give
  # whole stacks in reports.
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_FLAGS="-O1 -fno-omit-frame-pointer $2" \
    -DCMAKE_EXE_LINKER_FLAGS="$2" -DCMAKE_SHARED_LINKER_FLAGS="$2" >/dev/null
}

if [ "$which" != tsan ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
  start=$(date +%s)
  configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=all"
  cmake --build build-asan -j"$jobs"
  export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  (cd build-asan && ctest --output-on-failure -j2 --timeout 900)
  unset ASAN_OPTIONS UBSAN_OPTIONS
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: $(( $(date +%s) - start )) s"
fi

if [ "$which" != asan ]; then
  echo "== ThreadSanitizer: the concurrent parts"
  start=$(date +%s)
  configure build-tsan "-fsanitize=thread"
  tsan_tests=(test_service test_log test_data test_platform_engine_postgres test_platform_http
              test_faults)
  cmake --build build-tsan -j"$jobs" --target "${tsan_tests[@]}"
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  for t in "${tsan_tests[@]}"; do
    echo "-- $t"
    (cd build-tsan && "./$t" --gtest_brief=1)
  done
  unset TSAN_OPTIONS
  echo "== ThreadSanitizer: $(( $(date +%s) - start )) s"
fi
