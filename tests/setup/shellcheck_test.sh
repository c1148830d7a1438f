#!/usr/bin/env bash
# Runs shellcheck over every shell script of the checkout: files ending in
# .sh and executable files whose first line starts sh or bash (.ci/run).
# Build folders at the top, .git and node_modules are left out.
# Usage: shellcheck_test.sh SOURCE-ROOT
set -euo pipefail
root="$(realpath "${1:?usage: shellcheck_test.sh SOURCE-ROOT}")"

scripts=()
while IFS= read -r -d '' f; do
    if [[ "$f" == *.sh ]] || head -n 1 "$f" | grep -Eq '^#!.*([/ ]|env )(ba)?sh( |$)'; then
        scripts+=("$f")
    fi
done < <(find "$root" \( -path "$root/build*" -o -name .git -o -name node_modules \) -prune \
    -o -type f \( -name '*.sh' -o -perm -u+x \) -print0 | sort -z)

if [ ${#scripts[@]} -eq 0 ]; then
    echo "no shell scripts found under $root"
    exit 1
fi
printf 'checking %s\n' "${scripts[@]#"$root"/}"
shellcheck --external-sources "${scripts[@]}"
echo "shellcheck: ${#scripts[@]} scripts clean"
