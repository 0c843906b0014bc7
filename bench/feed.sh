#!/usr/bin/env bash
# bench/feed.sh: the live feed (histdata-admin feed), measured beside its
# floors on the same file in the same run. Prints Markdown rows of bench/run's
# table (workload 10) on standard output, progress on standard error.
#
#   bench/feed.sh            (bench/run calls it; alone, it builds release)
#
# Figures: a sustained feed into the SQLite day files and into PostgreSQL,
# in ticks per second, against sqlite3's .import and PostgreSQL's COPY of
# the same CSV file; mode 2's p99 under wrk with the feed running at 50,000
# ticks/s against the same without it; and the time from a tick's append to
# the server serving it (p99).
#
# Environment: BENCH_BUILD_DIR (build-release), BENCH_REPS (3),
# BENCH_WRK_SECONDS (5), BENCH_FEED_TICKS (2000000), BENCH_PG_PORT (18680),
# BENCH_PORT (18480), BENCH_KEEP=1 keeps the work folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BENCH_BUILD_DIR:-build-release}
REPS=${BENCH_REPS:-3}
WRK_SECONDS=${BENCH_WRK_SECONDS:-5}
N=${BENCH_FEED_TICKS:-2000000}
STARTED=$(date +%s)
say() { printf '[feed %4ds] %s\n' $(($(date +%s) - STARTED)) "$*" >&2; }

if [ ! -x "$ROOT/$BUILD/histdata-admin" ] || [ -z "${BENCH_FROM_RUN:-}" ]; then
  say "release build in $BUILD"
  BUILD_DIR=$BUILD BUILD_TYPE=Release scripts/build.sh histdata-server histdata-admin -j2 >/dev/null
fi
ADMIN=$ROOT/$BUILD/histdata-admin SERVER=$ROOT/$BUILD/histdata-server

WORK=$(mktemp -d /tmp/histdata-feed-bench.XXXXXX)
chmod 755 "$WORK"
mkdir -p "$WORK/run" "$WORK/log" "$WORK/etc"
SERVER_PID="" FEED_PID="" PG_DIR=""
cleanup() {
  [ -n "$FEED_PID" ] && kill "$FEED_PID" 2>/dev/null && wait "$FEED_PID" 2>/dev/null
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null
  [ -n "$PG_DIR" ] && "$ROOT/scripts/pg-cluster.sh" stop "$PG_DIR" >/dev/null
  if [ "${BENCH_KEEP:-}" = 1 ]; then say "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
free_port() {
  local p=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; do p=$((p + 1)); done
  echo "$p"
}
calc() { awk "BEGIN { printf \"%s\", $1 }"; }
kv() { tr ' ' '\n' <<<"$2" | sed -n "s/^$1=//p"; }
# Seconds of each of REPS runs of a command (after PREP, untimed);
# "median=.. min=.. max=..".
timed() {  # PREP CMD...
  local prep=$1 t=()
  shift
  for _ in $(seq "$REPS"); do
    eval "$prep"
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>"$WORK/timed.err" || { cat "$WORK/timed.err" >&2; exit 1; }
    e=$(date +%s.%N)
    t+=("$(calc "$e - $s")")
  done
  printf '%s\n' "${t[@]}" | sort -g | awk '{ v[NR] = $1 } END { printf "median=%s min=%s max=%s\n", v[int((NR + 1) / 2)], v[1], v[NR] }'
}
rate() {  # COUNT TIMINGS
  calc "sprintf(\"%.0f ticks/s (%.0f-%.0f)\", $1 / $(kv median "$2"), $1 / $(kv max "$2"), $1 / $(kv min "$2"))"
}
ratio() { calc "sprintf(\"%.2f\", $(kv median "$2") / $(kv median "$1"))"; }  # OURS THEIRS
row() { echo "| $1 | $2 | $3 | $4 | $5 | $6 | $7 |"; }

TODAY=$(date +%Y-%m-%d)
FILE=$WORK/ticks.csv
say "making $N ticks of one day"
python3 "$ROOT/bench/feed_load.py" gen "$FILE" "$N" 2003-07-04
COLUMNS_SQL="Date text, Time text, Symbol text, Bid float8, Offer float8, Price float8, BidSize float8, Volume float8, OfferSize float8"

# --- into SQLite -----------------------------------------------------------------------------
say "10: feed into SQLite day files"
ours=$(timed 'rm -rf "$WORK/sq"' "$ADMIN" feed "$FILE" --until-end --data-dir "$WORK/sq" \
  --status-seconds 0 --rejects "$WORK/rejects.txt")
floor=$(timed 'rm -f "$WORK/floor.db"' sqlite3 "$WORK/floor.db" "CREATE TABLE t ($COLUMNS_SQL);" \
  ".import --csv --skip 1 $FILE t")
row 10 "live feed into SQLite, $N ticks of one day" "$(rate "$N" "$ours")" \
  "sqlite3 .import of the same CSV (no index, no IDs)" "$(rate "$N" "$floor")" "$(ratio "$ours" "$floor")" \
  ">= 200,000 ticks/s"

# --- into PostgreSQL ---------------------------------------------------------------------------
say "10: feed into PostgreSQL"
PG_DIR=$WORK/pg
mkdir -p "$PG_DIR"
PG=$("$ROOT/scripts/pg-cluster.sh" start "$PG_DIR" "$(free_port "${BENCH_PG_PORT:-18680}")" | tail -n1)
printf '[HISTDATA]\nDriver=postgres\nConnInfo=%s dbname=feedbench\n' "$PG" >"$WORK/aliases.ini"
fresh_db() { psql "$PG" -qAt -c "DROP DATABASE IF EXISTS feedbench" -c "CREATE DATABASE feedbench" >/dev/null; }
ours=$(timed fresh_db "$ADMIN" feed "$FILE" --until-end --data-dir "$WORK/pgdata" \
  --aliases "$WORK/aliases.ini" --status-seconds 0 --rejects "$WORK/rejects.txt")
floor=$(timed 'fresh_db; psql "$PG dbname=feedbench" -qc "CREATE TABLE t ($COLUMNS_SQL)"' \
  psql "$PG dbname=feedbench" -qc "\\copy t FROM '$FILE' CSV HEADER")
row 10 "live feed into PostgreSQL, $N ticks of one day" "$(rate "$N" "$ours")" \
  "psql \\copy (COPY) of the same CSV into a table without index" "$(rate "$N" "$floor")" \
  "$(ratio "$ours" "$floor")" ">= 100,000 ticks/s"
"$ROOT/scripts/pg-cluster.sh" stop "$PG_DIR" >/dev/null
PG_DIR=""

# --- under a running server ------------------------------------------------------------------
say "10: mode 2 under wrk, without and with the feed at 50,000 ticks/s"
SERVE=$WORK/serve
python3 "$ROOT/bench/feed_load.py" gen "$WORK/today.csv" 1000000 "$TODAY" --until "$(date -d '-1 hour' +%H:%M:%S)"
"$ADMIN" feed "$WORK/today.csv" --until-end --data-dir "$SERVE" --status-seconds 0 \
  --rejects "$WORK/rejects.txt" >/dev/null 2>&1
"$ADMIN" init --data-dir "$SERVE" >/dev/null  # the SQL stores a request also reads (names)
printf '[KORVA]\r\nMaxConnection=32\r\nDBMode=PARADOX\r\n' >"$WORK/run/zet.ini"
PORT=$(free_port "${BENCH_PORT:-18480}")
HISTDATA_SYSCONF_DIR=$WORK/etc "$SERVER" --port "$PORT" --address 127.0.0.1 --data-dir "$SERVE" \
  --log-dir "$WORK/log" --workdir "$WORK/run" >"$WORK/server.out" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do grep -q listening "$WORK/server.out" 2>/dev/null && break; sleep 0.1; done
URL="http://127.0.0.1:$PORT/?symbol=B007&mode=2"
curl -s "$URL" | grep -q '^TICK|' || { echo "no mode 2 reply: $(curl -s "$URL")" >&2; exit 1; }
p99s() {  # wrk runs; the median p99 in ms
  local v=()
  for _ in $(seq "$REPS"); do
    v+=("$(kv p99_ms "$(wrk -t2 -c10 -d"${WRK_SECONDS}s" -s "$ROOT/bench/wrk/plain.lua" "$URL" | tail -n1)")")
  done
  printf '%s\n' "${v[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
wrk -t2 -c10 -d2s -s "$ROOT/bench/wrk/plain.lua" "$URL" >/dev/null
quiet=$(p99s)
LIVE=$WORK/live.csv
: >"$LIVE"
"$ADMIN" feed "$LIVE" --data-dir "$SERVE" --status-seconds 0 --rejects "$WORK/rejects.txt" \
  >"$WORK/feed.out" 2>&1 &
FEED_PID=$!
pace_seconds=$((REPS * (WRK_SECONDS + 1) + 4))
python3 "$ROOT/bench/feed_load.py" pace "$LIVE" 50000 "$pace_seconds" >"$WORK/pace.out" &
PACE_PID=$!
sleep 1  # let the pace settle before wrk measures (a warm-up, not a wait for a result)
busy=$(p99s)
wait "$PACE_PID"
row 10 "mode 2 p99 (wrk, 10 connections) with the feed at 50,000 ticks/s into today's table ($(cat "$WORK/pace.out"))" \
  "p99 $busy ms" "the same without the feed" "p99 $quiet ms" "$(calc "sprintf(\"%.2f x\", $busy / $quiet)")" "<= 2 x"

say "10: from append to served"
lat=$(python3 "$ROOT/bench/feed_load.py" latency "$LIVE" "$PORT" 200)
row 10 "a tick appended to the followed file until mode 2 serves it (200 ticks, default 200 ms commits)" \
  "p99 $(calc "sprintf(\"%.3f\", $(kv p99 "$lat"))") s (p50 $(kv p50 "$lat") s, max $(kv max "$lat") s)" "" "" "" "<= 1 s"
kill "$FEED_PID"
wait "$FEED_PID" || true
FEED_PID=""
say "done"
