#!/bin/sh
# Builds one libFuzzer target with clang (whatever compiler the main build
# uses) and runs it for a number of seconds on its seed corpus; a longer run
# is the same command with more seconds.
#   run_fuzzer.sh <work folder> <seconds> <target source> <seed corpus> [source | -option]...
# Sources are named relative to the checkout; arguments starting with "-" go
# to the compiler as they are (libraries to link, for example).
set -eu
root=$(cd "$(dirname "$0")/../../.." && pwd)
work=$1
seconds=$2
target=$3
seeds=$4
shift 4
cxx=${KX5_FUZZ_CXX:-clang++}
name=$(basename "$target" .cpp)
mkdir -p "$work/corpus" "$work/artifacts"
target_path="$root/$target"
for a in "$@"; do
    case "$a" in
        -*) set -- "$@" "$a" ;;
        *) set -- "$@" "$root/$a" ;;
    esac
    shift
done
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$target_path" "$@" -o "$work/$name"
cp -n "$root/$seeds"/* "$work/corpus/" 2>/dev/null || true
# -timeout: one input taking longer than 5 s counts as a hang.
exec "$work/$name" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus"
