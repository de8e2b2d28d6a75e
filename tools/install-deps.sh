#!/usr/bin/env bash
# Installs whatever of the package lists named (default tools/deps.txt) is missing. Cheap when
# everything is present: dpkg-query answers without touching the network, so apt only runs on a
# fresh machine.
# Usage: tools/install-deps.sh [LIST_FILE...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -gt 0 ] || set -- "$here/deps.txt"
mapfile -t wanted < <(sed -e 's/#.*//' -e '/^\s*$/d' "$@" | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -q
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
