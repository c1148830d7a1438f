#!/bin/sh
# Fails (and names the places) when a C++ file of the tree is not formatted as
# the repository's .clang-format says. Usage: check-format.sh [SOURCE-DIR]
set -eu
root="${1:-$(cd "$(dirname "$0")/../.." && pwd)}"
cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z -- '*.cpp' '*.h'
else
    find . -path ./build -prune -o -path './build-*' -prune -o \
        \( -name '*.cpp' -o -name '*.h' \) -type f -print0
fi | xargs -0 "${CLANG_FORMAT:-clang-format}" --dry-run -Werror
