#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
cmake --build "$build" "$@"
