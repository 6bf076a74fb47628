#!/bin/sh
# Runs the PE reader fuzzer from the seed images for a given number of seconds.
#   run_fuzzer.sh <fuzzer> <seed writer> <work folder> <seconds> [more libFuzzer flags]
# Fails on any finding; the crashing input is left in the work folder.
set -e
fuzzer=$(realpath "$1") seeds=$(realpath "$2") work=$3 seconds=$4
shift 4
rm -rf "$work/corpus"
mkdir -p "$work/corpus"
"$seeds" "$work/corpus"
cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 \
  -max_len=16384 "$@" corpus
