#!/usr/bin/env bash
# Runs the build script on a tiny throwaway project (no compiler needed) and
# checks when it configures: a new folder as RelWithDebInfo, again when an
# option differs from the cache, not when nothing changed, and never back to
# the default build type once another was chosen.
# Usage: build_script_test.sh SCRIPT
set -euo pipefail
script="$(realpath "${1:?usage: build_script_test.sh SCRIPT}")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/setup"
cp "$script" "$work/src/setup/build.sh"
chmod +x "$work/src/setup/build.sh"
# Each configure leaves a line in configure-log; the build writes the
# option's value into value.txt.
cat >"$work/src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(build_script_probe NONE)
set(PROBE_VALUE "none" CACHE STRING "A value the build writes out")
option(PROBE_FLAG "A switch" OFF)
file(APPEND ${CMAKE_BINARY_DIR}/configure-log "${PROBE_VALUE} ${PROBE_FLAG}\n")
add_custom_target(value ALL
    COMMAND ${CMAKE_COMMAND} -E echo "${PROBE_VALUE}" > ${CMAKE_BINARY_DIR}/value.txt
    VERBATIM)
EOF

failures=0
check() { # WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
build() { # DIR OPTIONS...
    KX5_JOBS=1 "$work/src/setup/build.sh" "$@" >/dev/null
}
cached() { # DIR NAME
    sed -n -E "s/^$2(:[A-Z]+)?=(.*)/\2/p" "$1/CMakeCache.txt"
}
configures() { # DIR
    wc -l <"$1/configure-log" | tr -d ' '
}

a="$work/a"
build "$a" -DPROBE_VALUE=one
check "first build type" RelWithDebInfo "$(cached "$a" CMAKE_BUILD_TYPE)"
check "first value built" one "$(cat "$a/value.txt")"

build "$a" -DPROBE_VALUE=two
check "changed option reaches the cache" two "$(cached "$a" PROBE_VALUE)"
check "changed option reaches the build" two "$(cat "$a/value.txt")"
check "configured again for the change" 2 "$(configures "$a")"

build "$a" -DPROBE_VALUE=two
build "$a"
check "same options or none: not configured again" 2 "$(configures "$a")"

build "$a" -D PROBE_FLAG:BOOL=ON
check "separate -D with a type" ON "$(cached "$a" PROBE_FLAG)"
check "other options kept" two "$(cached "$a" PROBE_VALUE)"
build "$a" -DPROBE_FLAG:BOOL=ON
check "typed option unchanged: not configured again" 3 "$(configures "$a")"

b="$work/b"
build "$b" -DCMAKE_BUILD_TYPE=Debug
build "$b" -DPROBE_VALUE=three
check "chosen build type kept when configured again" Debug "$(cached "$b" CMAKE_BUILD_TYPE)"
check "value in the Debug folder" three "$(cat "$b/value.txt")"

if [ $failures -eq 0 ]; then
    echo "build script: configures exactly when its options change"
fi
[ $failures -eq 0 ]
