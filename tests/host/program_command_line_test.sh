#!/usr/bin/env bash
# The program's own command line without a display: --help and --version
# print and exit 0, a wrong switch is named on stderr with status 2, and the
# manual page describes every switch --help lists.
# Usage: program_command_line_test.sh PROGRAM VERSION MANUAL-PAGE-SOURCE
set -euo pipefail
program="${1:?usage: program_command_line_test.sh PROGRAM VERSION MANUAL-PAGE-SOURCE}"
version="${2:?}"
manual="${3:?}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# run ARGS...: the program with no display and a home of its own; sets
# status, out and err.
run() {
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work" XDG_CONFIG_HOME="$work/config" \
        XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" "$program" "$@" \
        >"$work/out" 2>"$work/err" </dev/null || status=$?
    out="$(cat "$work/out")"
    err="$(cat "$work/err")"
}

run --help
[ "$status" = 0 ] || fail "--help exits $status: $err"
[[ "$out" == "Usage: kx5-editor [OPTION...] [FILE...]"* ]] || fail "--help printed: $out"
[ -z "$err" ] || fail "--help wrote to stderr: $err"
help="$out"

for args in "--version" "a.wav --devtools --version"; do
    # shellcheck disable=SC2086 # the words are separate arguments
    run $args
    [ "$status" = 0 ] || fail "$args exits $status: $err"
    [ "$out" = "kx5-editor $version" ] || fail "$args printed '$out'"
done

for wrong in --bogus -x --bundle "--devtools=1" --simulated-unit-dump; do
    run a.wav "$wrong"
    name="${wrong%%=*}"
    [ "$status" = 2 ] || fail "$wrong exits $status"
    [ -z "$out" ] || fail "$wrong printed on stdout: $out"
    [[ "$err" == "kx5-editor: "*"'$name'"* ]] || fail "$wrong: message does not name it: $err"
    [[ "$err" == *"Try 'kx5-editor --help'"* ]] || fail "$wrong: message does not point to --help: $err"
done

# The manual page spells switches with "\-".
page="$(sed 's/\\-/-/g' "$manual")"
while read -r switch; do
    [[ "$page" == *"$switch"* ]] || fail "the manual page does not describe $switch"
done < <(grep -oE '^ +(-h, )?--[a-z-]+' <<<"$help" | sed -E 's/^ +(-h, )?//')

[ $failures -eq 0 ] && echo "command line: help, version and wrong switches as they should be"
[ $failures -eq 0 ]
