#!/usr/bin/env bash
# The cursor-following preview against ffmpeg, side by side in one run.
#   bench/run_scrub_bench.sh [CLIP]
# Without CLIP it uses (and if needed makes) the 5-minute 1280x720 8 Mbit/s clip, key frame every
# 10 s, that run_edit_bench.sh makes. For 15 positions, each in a group of pictures not visited
# before (seeded, the same for both sides): our time from the request to its picture, and
# `ffmpeg -v error -ss POS -i CLIP -frames:v 1 -f null -` on the same position; then positions in
# groups visited before; then the cache's memory after every group of the clip was decoded.
# Prints medians and ratios; it never fails on slow figures (only on a wrong picture).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench_lib.sh
BIN=${BIN_DIR:-build/bin}
OUT=${BENCH_OUT:-bench/out}
CLIP=${1:-$OUT/clip_5min_720p25_8M.wmv}
ensure_720p_clip "$CLIP"
mkdir -p "$OUT"
cat "$CLIP" > /dev/null  # warm the page cache for both sides

length_ms=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$CLIP" |
  awk '{printf "%d", $1 * 1000}')
groups=$((length_ms / 10000))
# One position per group, in a shuffled order of the groups, each 0.5 to 9.5 s after its key frame.
positions=$(awk -v n=15 -v g="$groups" 'BEGIN {
  srand(20261208);
  for (i = 0; i < g; i++) order[i] = i;
  for (i = g - 1; i > 0; i--) { j = int(rand() * (i + 1)); t = order[i]; order[i] = order[j]; order[j] = t }
  for (i = 0; i < n && i < g; i++) printf "%d\n", order[i] * 10000 + 500 + int(rand() * 9000) }')

echo "busy before the run: $(wait_quiet)%"
runs="$OUT/scrub_bench_runs.txt"
"$BIN/scrub_bench" groups "$CLIP" $positions > "$runs"

theirs=()
ours=()
ratios=()
printf '%-10s %12s %12s %8s\n' "position" "ours ms" "ffmpeg ms" "ratio"
for p in $positions; do
  o=$(awk -v p="$p" '$1 == "new" && $2 == p {print $3}' "$runs")
  f=$(ffmpeg_frame_ms "$p" "$CLIP")
  ours+=("$o")
  theirs+=("$f")
  ratios+=("$(echo "scale=4; $o / $f" | bc)")
  printf '%-10s %12.1f %12.1f %8.2f\n' "$p" "$o" "$f" "${ratios[-1]}"
done
ours_new=$(printf '%s\n' "${ours[@]}" | median)
ffmpeg_new=$(printf '%s\n' "${theirs[@]}" | median)
ratio_median=$(printf '%s\n' "${ratios[@]}" | median)
visited=$(awk '$1 == "visited" {print $3}' "$runs" | median)
visited_max=$(awk '$1 == "visited" {print $3}' "$runs" | sort -g | tail -1)
later=$(awk '$1 == "later" {print $3}' "$runs" | median)

echo
printf '%-44s %10s %10s %8s\n' "measure (median)" "ours ms" "ref ms" "ratio"
printf '%-44s %10.1f %10.1f %8.3f\n' "new group: request to picture vs ffmpeg -ss" "$ours_new" \
  "$ffmpeg_new" "$(echo "scale=4; $ours_new / $ffmpeg_new" | bc)"
printf '%-44s %10s %10s %8.3f\n' "new group: median of the per-position ratios" "-" "-" \
  "$ratio_median"
printf '%-44s %10.2f %10s %8s\n' "visited group, earlier position (memory)" "$visited" "-" "-"
printf '%-44s %10.2f %10s %8s\n' "visited group, slowest earlier position" "$visited_max" "-" "-"
printf '%-44s %10.1f %10s %8s\n' "visited group, 1 s later (decode goes on)" "$later" "-" "-"

echo
echo "memory: every group of the clip decoded to its end, 122x88 screen"
"$BIN/scrub_bench" memory "$CLIP" | tee "$OUT/scrub_bench_memory.txt"
