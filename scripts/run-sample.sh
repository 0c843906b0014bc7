#!/usr/bin/env bash
# Installs, builds, makes a sample market under var/ (once) and starts the
# server on it in the foreground: http://127.0.0.1:${PORT:-8080}/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
root=$PWD/var
mkdir -p "$root/run" "$root/log"
if [ ! -f "$root/data/historical.db" ]; then
  build/histdata-admin sample --data-dir "$root/data"
fi
[ -f "$root/run/zet.ini" ] || cp config/zet.ini "$root/run/zet.ini"
cd "$root/run"
echo "histdata-server on http://127.0.0.1:${PORT:-8080}/ (log: $root/log/VELD.log)"
exec "$root/../build/histdata-server" --port "${PORT:-8080}" --data-dir "$root/data" \
  --log-dir "$root/log"
