#!/bin/sh
# Runs a fuzzer from its seeds for a given number of seconds.
#   run_fuzzer.sh <fuzzer> <seed folder | seed writer> <work folder> <seconds> [more libFuzzer flags]
# The seeds are a folder of files or a program that writes them into the folder it is given. The
# corpus starts afresh from them in <work folder>/corpus. Fails on any finding; the crashing input
# is left in the work folder.
set -e
fuzzer=$(realpath "$1") seeds=$(realpath "$2") work=$3 seconds=$4
shift 4
rm -rf "$work/corpus"
mkdir -p "$work/corpus"
if [ -d "$seeds" ]; then
  cp "$seeds"/* "$work/corpus/"
else
  "$seeds" "$work/corpus"
fi
cd "$work"
# Scratch outputs of a run that ends on a finding stay here, not in the system's folder.
mkdir -p tmp
export TMPDIR="$PWD/tmp"
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
  "$@" corpus
