#!/usr/bin/env bash
# Installs the named Debian packages that are not installed yet (as root, or
# through sudo). Every script that needs a package beyond the base set of
# setup.sh calls this, so a fresh machine needs nothing by hand.
#   ensure-packages.sh PACKAGE...
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
# Another installation running on the machine holds the package lock for a
# while: wait for it rather than fail.
wait_lock=(-o DPkg::Lock::Timeout=600)
$sudo_cmd apt-get "${wait_lock[@]}" update -qq
$sudo_cmd apt-get "${wait_lock[@]}" install -y -qq "${missing[@]}"
