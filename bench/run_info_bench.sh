#!/usr/bin/env bash
# Measures `vantrel-cli info` on COUNT clips (100) in one process against ffprobe run once per
# clip on the same clips (COUNT processes), for the figures the clip list shows: bit rate, size,
# frame rate, duration. Text lines and --json both; wall time of the whole batch, median of REPS
# runs per tool, alternating which tool goes first.
#
#   bench/run_info_bench.sh [REPS]        (9 when not given)
#
# Environment:
#   BIN_DIR    where vantrel-cli, libqmvinfo.so and qmvgen are (build/bin)
#   BENCH_OUT  where the clips are kept and the runs file goes (bench/out)
#   COUNT      how many clips (100)
# Every run's output is checked: one line (or object) per clip, or the script fails.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${BIN_DIR:-$root/build/bin}
out=${BENCH_OUT:-$here/out}
reps=${1:-9}
count=${COUNT:-100}

command -v ffprobe >/dev/null || { echo "run_info_bench: ffprobe not found" >&2; exit 2; }
for exe in "$bin/vantrel-cli" "$bin/qmvgen" "$bin/libqmvinfo.so"; do
  [[ -e $exe ]] || { echo "run_info_bench: $exe missing; build first" >&2; exit 2; }
done
if ! [[ $reps =~ ^[1-9][0-9]*$ && $count =~ ^[1-9][0-9]*$ ]]; then
  echo "run_info_bench: REPS and COUNT must be positive numbers" >&2
  exit 2
fi

# Clips of a few seconds with the sizes, rates and lengths spread out, made once.
clips=$out/info_clips_$count
if [[ ! -e $clips/done ]]; then
  echo "generating $count clips..." >&2
  rm -rf "$clips"
  mkdir -p "$clips"
  sizes=(320x240 640x480 160x120 720x576)
  for ((i = 0; i < count; i++)); do
    "$bin/qmvgen" --duration $((2000 + 100 * (i % 30))) --size "${sizes[i % 4]}" \
      --fps $((i % 2 ? 25 : 30)) "$clips/clip$(printf %03d "$i").wmv" >/dev/null
  done
  touch "$clips/done"
fi
mapfile -t files < <(ls "$clips"/*.wmv)
((${#files[@]} == count)) || { echo "run_info_bench: expected $count clips" >&2; exit 1; }

QUIET_WAIT_DEFAULT=60
source "$here/bench_lib.sh"

ours_text() { "$bin/vantrel-cli" info "${files[@]}"; }
ours_json() { "$bin/vantrel-cli" info --json "${files[@]}"; }
ffprobe_each() {
  local f
  for f in "${files[@]}"; do
    ffprobe -v error -show_entries format=duration:stream=width,height,avg_frame_rate,bit_rate \
      -of csv=p=0 "$f"
  done
}
# Lines per clip of each tool's output.
lines_per_clip() {
  case $1 in
    ffprobe_each) echo 3 ;;  # video stream, audio stream, format
    *) echo 1 ;;
  esac
}

raw=$out/info_bench_runs.tsv
mkdir -p "$out"
printf "tool\trep\twall_s\tbusy_pct\n" >"$raw"
tools="ours_text ours_json ffprobe_each"
for tool in $tools; do "$tool" >/dev/null; done  # libraries and clips in the page cache
for ((rep = 1; rep <= reps; rep++)); do
  if ((rep % 2)); then order=$tools; else order="ffprobe_each ours_json ours_text"; fi
  for tool in $order; do
    q=$(wait_quiet)
    t0=$(now_ns)
    "$tool" >"$out/info_bench.out"
    t1=$(now_ns)
    got=$(wc -l <"$out/info_bench.out")
    want=$((count * $(lines_per_clip "$tool")))
    if ((got != want)); then
      echo "run_info_bench: $tool printed $got lines, expected $want" >&2
      exit 1
    fi
    wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
    printf "%s\t%d\t%s\t%s\n" "$tool" "$rep" "$wall" "$q" >>"$raw"
    echo "  $tool #$rep: $wall s; ${q}% busy before" >&2
  done
done
rm -f "$out/info_bench.out"

median() { sort -n | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2];
  else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
col() { awk -F'\t' -v t="$1" 'NR > 1 && $1 == t {print $3}' "$raw" | median; }
ff=$(col ffprobe_each)
echo
echo "| $count clips | wall median s | per clip ms | against ffprobe per clip |"
echo "|---|---:|---:|---:|"
for tool in $tools; do
  m=$(col "$tool")
  awk -v t="$tool" -v m="$m" -v f="$ff" -v n="$count" 'BEGIN {
    name = t == "ours_text" ? "`vantrel-cli info`" : t == "ours_json" ? "`vantrel-cli info --json`" : "`ffprobe` once per clip"
    printf "| %s | %.3f | %.2f | %.3f |\n", name, m, m * 1000 / n, m / f }'
done
echo
echo "runs: $raw"
