#!/usr/bin/env bash
# Runs the Windows extension library under Wine and compares what it serves
# with the Linux library, byte for byte:
#   scripts/windows/wine-check.sh            (BUILD_DIR, default build, holds
#                                             the Linux build; HISTDATA_TEST_PG
#                                             a PostgreSQL cluster, optional)
# The Windows test host loads histdata-isapi.dll as a web server would. It
# finds its settings through the Windows registry and a download with the
# platform's HTTP client, then in the Windows folder and the DLL's folder;
# its log is C:\HistData\VELD.log inside the Wine prefix (kept, with the
# built DLL, under BUILD_DIR/windows). The stores are the Linux
# histdata-admin's SQLite files; with a cluster, one daily-price request goes
# to PostgreSQL over TCP on 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=$(realpath -m "${BUILD_DIR:-build}")
win=$build/windows

scripts/ensure-packages.sh wine wine64 python3 sqlite3
dll=$(scripts/windows/build-dll.sh "$build" | tail -n1)
exe=$(dirname "$dll")/isapi-testhost.exe
linux_host=$build/platform/isapi/isapi-testhost
linux_lib=$build/platform/isapi/libhistdata-isapi.so
for f in "$build/histdata-admin" "$linux_host" "$linux_lib"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "missing $f: build the Linux side first" >&2; exit 2; }
done

unset HISTDATA_ALIASES HISTDATA_LOG_DIR HISTDATA_SYSCONF_DIR
export WINEPREFIX=$win/wineprefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=" # no .NET or browser engine installer
unset DISPLAY
work=$(mktemp -d /tmp/histdata-wine.XXXXXX)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "making the Wine prefix (once)"
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
drive_c=$WINEPREFIX/drive_c

# --- the Windows side of platform/ against the platform: registry, module
# and Windows folders, version resource, HTTP client, settings files.
cmake --build "$win/cmake" --target test_windows -j"${JOBS:-2}" >/dev/null
(cd "$work" && wine "$win/cmake/test_windows.exe" --gtest_brief=1) || fail "test_windows.exe"

# --- stores made by the Linux admin tool: five trading days ending on a fixed
# past Friday, so that requests without dates (mode 2, mode 3) walk back the
# same way on both sides.
"$build/histdata-admin" sample --data-dir "$work/data" --days 5 --symbols 4 --ticks 400 \
  --seed 11 --end 2026-11-20 >/dev/null
symbols=($(sqlite3 "$work/data/zetdata.db" 'SELECT Symbol FROM symbolTable ORDER BY 1 LIMIT 2'))
[ ${#symbols[@]} -eq 2 ] || fail "no symbols in the sample market"
a=${symbols[0]} b=${symbols[1]}
d=2026/11/20 e=2026/11/19 f=2026/11/16
cat >"$work/queries" <<QUERIES
symbol=$a&mode=0&timeStart=10:00&timeOver=10:30&dateStart=$d&dateOver=$d
symbol=$b&mode=0&timeStart=09:30&timeOver=16:00&dateStart=$f&dateOver=$e
symbol=ZZZZ&mode=0&dateStart=$d&dateOver=$d
symbol=$a&timeStart=25:00
symbol=$a&mode=0&dateStart=$d
symbol=$a&mode=1&dateStart=2026/11/1&dateOver=2026/12/1
symbol=$b&mode=1&dateStart=$f&dateOver=$d
symbol=ZZZZ&mode=1&dateStart=$f&dateOver=$d
symbol=$a&mode=2
symbol=$b&mode=2&dateStart=$e&dateOver=$e
symbol=$a&mode=3&DayCount=2&dateStart=$d&dateOver=$d
symbol=$b&mode=3&DayCount=5&timeStart=10:00&timeOver=12:00&dateStart=$d&dateOver=$d
symbol=$a&mode=3
symbol=$a&mode=4&interval=60&dateStart=$d&dateOver=$d
symbol=$b&mode=4&interval=300&timeStart=10:00&timeOver=14:00&dateStart=$e&dateOver=$d
symbol=$a&mode=4&interval=0&dateStart=$d&dateOver=$d
symbol=$a&mode=5&interval=5&iunit=1&dateStart=$f&dateOver=$d
symbol=$b&mode=5&interval=1&iunit=2&BackCount=3&timeStart=10:00&timeOver=15:00&dateStart=$d&dateOver=$d
symbol=$a&mode=5&interval=30&dateStart=$d&dateOver=$d
symbol=$a&mode=6&interval=60&dateStart=$d&dateOver=$d
symbol=$b&mode=6&interval=180&timeStart=09:30&timeOver=11:00&dateStart=$e&dateOver=$d
symbol=$a&mode=6&interval=300&dateStart=$f&dateOver=$d
symbol=$a&mode=6&interval=-60&dateStart=$d&dateOver=$d
symbol=$a&mode=7
QUERIES

# --- the settings, in two variants that between them use both calculation
# modes and both database modes.
settings() { # CALCMODE DBMODE EXECUTIONTICKONLY [MAXCONNECTION [DBUSER]]
  printf '[KORVA]\r\nMaxConnection=%s\r\nNominalUpdateTimestamp=16:00:00\r\n' "${4:-10}"
  printf 'DBUSER=%s\r\n' "${5:-sa}"
  printf 'ExecutionTickOnly=%s\r\nCalcMode=%s\r\nDBMode=%s\r\n' "$3" "$1" "$2"
  printf '[ZET_DATABASE]\r\nDSN_source=zetdata\r\n'
}

# The settings page, served as the registry will name it.
mkdir -p "$work/site/firm1/web1" "$work/linux" "$work/windows" "$work/linux-log" "$work/module"
python3 - "$work/site" >"$work/server.port" 2>"$work/server.log" <<'PY' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_port, flush=True)
server.serve_forever()
PY
server_pid=$!
until [ -s "$work/server.port" ]; do
  kill -0 "$server_pid" 2>/dev/null || fail "settings web server did not start"
  sleep 0.1
done
port=$(cat "$work/server.port")

wine reg add 'HKLM\Software\Ardan' /v iniServer /d "127.0.0.1:$port" /f >/dev/null
wine reg add 'HKLM\Software\Ardan' /v iniFirm /d firm1 /f >/dev/null
wine reg add 'HKLM\Software\Ardan' /v iniRole /d '' /f >/dev/null
wine reg add 'HKLM\Software\Ardan' /v iniCustom /d web1 /f >/dev/null
rm -f "$drive_c/windows/zet.ini" "$(dirname "$dll")/zet.ini"

# The log: last written two days ago, so the first load starts it afresh.
mkdir -p "$drive_c/HistData"
printf 'a line of an earlier day\r\n' >"$drive_c/HistData/VELD.log"
touch -d '2 days ago' "$drive_c/HistData/VELD.log"

run_linux() { # OUT ARGS...: the Linux host in $work/linux (its zet.ini)
  local out=$1; shift
  (cd "$work/linux" && HISTDATA_DATA_DIR=$work/data HISTDATA_LOG_DIR=$work/linux-log \
     "$linux_host" "$@" >"$out")
}
run_windows() { # OUT ARGS...: the Windows host in $work/windows
  local out=$1; shift
  (cd "$work/windows" && HISTDATA_DATA_DIR=$(winpath "$work/data") \
     wine "$exe" "$@" >"$out") || fail "the Windows host failed: $(tail -n3 "$out")"
}
compare() { scripts/windows/compare-replies.py "$@" || fail "replies differ: $*"; }

# --- every mode over the same stores, both variants.
variant=0
for v in "DC PARADOX N" "UW SQL Y"; do
  variant=$((variant + 1))
  settings $v >"$work/site/firm1/web1/zetini.htm"
  settings $v >"$work/linux/zet.ini"
  run_linux "$work/linux-$variant.out" "$linux_lib" "@$work/queries"
  run_windows "$work/windows-$variant.out" "$(winpath "$dll")" "@$(winpath "$work/queries")"
  echo -n "settings $v: "
  compare "$work/linux-$variant.out" "$work/windows-$variant.out"
done
grep -q 'GET /firm1/web1/zetini.htm HTTP/1.1" 200' "$work/server.log" ||
  fail "the settings page was not fetched from the registry's location"
cmp -s <(settings UW SQL Y; printf '\r\n') "$work/windows/zeturl.ini" ||
  fail "zeturl.ini does not hold the downloaded page"
head -n1 "$work/windows-1.out" | grep -qx 'version 2.0 ""' || fail "GetExtensionVersion"
tail -n2 "$work/windows-1.out" | tr '\n' ' ' | grep -qx 'terminated 1 unloaded ' ||
  fail "TerminateExtension or the unload"

# --- the log: started afresh on the first load of the day, appended to on
# the second, each load headed by the test host's version resource.
log=$drive_c/HistData/VELD.log
banner=$'HistData Test Host(isapi-testhost) 1.0.0\r\nHistData Project Copyright (c) 2026 HistData Project\r'
grep -q 'earlier day' "$log" && fail "the log of an earlier day was not started afresh"
[ "$(head -n2 "$log")" = "$banner" ] || fail "log banner: $(head -n2 "$log" | cat -A)"
[ "$(grep -c '^HistData Test Host(isapi-testhost) 1.0.0' "$log")" -eq 2 ] ||
  fail "the second load did not append its banner"
[ "$(wc -l <"$log")" -gt 4 ] || fail "nothing logged after the banners"

# --- the pool limit from the Windows folder's zet.ini, then from the one
# beside the DLL, which comes first: five requests held in progress at once
# get the exact 500 beyond the limit.
query="symbol=$a&mode=0&timeStart=10:00&timeOver=10:05&dateStart=$d&dateOver=$d"
for limit in 3 2; do
  if [ "$limit" = 3 ]; then
    settings DC PARADOX N 3 >"$drive_c/windows/zet.ini"
    lib=$dll
  else
    cp "$dll" "$work/module/"
    settings DC PARADOX N 2 >"$work/module/zet.ini"
    lib=$work/module/histdata-isapi.dll
  fi
  settings DC PARADOX N "$limit" >"$work/linux/zet.ini"
  run_linux "$work/linux-limit.out" --hold "$linux_lib" "$query" 5
  run_windows "$work/windows-limit.out" --hold "$(winpath "$lib")" "$query" 5
  busy=$(grep -c '^reply result 4 status 500 500 Maximum number of concurrent connections exceeded.  Please try again later$' \
         "$work/windows-limit.out" || true)
  [ "$busy" -eq $((5 - limit)) ] || fail "limit $limit: $busy replies of 500 instead of $((5 - limit))"
  echo -n "limit $limit: "
  compare "$work/linux-limit.out" "$work/windows-limit.out" --any-order
done
rm -f "$drive_c/windows/zet.ini"

# --- daily prices from PostgreSQL over TCP.
if [ -n "${HISTDATA_TEST_PG:-}" ]; then
  pg_port=$(sed -n 's/.*port=\([0-9]*\).*/\1/p' <<<"$HISTDATA_TEST_PG")
  psql "$HISTDATA_TEST_PG" -qAt -c 'SET client_min_messages = warning' \
    -c 'DROP DATABASE IF EXISTS histdata_wine' \
    -c 'CREATE DATABASE histdata_wine' >/dev/null
  printf '[Historical]\nDriver=postgres\nConnInfo=%s\n' \
    "$(sed 's/dbname=[^ ]*/dbname=histdata_wine/' <<<"$HISTDATA_TEST_PG")" >"$work/pg-linux.ini"
  printf '[Historical]\r\nDriver=postgres\r\nConnInfo=host=127.0.0.1 port=%s user=postgres dbname=histdata_wine\r\n' \
    "$pg_port" >"$work/pg-windows.ini"
  "$build/histdata-admin" sample --data-dir "$work/pgdata" --aliases "$work/pg-linux.ini" \
    --days 5 --symbols 4 --ticks 50 --seed 11 --end 2026-11-20 >/dev/null
  # The SQL stores log in as DBUSER: the cluster's own user here.
  settings DC PARADOX N 10 postgres >"$work/linux/zet.ini"
  settings DC PARADOX N 10 postgres >"$work/site/firm1/web1/zetini.htm"
  query="symbol=$a&mode=1&dateStart=2026/11/1&dateOver=2026/12/1"
  (cd "$work/linux" && HISTDATA_DATA_DIR=$work/pgdata HISTDATA_ALIASES=$work/pg-linux.ini \
     HISTDATA_LOG_DIR=$work/linux-log "$linux_host" "$linux_lib" "$query" >"$work/linux-pg.out")
  (cd "$work/windows" && HISTDATA_DATA_DIR=$(winpath "$work/pgdata") \
     HISTDATA_ALIASES=$(winpath "$work/pg-windows.ini") \
     wine "$exe" "$(winpath "$dll")" "$query" >"$work/windows-pg.out") || fail "PostgreSQL run"
  echo -n "PostgreSQL over TCP: "
  compare "$work/linux-pg.out" "$work/windows-pg.out"
  grep -q 'RECORDCOUNT' "$work/windows-pg.out" ||
    fail "no daily prices from PostgreSQL: $(head -c 600 "$work/windows-pg.out")"
  psql "$HISTDATA_TEST_PG" -qAt -c 'DROP DATABASE IF EXISTS histdata_wine WITH (FORCE)' >/dev/null
fi
echo "Windows check passed"
