#!/usr/bin/env bash
# A PostgreSQL restart between requests is invisible to clients: every mode
# answers the same bytes before and after the store restarts under a running
# server, and the log records no failure. Uses a cluster of its own, so the
# shared test cluster is never disturbed.
set -euo pipefail
root=$(pwd)
build=$root/${BUILD_DIR:-build}
port=${HISTDATA_RESTART_PG_PORT:-54350}
work=$(mktemp -d /tmp/histdata-restart.XXXXXX)
chmod 755 "$work"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  "$root/scripts/pg-cluster.sh" stop "$work/pg"
  rm -rf "$work"
}
trap cleanup EXIT

conninfo=$("$root/scripts/pg-cluster.sh" start "$work/pg" "$port")
mkdir -p "$work/data" "$work/run" "$work/log"
touch "$work/run/zet.ini"
{
  for alias in HISTDATA Historical ardandata zetdata; do
    printf '[%s]\nDriver=postgres\nConnInfo=%s\n\n' "$alias" "$conninfo"
  done
} > "$work/aliases.ini"
"$build/histdata-admin" sample --data-dir "$work/data" --aliases "$work/aliases.ini" \
  --days 3 --symbols 4 --ticks 300 --end 2024-03-08 >/dev/null

"$build/histdata-server" --port 0 --address 127.0.0.1 --data-dir "$work/data" \
  --aliases "$work/aliases.ini" --log-dir "$work/log" --workdir "$work/run" > "$work/out" &
server_pid=$!
for _ in $(seq 600); do
  grep -q 'listening on' "$work/out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || { echo "server did not start"; exit 1; }
  sleep 0.1
done
http_port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/out")
[ -n "$http_port" ] || { echo "server did not report its port"; exit 1; }

day='dateStart=2024/3/7&dateOver=2024/3/7'
requests=(
  "symbol=0001&mode=0&timeStart=10:00&timeOver=10:30&$day"
  "symbol=0001&mode=1&dateStart=2024/1/1&dateOver=2024/3/8"
  "symbol=0002&mode=2"
  "symbol=0002&mode=3&DayCount=2&dateStart=2024/3/8&dateOver=2024/3/8"
  "symbol=0003&mode=4&interval=300&$day"
  "symbol=0003&mode=5&interval=5&iunit=1&$day"
  "symbol=0004&mode=6&interval=60&$day"
  "symbol=0004&mode=0&timeStart=9:30&timeOver=9:45&dateStart=2024/3/6&dateOver=2024/3/8"
)
# Under CalcMode UW and a SQL DBMode, modes 3 and 6 also read the module's
# own database, whose connection lives as long as the module, not a request.
settings() {
  sed -e 's/^DBUSER=.*/DBUSER=postgres/' -e 's/^DSN_user=.*/DSN_user=postgres/' \
    -e "s/^CalcMode=.*/CalcMode=$1/" -e "s/^DBMode=.*/DBMode=$2/" \
    "$root/config/zet.ini" > "$work/run/zet.ini"
}
fetch_all() {
  local i=0
  for mode in "DC PARADOX" "UW SQL"; do
    settings $mode
    for q in "${requests[@]}"; do
      curl -sf --max-time 60 "http://127.0.0.1:$http_port/?$q" > "$work/$1.$i"
      i=$((i + 1))
    done
  done
}
fetch_all before
grep -q 'RECORDCOUNT' "$work/before.0" || { echo "no ticks before the restart"; exit 1; }
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)
if [ "$(id -u)" -eq 0 ]; then
  runuser -u postgres -- "$bin/pg_ctl" -D "$work/pg/data" -m fast -w restart >/dev/null
else
  "$bin/pg_ctl" -D "$work/pg/data" -m fast -w restart >/dev/null
fi
fetch_all after
status=0
for i in $(seq 0 $((2 * ${#requests[@]} - 1))); do
  if ! cmp -s "$work/before.$i" "$work/after.$i"; then
    echo "reply changed across the restart: ${requests[$((i % ${#requests[@]}))]} (set $((i / ${#requests[@]})))"
    diff <(head -c 2000 "$work/before.$i") <(head -c 2000 "$work/after.$i") || true
    status=1
  fi
done
if grep -a 'Exception' "$work/log/VELD.log"; then
  echo "the restart was seen in the log"
  status=1
fi
[ $status -eq 0 ] && echo "every mode answered the same bytes across a store restart"
exit $status
