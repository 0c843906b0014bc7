#!/usr/bin/env bash
# Runs the whole test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), then the tests of the parts that
# run on several threads at once (module pool and handler, log, sessions,
# connection pool, PostgreSQL driver, HTTP host, fault injection) built with
# ThreadSanitizer (build-tsan/). Any report fails the run: every sanitizer
# halts on its first error and no report is suppressed.
#   bash scripts/sanitizers.sh [asan|tsan]   (default: both)
# A step of its own after the test command (.ci/run), not one of its checks:
# the two instrumented builds take longer than the test command itself.
# Starts its own throwaway PostgreSQL cluster unless $HISTDATA_TEST_PG names
# one, so that the tests run over both drivers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/ensure-packages.sh ccache
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=1
which=${1:-both}
jobs=${SANITIZER_JOBS:-2}

if [ -z "${HISTDATA_TEST_PG:-}" ]; then
  pgdir=$(mktemp -d /tmp/histdata-sanitizers-pg.XXXXXX)
  chmod 755 "$pgdir"
  trap '"$root/scripts/pg-cluster.sh" stop "$pgdir"; rm -rf "$pgdir"' EXIT
  HISTDATA_TEST_PG=$("$root/scripts/pg-cluster.sh" start "$pgdir" "${HISTDATA_SANITIZERS_PG_PORT:-54339}")
  export HISTDATA_TEST_PG
fi

configure() {  # configure BUILD_DIR FLAGS
  # -O1 keeps the instrumented build and its tests quick; frame pointers give
  # whole stacks in reports. The benchmarks are no tests: not built.
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_FLAGS="-O1 -fno-omit-frame-pointer $2" \
    -DCMAKE_EXE_LINKER_FLAGS="$2" -DCMAKE_SHARED_LINKER_FLAGS="$2" >/dev/null
}

if [ "$which" != tsan ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
  start=$(date +%s)
  configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=all"
  cmake --build build-asan -j"$jobs"
  built=$(date +%s)
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: built in $(( built - start )) s"
  export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  (cd build-asan && ctest --output-on-failure -j2 --timeout 900)
  unset ASAN_OPTIONS UBSAN_OPTIONS
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: tests passed in $(( $(date +%s) - built )) s"
fi

if [ "$which" != asan ]; then
  echo "== ThreadSanitizer: the concurrent parts"
  start=$(date +%s)
  configure build-tsan "-fsanitize=thread"
  tsan_tests=(test_service test_log test_data test_platform_engine test_platform_engine_postgres
              test_platform_http test_faults)
  cmake --build build-tsan -j"$jobs" --target "${tsan_tests[@]}"
  built=$(date +%s)
  echo "== ThreadSanitizer: built in $(( built - start )) s"
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  for t in "${tsan_tests[@]}"; do
    echo "-- $t"
    (cd build-tsan && "./$t" --gtest_brief=1)
  done
  unset TSAN_OPTIONS
  echo "== ThreadSanitizer: tests passed in $(( $(date +%s) - built )) s"
fi
