#!/usr/bin/env bash
# Installs what is needed, builds, starts a throwaway PostgreSQL cluster and
# runs every test: the CTest suite, then each check of scripts/checks/ in
# name order. HISTDATA_TEST_PG carries the cluster's connection string to
# the tests that run over both drivers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export BUILD_DIR=${BUILD_DIR:-build}
scripts/setup.sh
scripts/build.sh
pgdir=$(mktemp -d /tmp/histdata-pg.XXXXXX)
chmod 755 "$pgdir"
trap '"$root/scripts/pg-cluster.sh" stop "$pgdir"; rm -rf "$pgdir"' EXIT
export HISTDATA_TEST_PG=$(PG_CLUSTER_TCP=1 "$root/scripts/pg-cluster.sh" start "$pgdir" "${HISTDATA_TEST_PG_PORT:-25429}")
(cd "$root/$BUILD_DIR" && ctest --output-on-failure -j2 --timeout 600)
for check in "$root"/scripts/checks/[0-9]*.sh; do
  [ -x "$check" ] || continue
  echo "== $(basename "$check")"
  start=$(date +%s)
  "$check"
  echo "== $(basename "$check") passed in $(( $(date +%s) - start )) s"
done
