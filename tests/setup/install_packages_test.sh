#!/usr/bin/env bash
# Runs the package set-up script against stub package tools and checks the
# exact commands it ran. The stubs (apt-get, dpkg-query, sudo, id) are the
# only package tools on PATH: the script runs in a closed PATH with just
# them and the few ordinary tools it uses, so nothing real is installed.
#
# Usage: install_packages_test.sh SCRIPT [CASE...]  (no CASE: every case)
set -euo pipefail
script="$(realpath "${1:?usage: install_packages_test.sh SCRIPT [CASE...]}")"
shift
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(root_installs_without_sudo user_installs_through_sudo
    user_gives_the_sudo_password nothing_missing_runs_no_apt_get user_without_sudo_is_told_what_to_do
    user_refused_by_sudo_is_told_what_to_do failed_install_fails)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The checkout's layout: the script finds its package list beside it. Names
# may be indented and followed by comments; "alpha" is held (still installed).
mkdir -p "$work/setup" "$work/tools"
cp "$script" "$work/setup/install-packages.sh"
chmod +x "$work/setup/install-packages.sh"
cat >"$work/setup/packages.txt" <<'EOF'
# Test list
alpha
beta    # with a comment

  gamma
delta
EOF

for tool in bash env dirname sed grep cat true; do
    ln -s "$(type -P "$tool")" "$work/tools/$tool"
done

cat >"$work/tools/id" <<'EOF'
#!/usr/bin/env bash
[ "$*" = "-u" ] || { echo "id stub: only -u" >&2; exit 1; }
echo "$STUB_UID"
EOF

# dpkg-query -W -f=FORMAT NAME...: STUB_MISSING are unknown, STUB_HELD held.
cat >"$work/tools/dpkg-query" <<'EOF'
#!/usr/bin/env bash
format='${Package}\t${Version}\n'
names=()
while [ $# -gt 0 ]; do
    case "$1" in
        -W | --show) ;;
        -f | --showformat) format="$2"; shift ;;
        -f* ) format="${1#-f}"; format="${format#=}" ;;
        --showformat=*) format="${1#--showformat=}" ;;
        -*) echo "dpkg-query stub: unknown option $1" >&2; exit 2 ;;
        *) names+=("$1") ;;
    esac
    shift
done
rc=0
for n in "${names[@]}"; do
    if [[ " $STUB_MISSING " == *" $n "* ]]; then
        echo "dpkg-query: no packages found matching $n" >&2
        rc=1
        continue
    fi
    want=install
    [[ " ${STUB_HELD:-} " == *" $n "* ]] && want=hold
    out="${format//'${Package}'/$n}"
    out="${out//'${Version}'/1.0}"
    out="${out//'${Status}'/$want ok installed}"
    out="${out//'${db:Status-Status}'/installed}"
    printf '%b' "$out"
done
exit $rc
EOF

# Logs its arguments with the user and frontend it runs under. As a user it
# fails the way apt-get does without root.
cat >"$work/tools/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $* (uid $STUB_UID${STUB_VIA_SUDO:+ through sudo}, DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-unset})" >>"$STUB_LOG"
if [ "$STUB_UID" != 0 ]; then
    echo "E: Could not open lock file /var/lib/dpkg/lock-frontend - open (13: Permission denied)" >&2
    exit 100
fi
if [ "${STUB_APT_FAILS:-0}" = 1 ] && [ "$1" = install ]; then
    echo "E: Unable to locate package beta" >&2
    exit 100
fi
EOF

# STUB_SUDO: nopasswd (runs at once), password (-n fails, -v asks and
# succeeds) or refuse (everything fails). Like sudo it starts the command
# with a clean environment plus the VAR=value words given to it; -E keeps it.
cat >"$work/tools/sudo" <<'EOF'
#!/usr/bin/env bash
echo "sudo $*" >>"$STUB_LOG"
mode="${STUB_SUDO:-nopasswd}"
[ "$mode" = refuse ] && { echo "sudo: a terminal is required to read the password" >&2; exit 1; }
keep=0 interactive=1 validate=0
while [ $# -gt 0 ]; do
    case "$1" in
        -n) interactive=0 ;;
        -v) validate=1 ;;
        -E) keep=1 ;;
        -*) echo "sudo stub: unknown option $1" >&2; exit 1 ;;
        *) break ;;
    esac
    shift
done
if [ "$mode" = password ] && [ ! -e "$STUB_LOG.validated" ]; then
    # The user types the password at the prompt of "sudo -v".
    if [ $interactive = 1 ] && [ $validate = 1 ]; then
        : >"$STUB_LOG.validated"
        exit 0
    fi
    echo "sudo: a password is required" >&2
    exit 1
fi
[ $validate = 0 ] || exit 0
[ $# -gt 0 ] || { echo "sudo stub: no command" >&2; exit 1; }
assignments=()
while [ $# -gt 0 ] && [[ "$1" == [A-Za-z_]*=* ]]; do
    assignments+=("$1")
    shift
done
common=(STUB_UID=0 STUB_VIA_SUDO=1 "${assignments[@]}")
if [ $keep = 1 ]; then
    exec env "${common[@]}" "$@"
fi
exec env -i PATH="$PATH" STUB_LOG="$STUB_LOG" STUB_MISSING="$STUB_MISSING" \
    STUB_APT_FAILS="${STUB_APT_FAILS:-0}" "${common[@]}" "$@"
EOF
chmod +x "$work/tools/id" "$work/tools/dpkg-query" "$work/tools/apt-get" "$work/tools/sudo"

failures=0
fail() {
    echo "FAIL $current: $*"
    failures=$((failures + 1))
}

# run UID MISSING [VAR=value...]: runs the script; sets status, out, err, log.
run() {
    local uid="$1" missing="$2"
    shift 2
    rm -f "$work/log" "$work/log.validated"
    : >"$work/log"
    status=0
    env -i PATH="$work/tools" HOME="$work" STUB_LOG="$work/log" STUB_UID="$uid" \
        STUB_MISSING="$missing" STUB_HELD=alpha "$@" \
        "$work/setup/install-packages.sh" >"$work/out" 2>"$work/err" </dev/null || status=$?
    out="$(cat "$work/out")"
    err="$(cat "$work/err")"
    log="$(cat "$work/log")"
}

expect_log() {
    local expected
    expected="$(printf '%s\n' "$@")"
    [ "$log" = "$expected" ] || fail "commands differ:"$'\n'"--- expected"$'\n'"$expected"$'\n'"--- ran"$'\n'"$log"
}

expect_status() {
    [ "$status" = "$1" ] || fail "exit status $status, expected $1 (stderr: $err)"
}

expect_in() { # WHAT TEXT
    [[ "$2" == *"$1"* ]] || fail "\"$1\" not in the output:"$'\n'"$out"$'\n'"$err"
}

as_root='(uid 0, DEBIAN_FRONTEND=noninteractive)'
through_sudo='(uid 0 through sudo, DEBIAN_FRONTEND=noninteractive)'
install='install -y -qq --no-install-recommends beta gamma'

root_installs_without_sudo() {
    run 0 "beta gamma"
    expect_status 0
    expect_log "apt-get update -qq $as_root" "apt-get $install $as_root"
    expect_in "2 packages are missing: beta gamma" "$out"
}

user_installs_through_sudo() {
    run 1000 "beta gamma"
    expect_status 0
    expect_log "sudo -n true" \
        "sudo DEBIAN_FRONTEND=noninteractive apt-get update -qq" "apt-get update -qq $through_sudo" \
        "sudo DEBIAN_FRONTEND=noninteractive apt-get $install" "apt-get $install $through_sudo"
}

user_gives_the_sudo_password() {
    run 1000 "beta gamma" STUB_SUDO=password
    expect_status 0
    expect_log "sudo -n true" "sudo -v" \
        "sudo DEBIAN_FRONTEND=noninteractive apt-get update -qq" "apt-get update -qq $through_sudo" \
        "sudo DEBIAN_FRONTEND=noninteractive apt-get $install" "apt-get $install $through_sudo"
    expect_in "sudo needs a password" "$err"
}

nothing_missing_runs_no_apt_get() {
    for uid in 0 1000; do
        run "$uid" ""
        expect_status 0
        expect_log ""
        expect_in "all 4 packages are installed" "$out"
    done
}

user_without_sudo_is_told_what_to_do() {
    mv "$work/tools/sudo" "$work/sudo.off"
    run 1000 "beta gamma"
    mv "$work/sudo.off" "$work/tools/sudo"
    expect_status 1
    expect_log ""
    expect_in "sudo is not installed" "$err"
    expect_in "as root, run: apt-get update && apt-get install --no-install-recommends beta gamma" "$err"
}

user_refused_by_sudo_is_told_what_to_do() {
    run 1000 "delta" STUB_SUDO=refuse
    expect_status 1
    expect_log "sudo -n true" "sudo -v"
    expect_in "sudo was refused" "$err"
    expect_in "apt-get install --no-install-recommends delta" "$err"
}

failed_install_fails() {
    run 0 "beta gamma" STUB_APT_FAILS=1
    [ "$status" != 0 ] || fail "exit status 0 although apt-get failed"
    expect_log "apt-get update -qq $as_root" "apt-get $install $as_root"
    [[ "$out" != *"packages installed"* ]] || fail "reports success: $out"
}

for current in "${cases[@]}"; do
    before=$failures
    "$current"
    [ $failures -ne $before ] || echo "ok   $current"
done
[ $failures -eq 0 ]
