#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given) with Ninja. A new
# folder is configured as RelWithDebInfo (optimised, with debug information)
# unless the options say -DCMAKE_BUILD_TYPE=... A folder configured before
# is configured again when an option given here differs from its cache (or
# is not a -D option); otherwise it is only built.
# Usage: setup/build.sh [build-dir] [extra cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build}"
shift || true
jobs="${KX5_JOBS:-$(nproc)}"
# Paths relative to the checkout, so every clone shares the compiler cache.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

# The cached value of NAME ("NAME:TYPE=VALUE" in CMakeCache.txt); fails when
# there is none.
cached() {
    local line
    line="$(grep -m 1 -E "^$1(:[A-Za-z]+)?=" "$dir/CMakeCache.txt")" || return 1
    printf '%s' "${line#*=}"
}

# True when the options ask for something the folder is not configured with.
options_differ() {
    local args=("$@") i=0 entry name value have
    while [ $i -lt ${#args[@]} ]; do
        case "${args[i]}" in
            -D) i=$((i + 1)); entry="${args[i]:-}" ;;
            -D*) entry="${args[i]#-D}" ;;
            *) return 0 ;;
        esac
        name="${entry%%=*}"
        name="${name%%:*}"
        value="${entry#*=}"
        [[ "$entry" == *=* && "$name" =~ ^[A-Za-z0-9_]+$ ]] || return 0
        have="$(cached "$name")" || return 0
        [ "$have" = "$value" ] || return 0
        i=$((i + 1))
    done
    return 1
}

if [ ! -f "$dir/build.ninja" ] || [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
elif [ $# -gt 0 ] && options_differ "$@"; then
    echo "build: configuring $dir again with $*"
    cmake -S "$root" -B "$dir" "$@" >/dev/null
fi
cmake --build "$dir" -j "$jobs"
