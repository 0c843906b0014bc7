#!/usr/bin/env bash
# Builds the Debian package histdata-server_<version>_amd64.deb and prints
# its path. A new build folder ($BUILD_DIR, default build-release) is a
# Release build without the tests; an existing one is used as configured.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-release}
scripts/ensure-packages.sh g++ cmake ninja-build pkg-config libboost-dev libsqlite3-dev \
  libpq-dev libcurl4-openssl-dev zlib1g-dev dpkg-dev file
command -v npm >/dev/null || scripts/ensure-packages.sh npm
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHISTDATA_TESTS=OFF >/dev/null
else
  cmake -S . -B "$build" >/dev/null  # finds npm when it came after the first configure
fi
cmake --build "$build" --target histdata-server histdata-admin histdata-isapi >/dev/null
# The chart page (its library fetched once by npm); without the npm registry
# the package is made without the page, and says so.
cmake --build "$build" --target web >/dev/null ||
  echo "the chart page could not be built: the package leaves it out" >&2
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/histdata-server_*_amd64.deb
