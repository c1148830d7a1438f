#!/bin/sh
# Builds the WAVE reader fuzz target with clang (whatever compiler the main
# build uses) and runs it for a given number of seconds on the seed corpus.
#   run_wav_fuzzer.sh <work folder> [seconds]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
work=$1
seconds=${2:-25}
cxx=${KX5_FUZZ_CXX:-clang++}
mkdir -p "$work/corpus" "$work/artifacts"
sources="wav_stream.cpp riff_chunk_stream.cpp file_stream.cpp wave_file.cpp source_loader.cpp"
set --
for s in $sources; do set -- "$@" "$root/ir/$s"; done
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$here/wav_reader_fuzzer.cpp" "$@" -o "$work/wav_reader_fuzzer"
cp -n "$here"/corpus/* "$work/corpus/" 2>/dev/null || true
# -timeout: one input taking longer than 5 s counts as a hang.
exec "$work/wav_reader_fuzzer" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus"
