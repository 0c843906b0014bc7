#!/usr/bin/env bash
# Several servers on one machine, all on loopback, in a scratch folder: a
# PostgreSQL primary with one streaming replica, the stores loaded on the
# primary, two histdata-server processes reading through aliases that prefer
# the replica, and HAProxy in front of them with health checks.
#
#   cluster.sh up DIR      make and start it all in DIR (a new or empty folder)
#   cluster.sh check DIR   replies of every mode through the balancer and
#                          through one server, byte for byte; then lose a
#                          server, then the replica, and check again
#   cluster.sh down DIR    stop everything started in DIR and remove DIR
#   cluster.sh stop-server|start-server DIR N
#                          stop or start server N (1 or 2), waiting until the
#                          balancer has marked it down or up
#
# Environment: BUILD_DIR (default build), CLUSTER_PG_PORT (first port tried
# for the primary, then the replica; default 25437, below the range the
# kernel hands out to outgoing connections, so that none of the clients'
# connections holds it when the replica starts again), CLUSTER_PORT (first port
# tried for the balancer, its stats page and the servers; default 18700),
# CLUSTER_DAYS, CLUSTER_SYMBOLS, CLUSTER_TICKS (size of the sample market;
# default 3 days of 4 symbols with 400 ticks a day each).
# Run as root, the PostgreSQL servers run as the "postgres" system user.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmd=${1:-} dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 up|check|down|stop-server|start-server DIR [N]" >&2; exit 2; }
[ -d "$dir" ] && dir=$(cd "$dir" && pwd)
STARTED=$(date +%s)
say() { printf '[cluster %4ds] %s\n' $(($(date +%s) - STARTED)) "$*"; }
fail() { say "FAILED: $*"; exit 1; }
as_pg() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {  # FIRST [TAKEN...] -> the first port from FIRST that is free and not TAKEN
  local p=$1
  shift
  while port_open "$p" || [[ " $* " == *" $p "* ]]; do p=$((p + 1)); done
  echo "$p"
}
# Polls COMMAND every tenth of a second until it succeeds, for at most
# SECONDS; the condition, never the time, is what the caller waits for.
wait_for() {  # SECONDS WHAT COMMAND...
  local limit=$(($(date +%s) + $1)) what=$2
  shift 2
  until "$@"; do
    [ "$(date +%s)" -lt "$limit" ] || fail "timed out waiting for $what"
    sleep 0.1
  done
}

# --- the state of a cluster, kept in DIR/cluster.env ---------------------------
load_state() {
  [ -f "$dir/cluster.env" ] || fail "no cluster in $dir"
  # shellcheck disable=SC1091
  . "$dir/cluster.env"
}
psql_at() {  # PORT SQL -> unaligned rows
  "$PG_BIN/psql" -X -A -t -q -h 127.0.0.1 -p "$1" -U postgres -d market -c "$2"
}
# Whether the replica has replayed everything the primary has written.
caught_up() {
  local target
  target=$(psql_at "$PRIMARY_PORT" "SELECT pg_current_wal_lsn()") || return 1
  [ "$(psql_at "$REPLICA_PORT" "SELECT pg_last_wal_replay_lsn() >= '$target'::pg_lsn" 2>/dev/null)" = t ]
}
# Connections of the servers (application_name histdata-server) on a host.
server_connections() {  # PORT
  psql_at "$1" "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'histdata-server'"
}
# The balancer's view of a server: UP, DOWN, ... (HAProxy's CSV stats).
lb_status() {  # SERVER
  curl -s "http://127.0.0.1:$STATS_PORT/stats;csv" | awk -F, -v s="$1" '$1 == "servers" && $2 == s { print $18 }'
}
lb_is() { [[ "$(lb_status "$1")" == "$2"* ]]; }
lb_counter() {  # SERVER FIELD_NUMBER
  curl -s "http://127.0.0.1:$STATS_PORT/stats;csv" | awk -F, -v s="$1" -v f="$2" '$1 == "servers" && $2 == s { print $f + 0 }'
}

# Starts a PostgreSQL server; when it does not start, the end of its log
# goes to stderr, since the log is gone once the cluster is removed, and
# is kept in PG_START_LOG.
pg_start() {  # NAME PORT
  local from
  from=$({ wc -l <"$dir/$1/log"; } 2>/dev/null || echo 0)
  as_pg "$PG_BIN/pg_ctl" -D "$dir/$1/data" -l "$dir/$1/log" -w -o \
    "-p $2 -k $dir/$1 -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=100 -c hot_standby_feedback=on" \
    start >/dev/null && return 0
  PG_START_LOG=$(tail -n +"$((from + 1))" "$dir/$1/log" 2>/dev/null | tail -n 20)
  say "PostgreSQL $1 did not start on port $2; its log says:"
  printf '%s\n' "$PG_START_LOG" >&2
  return 1
}
# The first start of a server, on a port chosen now: a port that passed
# free_port can still be taken by the time the server binds it, so a bind
# failure moves on to the next free port (three tries). Sets the variable
# named VAR to the port it runs on.
pg_first_start() {  # NAME VAR FIRST_PORT [TAKEN...]
  local name=$1 var=$2 port=$3 try
  shift 3
  for try in 1 2 3; do
    port=$(free_port "$port" "$@")
    if pg_start "$name" "$port"; then
      printf -v "$var" %s "$port"
      return 0
    fi
    grep -q 'could not bind\|could not create any TCP/IP sockets' <<<"$PG_START_LOG" || return 1
    port=$((port + 1))
  done
  return 1
}
pg_stop() {  # NAME
  [ -f "$dir/$1/data/postmaster.pid" ] || return 0
  as_pg "$PG_BIN/pg_ctl" -D "$dir/$1/data" -m fast -w stop >/dev/null || true
}

# A process that this cluster started, by its pid file, if it still runs
# (the command line names DIR, so a reused pid is left alone).
our_pid() {  # PIDFILE
  local pid
  [ -f "$1" ] || return 1
  pid=$(cat "$1")
  [ -n "$pid" ] && tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF "$dir" && echo "$pid"
}
# Ended: gone, or a zombie that its new parent has yet to reap.
ended() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1) || true
  [ -z "$state" ] || [ "$state" = Z ]
}
stop_pid() {  # PIDFILE [SIGNAL]
  local pid
  pid=$(our_pid "$1") || return 0
  kill "-${2:-TERM}" "$pid" 2>/dev/null || true
  wait_for 30 "process $pid to end" ended "$pid"
  rm -f "$1"
}

server_start() {  # N
  local n=$1 port_var=S${1}_PORT admin_var=S${1}_ADMIN admin=()
  local port=${!port_var}
  [ -n "$HEALTH_PORTS" ] && admin=(--admin-port "${!admin_var}")
  # An empty system settings folder: nothing of this machine's own settings.
  (cd "$dir/s$n/run" && HISTDATA_SYSCONF_DIR=$dir/etc exec "$SERVER" --port "$port" --address 127.0.0.1 \
    --data-dir "$dir/data" --aliases "$dir/aliases.ini" --log-dir "$dir/s$n/log" --workdir "$dir/s$n/run" \
    "${admin[@]}" >"$dir/s$n/out" 2>&1 </dev/null) &
  echo $! >"$dir/s$n/pid"
  wait_for 30 "server $n on port $port" port_open "$port"
}

up() {
  [ ! -e "$dir/cluster.env" ] || fail "$dir already holds a cluster"
  "$root/scripts/ensure-packages.sh" postgresql-15 haproxy curl
  local build=${BUILD_DIR:-build}
  [[ "$build" == /* ]] || build=$root/$build
  [ -x "$build/histdata-server" ] && [ -x "$build/histdata-admin" ] ||
    fail "no histdata-server and histdata-admin in $build (scripts/build.sh first)"
  mkdir -p "$dir"
  chmod 755 "$dir"
  dir=$(cd "$dir" && pwd)
  PG_BIN=/usr/lib/postgresql/15/bin
  # Ports: every one checked free, none given twice.
  # The PostgreSQL ports are settled when their servers start (below).
  PRIMARY_PORT=${CLUSTER_PG_PORT:-25437}
  REPLICA_PORT=$((PRIMARY_PORT + 1))
  local p=${CLUSTER_PORT:-18700} taken=()
  for name in LB_PORT STATS_PORT S1_PORT S2_PORT S1_ADMIN S2_ADMIN; do
    p=$(free_port "$p" "${taken[@]}")
    taken+=("$p")
    printf -v "$name" %s "$p"
  done
  # The operator's port with /health, where the server has one; else the
  # balancer checks that the server's port accepts connections.
  HEALTH_PORTS=""
  "$build/histdata-server" --help 2>&1 | grep -q -- --admin-port && HEALTH_PORTS=1
  # The last weekday before today, so that every day of the market is whole.
  local end=$(date -d yesterday +%F)
  while [ "$(date -d "$end" +%u)" -gt 5 ]; do end=$(date -d "$end -1 day" +%F); done
  cat >"$dir/cluster.env" <<EOF
PG_BIN=$PG_BIN
SERVER=$build/histdata-server
ADMIN=$build/histdata-admin
PRIMARY_PORT=$PRIMARY_PORT
REPLICA_PORT=$REPLICA_PORT
LB_PORT=$LB_PORT
STATS_PORT=$STATS_PORT
S1_PORT=$S1_PORT
S2_PORT=$S2_PORT
S1_ADMIN=$S1_ADMIN
S2_ADMIN=$S2_ADMIN
HEALTH_PORTS=$HEALTH_PORTS
DAY=$(date -d "$end" +%Y/%m/%d)
FIRST_DAY=$(date -d "$end -$((${CLUSTER_DAYS:-3} * 7 / 5 + 3)) days" +%Y/%m/%d)
EOF
  load_state

  mkdir -p "$dir/primary" "$dir/replica"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir/primary" "$dir/replica"
  as_pg "$PG_BIN/initdb" -D "$dir/primary/data" -U postgres -A trust >/dev/null
  pg_first_start primary PRIMARY_PORT "$PRIMARY_PORT" || fail "the primary did not start"
  sed -i "s/^PRIMARY_PORT=.*/PRIMARY_PORT=$PRIMARY_PORT/" "$dir/cluster.env"
  say "primary on 127.0.0.1:$PRIMARY_PORT"
  "$PG_BIN/psql" -X -q -h 127.0.0.1 -p "$PRIMARY_PORT" -U postgres -d postgres -c "CREATE DATABASE market"

  as_pg "$PG_BIN/pg_basebackup" -h 127.0.0.1 -p "$PRIMARY_PORT" -U postgres -D "$dir/replica/data" \
    -R -X stream -c fast
  pg_first_start replica REPLICA_PORT $((PRIMARY_PORT + 1)) "$PRIMARY_PORT" || fail "the replica did not start"
  sed -i "s/^REPLICA_PORT=.*/REPLICA_PORT=$REPLICA_PORT/" "$dir/cluster.env"
  say "replica on 127.0.0.1:$REPLICA_PORT (pg_basebackup, streaming)"
  [ "$(psql_at "$REPLICA_PORT" "SELECT pg_is_in_recovery()")" = t ] || fail "the replica is not a standby"

  # One alias file for everyone. Readers prefer the replica, and the primary
  # is listed first so that only that preference keeps them off it; the
  # loader's writable connections ask for the primary whatever this says.
  local conninfo="host=127.0.0.1,127.0.0.1 port=$PRIMARY_PORT,$REPLICA_PORT dbname=market user=postgres"
  conninfo+=" target_session_attrs=prefer-standby connect_timeout=5 application_name=histdata-server"
  mkdir -p "$dir/data" "$dir/etc"
  for alias in HISTDATA Historical ardandata zetdata; do
    printf '[%s]\nDriver=postgres\nConnInfo=%s\n\n' "$alias" "$conninfo"
  done >"$dir/aliases.ini"

  say "loading the sample market on the primary (${CLUSTER_DAYS:-3} days to $DAY, ${CLUSTER_SYMBOLS:-4} symbols)"
  "$ADMIN" sample --data-dir "$dir/data" --aliases "$dir/aliases.ini" --days "${CLUSTER_DAYS:-3}" \
    --symbols "${CLUSTER_SYMBOLS:-4}" --ticks "${CLUSTER_TICKS:-400}" --end "$end" >"$dir/sample.out"
  wait_for 60 "the replica to replay the load" caught_up
  say "replica caught up: $(psql_at "$REPLICA_PORT" "SELECT count(*) FROM pg_tables WHERE tablename LIKE 'hist%'") day tables"

  for n in 1 2; do
    mkdir -p "$dir/s$n/run" "$dir/s$n/log"
    # The servers' logins are those of the connection string (DBUSER); mode
    # 6 reads the interval tables through the module database; modules enough
    # for a benchmark's clients both directly and through the balancer.
    sed -e 's/^DBUSER=.*/DBUSER=postgres/' -e 's/^DBMode=.*/DBMode=SQL/' -e 's/^MaxConnection=.*/MaxConnection=32/' \
      "$root/config/zet.ini" >"$dir/s$n/run/zet.ini"
    server_start "$n"
    local port_var=S${n}_PORT
    say "server $n on 127.0.0.1:${!port_var}"
  done

  local check="check inter 300ms fall 2 rise 2"
  cat >"$dir/haproxy.cfg" <<EOF
global
  maxconn 2000
defaults
  mode http
  timeout connect 2s
  timeout client 60s
  timeout server 60s
  # A server that refuses the connection is replaced by another at once.
  retries 3
  option redispatch 1
frontend histdata
  bind 127.0.0.1:$LB_PORT
  default_backend servers
backend servers
  balance roundrobin
$( [ -n "$HEALTH_PORTS" ] && echo "  option httpchk GET /health")
  server s1 127.0.0.1:$S1_PORT $check $( [ -n "$HEALTH_PORTS" ] && echo "port $S1_ADMIN")
  server s2 127.0.0.1:$S2_PORT $check $( [ -n "$HEALTH_PORTS" ] && echo "port $S2_ADMIN")
listen stats
  bind 127.0.0.1:$STATS_PORT
  stats enable
  stats uri /stats
EOF
  haproxy -c -q -f "$dir/haproxy.cfg"
  haproxy -f "$dir/haproxy.cfg" -D -p "$dir/haproxy.pid"
  wait_for 30 "the balancer to see both servers up" eval 'lb_is s1 UP && lb_is s2 UP'
  say "HAProxy on 127.0.0.1:$LB_PORT ($([ -n "$HEALTH_PORTS" ] && echo "/health" || echo "TCP") checks; stats on :$STATS_PORT/stats)"
}

down() {
  [ -d "$dir" ] || return 0
  if [ -f "$dir/cluster.env" ]; then
    # shellcheck disable=SC1091
    . "$dir/cluster.env"
  fi
  stop_pid "$dir/haproxy.pid"
  stop_pid "$dir/s1/pid"
  stop_pid "$dir/s2/pid"
  if [ -n "${PG_BIN:-}" ]; then
    pg_stop replica
    pg_stop primary
  fi
  rm -rf "$dir"
  say "stopped and removed $dir"
}

# --- check ---------------------------------------------------------------------------
# The requests: NAME, query, and whether the reply is data or the error line.
requests() {
  local d=$DAY s=0001
  cat <<EOF
mode0|symbol=$s&mode=0&dateStart=$d&dateOver=$d&timeStart=10:00:00&timeOver=11:00:00|data
mode0-days|symbol=0002&mode=0&dateStart=$FIRST_DAY&dateOver=$d|data
mode1|symbol=$s&mode=1&dateStart=$FIRST_DAY&dateOver=$d|data
mode2|symbol=0003&mode=2|data
mode3|symbol=$s&mode=3&DayCount=2&dateStart=$FIRST_DAY&dateOver=$d|data
mode4|symbol=$s&mode=4&interval=300&dateStart=$d&dateOver=$d|data
mode5|symbol=$s&mode=5&interval=60&dateStart=$d&dateOver=$d|data
mode6|symbol=0002&mode=6&interval=60&dateStart=$d&dateOver=$d|data
bad-time|symbol=$s&timeStart=25:00|error
EOF
}
# Fetches one request into FILE; fails unless the status is 200.
fetch() {  # PORT QUERY FILE
  local code
  code=$(curl -s -o "$3" -w '%{http_code}' --max-time 60 "http://127.0.0.1:$1/?$2") || return 1
  [ "$code" = 200 ]
}
# Every request through PORT, each TIMES times, equal byte for byte to the
# replies kept in DIR/ref.
same_as_ref() {  # PORT TIMES WHERE
  local name query kind i n=0
  while IFS='|' read -r name query kind; do
    for i in $(seq "$2"); do
      fetch "$1" "$query" "$dir/got" || fail "$name through $3: no 200 reply"
      cmp -s "$dir/got" "$dir/ref/$name" || fail "$name through $3 differs from server 1's first reply"
      n=$((n + 1))
    done
  done < <(requests)
  say "  $n replies through $3: byte for byte the same as before"
}
# Two clients send the requests through the balancer in turn until
# DIR/load.stop exists, one line per request: its name and whether the
# reply was whole and the same as the kept one.
load_start() {
  rm -f "$dir/load.stop" "$dir"/load.*.out
  local c
  for c in 1 2; do
    (
      while [ ! -e "$dir/load.stop" ]; do
        while IFS='|' read -r name query kind; do
          if fetch "$LB_PORT" "$query" "$dir/load.$c.body" && cmp -s "$dir/load.$c.body" "$dir/ref/$name"; then
            echo "$name ok"
          else
            echo "$name FAILED"
          fi
        done < <(requests)
      done >"$dir/load.$c.out"
    ) &
    LOAD_PIDS+=($!)
  done
}
load_count() { cat "$dir"/load.*.out 2>/dev/null | wc -l; }
load_more_than() { [ "$(load_count)" -gt "$1" ]; }
load_stop() {  # -> LOAD_TOTAL, LOAD_FAILED
  touch "$dir/load.stop"
  wait "${LOAD_PIDS[@]}"
  LOAD_PIDS=()
  LOAD_TOTAL=$(load_count)
  LOAD_FAILED=$(cat "$dir"/load.*.out | grep -c FAILED || true)
  [ "$LOAD_FAILED" -eq 0 ] || say "  failed: $(grep -h FAILED "$dir"/load.*.out | cut -d' ' -f1 | sort | uniq -c | xargs)"
}

check() {
  LOAD_PIDS=()
  trap '[ ${#LOAD_PIDS[@]} -eq 0 ] || { touch "$dir/load.stop"; wait "${LOAD_PIDS[@]}"; }' EXIT
  mkdir -p "$dir/ref"
  local name query kind mark on_primary on_replica
  say "1. every mode through server 1 directly, then through the balancer and server 2"
  while IFS='|' read -r name query kind; do
    fetch "$S1_PORT" "$query" "$dir/ref/$name" || fail "$name: no 200 reply from server 1"
    if [ "$kind" = error ]; then
      grep -q '^ERROR|' "$dir/ref/$name" || fail "$name: no ERROR line"
    else
      [ -s "$dir/ref/$name" ] || fail "$name: empty reply"
      ! grep -q '^ERROR|' "$dir/ref/$name" || fail "$name: $(head -n1 "$dir/ref/$name")"
    fi
  done < <(requests)
  say "  $(requests | wc -l) replies from server 1, $(cat "$dir"/ref/* | wc -l) lines"
  same_as_ref "$LB_PORT" 2 "the balancer"
  same_as_ref "$S2_PORT" 1 "server 2"
  on_primary=$(server_connections "$PRIMARY_PORT") on_replica=$(server_connections "$REPLICA_PORT")
  say "  the servers hold $on_replica connections to the replica, $on_primary to the primary"
  [ "$on_replica" -gt 0 ] && [ "$on_primary" -eq 0 ] || fail "the servers do not read from the replica only"

  say "2. server 2 is killed while two clients send requests through the balancer"
  load_start
  wait_for 60 "the clients' first requests" load_more_than 10
  stop_pid "$dir/s2/pid" KILL
  wait_for 30 "the balancer to mark server 2 down" lb_is s2 DOWN
  mark=$(load_count)
  say "  the balancer marked server 2 $(lb_status s2) after $mark requests"
  wait_for 120 "40 more requests" load_more_than $((mark + 40))
  load_stop
  say "  $LOAD_TOTAL requests, $LOAD_FAILED failed (at most the 2 in flight may)," \
    "$(lb_counter s2 17) redispatched by the balancer"
  [ "$LOAD_FAILED" -le 2 ] || fail "$LOAD_FAILED requests failed while server 2 was lost"
  same_as_ref "$LB_PORT" 1 "the balancer with server 1 alone"
  server_start 2
  wait_for 30 "the balancer to mark server 2 up" lb_is s2 UP
  say "  server 2 restarted; the balancer marked it $(lb_status s2)"
  same_as_ref "$LB_PORT" 2 "the balancer"

  say "3. the replica is stopped while two clients send requests through the balancer"
  load_start
  wait_for 60 "the clients' first requests" load_more_than 10
  pg_stop replica
  mark=$(load_count)
  say "  replica stopped after $mark requests"
  wait_for 120 "40 more requests" load_more_than $((mark + 40))
  load_stop
  say "  $LOAD_TOTAL requests, $LOAD_FAILED failed (at most the 2 in flight may)"
  [ "$LOAD_FAILED" -le 2 ] || fail "$LOAD_FAILED requests failed while the replica was lost"
  same_as_ref "$S1_PORT" 1 "server 1"
  same_as_ref "$S2_PORT" 1 "server 2"
  same_as_ref "$LB_PORT" 2 "the balancer"
  on_primary=$(server_connections "$PRIMARY_PORT")
  say "  the servers now hold $on_primary connections to the primary"
  [ "$on_primary" -gt 0 ] || fail "the servers did not turn to the primary"

  say "4. the replica is started again"
  pg_start replica "$REPLICA_PORT" || fail "the replica did not start again"
  wait_for 60 "the replica to catch up" caught_up
  say "  replica caught up (replayed to $(psql_at "$REPLICA_PORT" "SELECT pg_last_wal_replay_lsn()"))"
  same_as_ref "$LB_PORT" 2 "the balancer"
  say "  the servers hold $(server_connections "$REPLICA_PORT") connections to the replica," \
    "$(server_connections "$PRIMARY_PORT") to the primary (kept until they break)"
  say "check passed"
}

case "$cmd" in
  up) up ;;
  down) down ;;
  check) load_state; check ;;
  stop-server)  # DIR N: stop server N and wait until the balancer marks it down
    load_state
    stop_pid "$dir/s${3:?server number}/pid"
    wait_for 30 "the balancer to mark server $3 down" lb_is "s$3" DOWN
    ;;
  start-server)  # DIR N: start server N and wait until the balancer marks it up
    load_state
    server_start "${3:?server number}"
    wait_for 30 "the balancer to mark server $3 up" lb_is "s$3" UP
    ;;
  *) echo "usage: $0 up|check|down|stop-server|start-server DIR [N]" >&2; exit 2 ;;
esac
