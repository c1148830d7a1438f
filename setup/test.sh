#!/usr/bin/env bash
# Runs every test: the C++ tests (normal build), the same tests under
# AddressSanitizer + UBSan, and whatever else ctest registers (page tests,
# end-to-end). Ends with one summary line "N passed, N failed".
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/setup/install-packages.sh" || exit 1
export KX5_JOBS="${KX5_JOBS:-$(nproc)}"

passed=0
failed=0
run_suite() { # name build-dir ctest-args...
    local name="$1" dir="$2"
    shift 2
    local log
    log="$(mktemp)"
    (cd "$dir" && ctest --output-on-failure --timeout 600 --repeat until-pass:2 -j "$KX5_JOBS" "$@") 2>&1 | tee "$log"
    local line t f
    line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)"
    if [ -z "$line" ]; then
        echo "test: $name suite did not report a summary"
        failed=$((failed + 1))
    else
        t="$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')"
        f="$(echo "$line" | sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/')"
        passed=$((passed + t - f))
        failed=$((failed + f))
    fi
    rm -f "$log"
}

if ! "$root/setup/build.sh" "$root/build"; then
    echo "0 passed, 1 failed"
    exit 1
fi
run_suite main "$root/build"

if [ "${KX5_SKIP_SANITIZERS:-0}" != 1 ]; then
    if "$root/setup/build.sh" "$root/build-asan" -DKX5_SANITIZE=ON -DKX5_BUILD_BENCHMARKS=OFF -DKX5_BUILD_GUI=OFF \
        -DCMAKE_BUILD_TYPE=Debug; then
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
            run_suite sanitizers "$root/build-asan" -L unit
    else
        failed=$((failed + 1))
    fi
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
