#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for tests and benchmarks.
#   pg-cluster.sh start DIR PORT   -> prints the connection string
#   pg-cluster.sh stop DIR
# The cluster runs as the "postgres" system user (initdb refuses root), with
# trust authentication, on its own socket folder; with PG_CLUSTER_TCP=1 also
# on 127.0.0.1 at the same port (for clients without Unix sockets: the
# Windows build under Wine). A port in the kernel's ephemeral range (32768
# and up) may be held by a client connection, open or lingering in
# TIME_WAIT, when the server binds it: a cluster on TCP takes a port below
# that range, and a cluster that a test restarts under load stays off TCP.
set -euo pipefail
cmd=$1 dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)
run() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
case "$cmd" in
  start)
    port=${3:-25429}
    listen="''"
    [ "${PG_CLUSTER_TCP:-0}" = 1 ] && listen=127.0.0.1
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      run "$bin/initdb" -D "$dir/data" -U postgres -A trust >/dev/null
    fi
    run "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w \
      -o "-k $dir -p $port -c listen_addresses=$listen -c fsync=off -c max_connections=200" start >/dev/null
    echo "host=$dir port=$port user=postgres dbname=postgres"
    ;;
  stop)
    run "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
    ;;
  *) echo "usage: $0 start DIR [PORT] | stop DIR" >&2; exit 2 ;;
esac
