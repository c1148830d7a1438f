#!/usr/bin/env bash
# Installs the Debian packages listed in setup/packages.txt that are missing.
# As root it runs apt-get itself; as another user it goes through sudo. When
# neither is possible it names the missing packages and the command to run.
# Nothing runs apt-get (not even "update") when every package is installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
list="${KX5_PACKAGE_LIST:-$here/packages.txt}"

mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]].*//' "$list" | grep -v '^$')
missing=()
for p in "${wanted[@]}"; do
    status="$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)"
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all ${#wanted[@]} packages are installed"
    exit 0
fi

echo "setup: ${#missing[@]} packages are missing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "setup: cannot install them: not root and sudo is not installed." >&2
        echo "setup: as root, run: apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    # -n: never wait at a password prompt nobody sees; say what to do instead.
    if ! sudo -n true 2>/dev/null; then
        echo "setup: sudo needs a password; asking for it now." >&2
        if ! sudo -v; then
            echo "setup: cannot install them: sudo was refused." >&2
            echo "setup: as root, run: apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
            exit 1
        fi
    fi
    as_root=(sudo DEBIAN_FRONTEND=noninteractive)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: packages installed"
