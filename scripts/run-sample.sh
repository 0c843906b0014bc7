#!/usr/bin/env bash
# The first run: installs what the two programs build with, builds only
# histdata-server and histdata-admin (Release, in build-release/), makes a
# sample market under var/ (once) and serves it on 127.0.0.1 in the
# foreground: history requests on $PORT (8080), the operator's port on
# $ADMIN_PORT (8081). Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
port=${PORT:-8080}
admin_port=${ADMIN_PORT:-8081}
build=${BUILD_DIR:-build-release}

scripts/ensure-packages.sh g++ cmake ninja-build pkg-config libboost-dev libsqlite3-dev \
  libpq-dev libcurl4-openssl-dev zlib1g-dev curl
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHISTDATA_TESTS=OFF >/dev/null
cmake --build "$build" --target histdata-server histdata-admin
# The chart page's files (the chart library fetched once by npm), when npm is here.
if command -v npm >/dev/null; then
  cmake --build "$build" --target web >/dev/null || echo "the chart page was not built" >&2
fi

var=$root/var
mkdir -p "$var/run" "$var/log"
if [ ! -f "$var/data/historical.db" ]; then
  "$build/histdata-admin" sample --data-dir "$var/data"
fi
[ -f "$var/run/zet.ini" ] || cp config/zet.ini "$var/run/zet.ini"

"$root/$build/histdata-server" --port "$port" --admin-port "$admin_port" \
  --data-dir "$var/data" --log-dir "$var/log" --workdir "$var/run" &
server=$!
trap 'kill -TERM $server 2>/dev/null; wait $server' INT TERM
until curl -s -o /dev/null "http://127.0.0.1:$admin_port/health"; do
  kill -0 $server 2>/dev/null || { wait $server; exit 1; }
  sleep 0.2
done

# The sample's last day is today; a weekday before it holds a whole day.
day=$(date -d yesterday +%F)
while [ "$(date -d "$day" +%u)" -gt 5 ]; do day=$(date -d "$day - 1 day" +%F); done
d=$(date -d "$day" +%Y/%-m/%-d)
month=$(date -d "$day - 30 days" +%Y/%-m/%-d)
h=http://127.0.0.1:$port
cat <<EOF

Up. Try these:
  curl '$h/?symbol=0005&mode=2'
  curl '$h/?symbol=0005&mode=0&timeStart=10:00&timeOver=10:05&dateStart=$d&dateOver=$d'
  curl '$h/?symbol=0005&mode=6&interval=300&dateStart=$d&dateOver=$d'
  curl '$h/?symbol=0005&mode=1&dateStart=$month&dateOver=$d'
  curl 'http://127.0.0.1:$admin_port/metrics'
  curl 'http://127.0.0.1:$admin_port/health'
  chart: http://127.0.0.1:$admin_port/chart?symbol=0005&mode=6&interval=300&dateStart=$day&dateOver=$day&timeStart=09:00&timeOver=16:00
Log: $var/log/VELD.log. Ctrl-C stops the server.
EOF
wait $server
