#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Nothing else is installed by hand.
set -euo pipefail
exec "$(dirname "$0")/ensure-packages.sh" g++ cmake ninja-build pkg-config libboost-dev \
  libsqlite3-dev sqlite3 libpq-dev postgresql libcurl4-openssl-dev zlib1g-dev libgtest-dev libgmock-dev \
  libbenchmark-dev curl python3-pandas
