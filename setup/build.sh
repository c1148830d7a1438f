#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given), Ninja, Release.
# Usage: setup/build.sh [build-dir] [extra cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build}"
shift || true
jobs="${KX5_JOBS:-$(nproc)}"
# Paths relative to the checkout, so every clone shares the compiler cache.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$dir" -j "$jobs"
