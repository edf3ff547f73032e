#!/bin/sh
# Installs whichever packages of the lists given (default
# tools/debian-packages.txt) are missing. Quick and quiet when everything is
# there.   usage: install-deps.sh [LIST...]
set -e
[ $# -gt 0 ] || set -- "$(dirname "$0")/debian-packages.txt"
missing=""
for p in $(cat "$@" | grep -v '^#'); do
    dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
