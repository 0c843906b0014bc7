#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Nothing else is installed by hand.
set -euo pipefail
pkgs=(g++ cmake ninja-build pkg-config libboost-dev libsqlite3-dev sqlite3 libpq-dev
      postgresql libcurl4-openssl-dev libgtest-dev libgmock-dev libbenchmark-dev curl
      python3-pandas)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
