#!/usr/bin/env bash
# Installs what is needed, builds, starts a throwaway PostgreSQL cluster and
# runs every test. HISTDATA_TEST_PG carries the cluster's connection string to
# the tests that run over both drivers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh
pgdir=$(mktemp -d /tmp/histdata-pg.XXXXXX)
chmod 755 "$pgdir"
trap '"$root/scripts/pg-cluster.sh" stop "$pgdir"; rm -rf "$pgdir"' EXIT
export HISTDATA_TEST_PG=$("$root/scripts/pg-cluster.sh" start "$pgdir" "${HISTDATA_TEST_PG_PORT:-54329}")
cd "$root/build"
ctest --output-on-failure -j2 --timeout 600
