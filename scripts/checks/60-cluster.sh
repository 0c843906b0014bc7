#!/usr/bin/env bash
# Two servers behind HAProxy over a PostgreSQL primary and its streaming
# replica, in a reduced size: replies compared byte for byte through the
# balancer and one server, then the loss of a server and of the replica.
set -euo pipefail
dir=$(mktemp -d /tmp/histdata-cluster.XXXXXX)
trap 'scripts/cluster.sh down "$dir"' EXIT
CLUSTER_DAYS=3 CLUSTER_SYMBOLS=4 CLUSTER_TICKS=400 scripts/cluster.sh up "$dir"
scripts/cluster.sh check "$dir"
