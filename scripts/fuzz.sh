#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of their
# own ($FUZZ_BUILD_DIR, default build-fuzz), and runs each named target for
# SECONDS over its committed seeds plus the inputs earlier runs found.
#   scripts/fuzz.sh TARGET|all SECONDS
# TARGET is one of: request_fields rtl_text ini registry csv_reader
# csv_values tick_pack reply. A crash, a sanitizer report or a broken property fails
# the run; the input is saved as $FUZZ_BUILD_DIR/findings/TARGET-* and can be
# replayed with: $FUZZ_BUILD_DIR/tests/fuzz/fuzz_TARGET FILE
# "reply" is the Python client's reading of replies, fuzzed by a Python
# driver of its own (tests/fuzz/reply_fuzz.py, which also replays a FILE).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
targets=(request_fields rtl_text ini registry csv_reader csv_values tick_pack reply)
if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 TARGET|all SECONDS (targets: ${targets[*]})" >&2
  exit 2
fi
if [ "$1" != all ]; then
  [[ " ${targets[*]} " == *" $1 "* ]] || { echo "unknown target: $1" >&2; exit 2; }
  targets=("$1")
fi
seconds=$2

build=${FUZZ_BUILD_DIR:-build-fuzz}
native=()
for t in "${targets[@]}"; do [ "$t" = reply ] || native+=("fuzz_$t"); done
if [ ${#native[@]} -gt 0 ]; then
  scripts/ensure-packages.sh clang libclang-rt-14-dev ccache
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
    -DHISTDATA_FUZZ=ON >/dev/null
  cmake --build "$build" --target "${native[@]}" -j2
fi
[[ " ${targets[*]} " == *" reply "* ]] && scripts/ensure-packages.sh python3-pandas

mkdir -p "$build/findings"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
TIMEFORMAT="cpu %U s user, %S s system, %R s wall"
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  echo "== fuzz $t for $seconds s"
  # New inputs go to the first folder; the committed seeds stay as they are.
  # -close_fd_mask=1 keeps the targets' own output out of the log.
  fuzzer=("$build/tests/fuzz/fuzz_$t")
  [ "$t" = reply ] && fuzzer=(/usr/bin/python3 tests/fuzz/reply_fuzz.py)
  time "${fuzzer[@]}" "$corpus" tests/fuzz/corpus/$t \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -artifact_prefix="$build/findings/$t-" -print_final_stats=1 2>"$build/$t.log" ||
    { tail -60 "$build/$t.log"; echo "fuzz $t: FAILED (input in $build/findings/)" >&2; exit 1; }
  grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$build/$t.log" | tail -2
done
