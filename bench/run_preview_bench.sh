#!/usr/bin/env bash
# Clip information and frame preview against ffprobe and ffmpeg, side by side in one run.
#   bench/run_preview_bench.sh [CLIP]
# Without CLIP it uses (and if needed makes) the 5-minute 1280x720 8 Mbit/s clip, key frame every
# 10 s, that run_edit_bench.sh makes. Prints medians and ratios; it never fails on slow figures.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench_lib.sh
BIN=build/bin
CLIP=${1:-bench/out/clip_5min_720p25_8M.wmv}
ensure_720p_clip "$CLIP"
cat "$CLIP" > /dev/null  # warm the page cache for both sides


REPS=21
ours_info=$("$BIN/preview_bench" info "$CLIP" $REPS | awk '{print $2}' | median)
probe_times=()
for _ in $(seq $REPS); do
  t0=$(now_ms)
  ffprobe -v error -show_entries stream=width,height,avg_frame_rate,bit_rate:format=duration \
    "$CLIP" > /dev/null
  t1=$(now_ms)
  probe_times+=("$(echo "$t1 - $t0" | bc)")
done
probe_info=$(printf '%s\n' "${probe_times[@]}" | median)

# Random positions, the same for both sides (seeded), one fresh process per position on each side.
length_ms=$("$BIN/preview_bench" info "$CLIP" 1 | awk '{print $4}' | tr -d ms)
positions=$(awk -v n=15 -v len="$length_ms" 'BEGIN {srand(20261207); for (i = 0; i < n; i++) printf "%d\n", rand() * (len - 1000)}')
ours=()
theirs=()
printf '%-10s %12s %12s %8s\n' "position" "ours ms" "ffmpeg ms" "ratio"
for p in $positions; do
  o=$("$BIN/preview_bench" frame "$CLIP" "$p" | awk '{print $2}')
  f=$(ffmpeg_frame_ms "$p" "$CLIP")
  ours+=("$o")
  theirs+=("$f")
  printf '%-10s %12.1f %12.1f %8.2f\n' "$p" "$o" "$f" "$(echo "scale=3; $o / $f" | bc)"
done
ours_frame=$(printf '%s\n' "${ours[@]}" | median)
ffmpeg_frame=$(printf '%s\n' "${theirs[@]}" | median)

echo
printf '%-34s %10s %10s %8s\n' "measure (median)" "ours ms" "ref ms" "ratio"
printf '%-34s %10.2f %10.2f %8.3f\n' "clip information vs ffprobe" "$ours_info" "$probe_info" \
  "$(echo "scale=4; $ours_info / $probe_info" | bc)"
printf '%-34s %10.1f %10.1f %8.3f\n' "frame at a position vs ffmpeg -ss" "$ours_frame" \
  "$ffmpeg_frame" "$(echo "scale=4; $ours_frame / $ffmpeg_frame" | bc)"
