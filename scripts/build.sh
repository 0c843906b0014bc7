#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with Ninja.
#   scripts/build.sh [TARGET...] [-jN]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
targets=() opts=()
for a in "$@"; do
  case $a in -*) opts+=("$a") ;; *) targets+=("$a") ;; esac
done
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$build" --target "${targets[@]}" ${opts[@]+"${opts[@]}"}
else
  cmake --build "$build" ${opts[@]+"${opts[@]}"}
fi
