#!/usr/bin/env bash
# Installs the Debian packages listed in setup/packages.txt that are missing.
# As root it runs apt-get itself; as another user it goes through sudo. When
# neither is possible it names the missing packages and the command to run.
# Nothing runs apt-get (not even "update") when every package is installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
list="${KX5_PACKAGE_LIST:-$here/packages.txt}"

if [ ! -r "$list" ]; then
    echo "setup: cannot read the package list $list" >&2
    exit 1
fi
if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "setup: dpkg-query not found: this set-up installs Debian packages with apt-get" >&2
    exit 1
fi

# One package name per line; "#" starts a comment; blanks around names are fine.
mapfile -t wanted < <(sed -e 's/#.*//' -e 's/^[[:space:]]*//' -e 's/[[:space:]].*//' "$list" | grep -v '^$')
missing=()
for p in "${wanted[@]}"; do
    # "install ok installed", or "hold ok installed" for a held package.
    status="$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)"
    [[ "$status" == *" installed" ]] || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all ${#wanted[@]} packages are installed"
    exit 0
fi

echo "setup: ${#missing[@]} packages are missing: ${missing[*]}"
cannot() {
    echo "setup: cannot install them: $1" >&2
    echo "setup: as root, run: apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
}
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || cannot "not root and sudo is not installed."
    # -n: never wait at a password prompt nobody sees; say what to do instead.
    if ! sudo -n true 2>/dev/null; then
        echo "setup: sudo needs a password; asking for it now." >&2
        sudo -v || cannot "sudo was refused."
    fi
    # sudo starts apt-get with a clean environment: hand the frontend over.
    as_root=(sudo DEBIAN_FRONTEND=noninteractive)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: packages installed"
