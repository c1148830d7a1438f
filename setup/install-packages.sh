#!/usr/bin/env bash
# Installs the Debian packages listed in setup/packages.txt that are missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mapfile -t wanted < <(grep -v '^\s*#' "$here/packages.txt" | sed 's/\s.*//' | grep -v '^$')
missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all ${#wanted[@]} packages are installed"
    exit 0
fi
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "setup: installing ${#missing[@]} packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo -E apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: packages installed"
