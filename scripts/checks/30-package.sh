#!/usr/bin/env bash
# The Debian package and the way out to a network, on this machine:
# - builds the package from the existing build folder and installs it with
#   dpkg; checks its files, dependencies, conffiles, user and folders, and
#   the unit with systemd-analyze verify;
# - starts the server exactly as the unit's ExecStart says (its environment
#   expanded, in its working folder), as the histdata user, and gets answers
#   on both ports; the metrics parse with Debian's Prometheus client parser;
# - puts nginx in front with the packaged example (a throwaway self-signed
#   certificate, a password file): with credentials the reply is the history
#   port's, byte for byte; without, or with a wrong password, 401;
# - checks the one-line errors (exit 2) of both programs;
# then removes the package.
set -euo pipefail
root=$PWD
build=${BUILD_DIR:-build}
port=${HISTDATA_PACKAGE_PORT:-18420}
admin_port=$((port + 1))
tls_port=$((port + 2))
scripts/ensure-packages.sh dpkg-dev file systemd nginx openssl curl python3-prometheus-client

work=$(mktemp -d /tmp/histdata-package.XXXXXX)
server=
nginx_pid=
user_made= data_made=
getent passwd histdata >/dev/null || user_made=1
[ -e /var/lib/histdata ] || data_made=1
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  dpkg --purge histdata-server >/dev/null 2>&1 || true
  [ -n "$data_made" ] && rm -rf /var/lib/histdata
  [ -n "$user_made" ] && userdel histdata 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "30-package: $*" >&2; exit 1; }
# Waits (up to a minute) until a URL answers at all, or the process is gone.
wait_answer() {
  for _ in $(seq 600); do
    curl -sk -o /dev/null "$1" && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

deb=$(BUILD_DIR=$build scripts/package.sh)
[[ $(basename "$deb") =~ ^histdata-server_[0-9.]+_amd64\.deb$ ]] || fail "package named $deb"
dpkg -i "$deb" >/dev/null

for f in /usr/bin/histdata-server /usr/bin/histdata-admin /usr/lib/histdata/libhistdata-isapi.so \
    /etc/histdata/zet.ini /etc/default/histdata-server /lib/systemd/system/histdata-server.service \
    /usr/share/doc/histdata-server/examples/aliases.ini \
    /usr/share/doc/histdata-server/examples/nginx-histdata.conf \
    /usr/share/histdata/web/chart.html /usr/share/histdata/web/chart.js \
    /usr/share/histdata/web/lightweight-charts.standalone.production.js; do
  [ -f "$f" ] || fail "missing $f"
done
depends=$(dpkg-query -W -f='${Depends}' histdata-server)
for lib in libsqlite3-0 libpq5 libcurl4 libstdc++6; do
  [[ $depends == *$lib* ]] || fail "Depends lacks $lib: $depends"
done
dpkg-query -W -f='${Conffiles}' histdata-server | grep -q '/etc/histdata/zet.ini' ||
  fail "zet.ini is not a conffile"
getent passwd histdata >/dev/null || fail "no histdata user"
for d in /var/lib/histdata /var/log/histdata; do
  [ "$(stat -c %U "$d")" = histdata ] || fail "$d not owned by histdata"
done

unit=/lib/systemd/system/histdata-server.service
verify=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $verify"
# Warnings about this unit fail too; those about the host's other units do not.
if grep -q 'histdata-server.service' <<<"$verify"; then fail "systemd-analyze verify: $verify"; fi
# The feed's template unit, checked as an instance.
feed_unit=$(mktemp -d)/histdata-feed@check.service
cp /lib/systemd/system/histdata-feed@.service "$feed_unit"
verify=$(systemd-analyze verify "$feed_unit" 2>&1) || fail "systemd-analyze verify (feed): $verify"
if grep -q 'histdata-feed@' <<<"$verify"; then fail "systemd-analyze verify (feed): $verify"; fi
for want in '^User=histdata$' '^ProtectSystem=strict$' '^NoNewPrivileges=yes$' \
    '^Restart=on-failure$' '^ReadWritePaths=/var/lib/histdata /var/log/histdata$'; do
  grep -q "$want" "$unit" || fail "unit lacks $want"
done

# A small market, made by the service's own user where the unit serves it.
runuser -u histdata -- histdata-admin sample --data-dir /var/lib/histdata --days 2 --symbols 3 \
  --ticks 50 --end 2003-07-04 >/dev/null 2>&1 || fail "histdata-admin sample as histdata"
# The operator's way to move the ports.
printf 'HISTDATA_PORT=%s\nHISTDATA_ADMIN_PORT=%s\n' "$port" "$admin_port" >/etc/default/histdata-server

# ExecStart with Environment= then EnvironmentFile= expanded, as systemd does.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
workdir=$(sed -n 's/^WorkingDirectory=//p' "$unit")
declare -A env
for kv in $(sed -n 's/^Environment=//p' "$unit") $(grep -E '^[A-Z_]+=' /etc/default/histdata-server); do
  env[${kv%%=*}]=${kv#*=}
done
while [[ $exec_start =~ \$\{([A-Za-z_][A-Za-z0-9_]*)\} ]]; do
  exec_start=${exec_start//"${BASH_REMATCH[0]}"/${env[${BASH_REMATCH[1]}]}}
done
read -ra command <<<"$exec_start"
(cd "$workdir" && exec setpriv --reuid histdata --regid histdata --init-groups -- "${command[@]}") \
  >"$work/server.out" 2>&1 &
server=$!
wait_answer "http://127.0.0.1:$port/" "$server" || fail "no answer: $(cat "$work/server.out")"
[ "$(ps -o user= -p "$server")" = histdata ] || fail "server not running as histdata"

query="/?symbol=0001&mode=0&dateStart=2003/7/4&dateOver=2003/7/4"
curl -sf "http://127.0.0.1:$port$query" >"$work/direct.txt"
grep -q '^TICK|' "$work/direct.txt" || fail "no ticks from the installed server: $(head -3 "$work/direct.txt")"
[ "$(curl -s "http://127.0.0.1:$admin_port/health")" = ok ] || fail "health not ok"
curl -sf "http://127.0.0.1:$admin_port/chart" | grep -q '<html' || fail "the chart page is not served"
[ -s /var/log/histdata/VELD.log ] || fail "no log in /var/log/histdata"

# nginx in front, with the packaged example.
mkdir -p "$work/nginx"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost \
  -keyout "$work/nginx/key.pem" -out "$work/nginx/cert.pem" 2>/dev/null
printf 'ops:%s\n' "$(openssl passwd -apr1 s3cret)" >"$work/nginx/htpasswd"
sed -e "s|listen 443 ssl;|listen 127.0.0.1:$tls_port ssl;|" -e '/listen \[::\]:443/d' \
  -e "s|/etc/ssl/certs/histdata.crt|$work/nginx/cert.pem|" \
  -e "s|/etc/ssl/private/histdata.key|$work/nginx/key.pem|" \
  -e "s|/etc/nginx/histdata.htpasswd|$work/nginx/htpasswd|" \
  -e "s|http://127.0.0.1:8080|http://127.0.0.1:$port|" \
  /usr/share/doc/histdata-server/examples/nginx-histdata.conf >"$work/nginx/histdata.conf"
cat >"$work/nginx/nginx.conf" <<EOF
user root;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events {}
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  include $work/nginx/histdata.conf;
}
EOF
nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
wait_answer "https://127.0.0.1:$tls_port/" "$nginx_pid" || fail "nginx: $(cat "$work/nginx/error.log")"
tls="https://127.0.0.1:$tls_port"
curl -sk --fail -u ops:s3cret "$tls$query" >"$work/proxied.txt" || fail "request with credentials"
cmp -s "$work/direct.txt" "$work/proxied.txt" || fail "the proxied reply differs from the history port's"
curl -sk -u ops:s3cret -d "symbol=0001&mode=2" "$tls/" >"$work/proxied-post.txt"
curl -s -d "symbol=0001&mode=2" "http://127.0.0.1:$port/" >"$work/direct-post.txt"
cmp -s "$work/direct-post.txt" "$work/proxied-post.txt" || fail "the proxied POST differs"
[ "$(curl -sk -o /dev/null -w '%{http_code}' "$tls$query")" = 401 ] || fail "no credentials not refused"
[ "$(curl -sk -o /dev/null -w '%{http_code}' -u ops:wrong "$tls$query")" = 401 ] ||
  fail "a wrong password not refused"

# The metrics, read by the Prometheus client's own parser (Debian's python3-*
# packages belong to the system Python).
curl -sf "http://127.0.0.1:$admin_port/metrics" >"$work/metrics.txt"
/usr/bin/python3 - "$work/metrics.txt" <<'EOF' || fail "metrics"
import sys
from prometheus_client.parser import text_string_to_metric_families
families = {f.name: f for f in text_string_to_metric_families(open(sys.argv[1]).read())}
want = {"histdata_requests": "counter", "histdata_request_duration_seconds": "histogram",
        "histdata_reply_lines": "counter", "histdata_reply_bytes": "counter",
        "histdata_modules_in_use": "gauge", "histdata_modules_limit": "gauge",
        "histdata_connections_open": "gauge", "histdata_connections_idle": "gauge",
        "histdata_store_errors": "counter", "histdata_log_write_failures": "counter",
        "process_start_time_seconds": "gauge", "histdata_build_info": "gauge"}
for name, kind in want.items():
    assert name in families and families[name].type == kind, (name, kind)
done = {s.labels["mode"]: s.value for s in families["histdata_requests"].samples
        if s.name == "histdata_requests_total" and s.labels["outcome"] == "complete"}
# Direct and through nginx: two complete mode-0 replies; one POST each in mode 2.
assert done["0"] >= 2 and done["2"] >= 2, done
EOF

# Bad command lines: one line naming the fault, status 2.
for cmd in "histdata-server --port 1 --bogus x" "histdata-server --port http" \
    "histdata-admin sample --data-dir /tmp --days many"; do
  set +e
  err=$($cmd 2>&1 >/dev/null)
  status=$?
  set -e
  [ "$status" = 2 ] && [ "$(wc -l <<<"$err")" = 1 ] || fail "$cmd: status $status, $err"
done
histdata-server --help | grep -q -- '--admin-port' || fail "server --help"
histdata-admin --help | grep -q 'Exit status' || fail "admin --help"
echo "30-package: $(basename "$deb") installs, serves under its unit's command line and behind nginx"
