#!/usr/bin/env bash
# Runs every test: the C++ tests (normal build), the same tests under
# AddressSanitizer + UBSan, and whatever else ctest registers (page tests,
# end-to-end). A failed test runs once more before it counts as failed; the
# line before the last names every test that passed only on that second run
# ("retried: N (names)"). Ends with one summary line "N passed, N failed".
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/setup/install-packages.sh" || exit 1
export KX5_JOBS="${KX5_JOBS:-$(nproc)}"

passed=0
failed=0
retried=()
# The tests of a ctest log that failed a run and then passed one.
passed_on_retry() { # log
    awk '
        match($0, /Test +#[0-9]+: /) {
            rest = substr($0, RSTART + RLENGTH)
            if (!match(rest, / \.+ *(\*\*\*)?/)) next
            name = substr(rest, 1, RSTART - 1)
            if (substr(rest, RSTART + RLENGTH) !~ /^Passed/) failed[name] = 1
            else if ((name in failed) && !(name in seen)) { seen[name] = 1; print name }
        }' "$1"
}
run_suite() { # suite build-dir ctest-args...
    local suite="$1" dir="$2"
    shift 2
    local log
    log="$(mktemp)"
    (cd "$dir" && ctest --output-on-failure --timeout 600 --repeat until-pass:2 -j "$KX5_JOBS" "$@") 2>&1 | tee "$log"
    local line t f
    line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)"
    if [ -z "$line" ]; then
        echo "test: $suite suite did not report a summary"
        failed=$((failed + 1))
    else
        t="$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')"
        f="$(echo "$line" | sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/')"
        passed=$((passed + t - f))
        failed=$((failed + f))
    fi
    local name
    while IFS= read -r name; do
        if [ "$suite" = main ]; then retried+=("$name"); else retried+=("$name ($suite)"); fi
    done < <(passed_on_retry "$log" | LC_ALL=C sort)
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

if [ ${#retried[@]} -eq 0 ]; then
    echo "retried: 0"
else
    list="$(printf ', %s' "${retried[@]}")"
    echo "retried: ${#retried[@]} (${list#, })"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
