#!/usr/bin/env bash
# Runs the test command on a tiny throwaway project whose tests pass, fail,
# or fail once and then pass, and checks its last two lines: the tests that
# needed their second run by name, then "N passed, N failed".
# Usage: test_script_test.sh TEST-SCRIPT BUILD-SCRIPT
set -euo pipefail
script="$(realpath "${1:?usage: test_script_test.sh TEST-SCRIPT BUILD-SCRIPT}")"
build_script="$(realpath "${2:?usage: test_script_test.sh TEST-SCRIPT BUILD-SCRIPT}")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/setup"
cp "$script" "$work/src/setup/test.sh"
cp "$build_script" "$work/src/setup/build.sh"
printf '#!/bin/sh\nexit 0\n' >"$work/src/setup/install-packages.sh"
chmod +x "$work/src/setup/"*.sh
# A "flaky" test fails while its marker file is missing and makes it.
cat >"$work/src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(test_script_probe NONE)
enable_testing()
foreach(name "flaky.One" "flaky two")
    string(MAKE_C_IDENTIFIER "${name}" marker)
    add_test(NAME "${name}" COMMAND sh -c "test -e \"$0\" || { touch \"$0\"; echo '***Failed'; exit 1; }"
        ${CMAKE_BINARY_DIR}/${marker})
endforeach()
add_test(NAME steady COMMAND true)
add_test(NAME broken COMMAND false)
EOF

failures=0
run() { # EXPECTED-RETRIED EXPECTED-SUMMARY
    local status=0 out
    out="$(KX5_SKIP_SANITIZERS=1 KX5_JOBS=2 "$work/src/setup/test.sh" 2>&1)" || status=$?
    local last before
    last="$(tail -n 1 <<<"$out")"
    before="$(tail -n 2 <<<"$out" | head -n 1)"
    [ "$before" = "$1" ] || { echo "FAIL: expected '$1', got '$before'"; failures=$((failures + 1)); }
    [ "$last" = "$2" ] || { echo "FAIL: expected '$2', got '$last'"; failures=$((failures + 1)); }
    [ "$status" = 1 ] || { echo "FAIL: exit status $status with a failed test"; failures=$((failures + 1)); }
    [ $failures -eq 0 ] || printf '%s\n' "$out"
}

run "retried: 2 (flaky two, flaky.One)" "3 passed, 1 failed"
# Their markers exist now: nothing needs a second run.
run "retried: 0" "3 passed, 1 failed"
[ $failures -eq 0 ] && echo "test script: names the tests that passed on their second run"
[ $failures -eq 0 ]
