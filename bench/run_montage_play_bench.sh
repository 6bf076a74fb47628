#!/usr/bin/env bash
# Playing in the montage pane against ffplay, on the same clip.
#   bench/run_montage_play_bench.sh [CLIP] [REPS]
# Without CLIP it uses (and if needed makes) the 5-minute 1280x720 8 Mbit/s clip, key frame every
# 10 s, that run_edit_bench.sh makes.
# 1. Space to the first picture at the cursor: the preview player as the pane drives it (the
#    clip opened without waiting, played from the position, until the frame at the position
#    reaches the video sink), against a fresh `ffplay -ss POS -t 0.04 -autoexit` (which exits
#    once it has shown the pictures up to the position), for 9 seeded positions: 3 on key frames,
#    6 between them. Beside it, for scale, a fresh `ffmpeg -ss POS -frames:v 1` decoding only the
#    picture at the position (no sound, no real time).
# 2. The montage preview: four sections from their key frames, back to back, REPS times; the time
#    from the last picture of one section to the first of the next.
# Sinks: fakesink in real time (no sound card, no display), SDL's dummy drivers for ffplay.
# Prints medians and the ratio; it never fails on slow figures (only on a wrong picture).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench_lib.sh
BIN=${BIN_DIR:-build/bin}
OUT=${BENCH_OUT:-bench/out}
CLIP=${1:-$OUT/clip_5min_720p25_8M.wmv}
REPS=${2:-5}
ensure_720p_clip "$CLIP"
mkdir -p "$OUT"
cat "$CLIP" > /dev/null  # warm the page cache for both sides

positions=$(awk 'BEGIN {
  srand(20261209);
  for (i = 0; i < 3; i++) printf "%d\n", (3 + int(rand() * 25)) * 10000;
  for (i = 0; i < 6; i++) printf "%d\n", (1 + int(rand() * 27)) * 10000 + 500 + int(rand() * 9000) }')

echo "busy before the run: $(wait_quiet)%"
runs="$OUT/montage_play_bench_runs.txt"
"$BIN/montage_play_bench" first "$CLIP" $positions > "$runs" 2> /dev/null

ours=()
theirs=()
ratios=()
decodes=()
printf '%-10s %12s %12s %8s %12s\n' "position" "ours ms" "ffplay ms" "ratio" "ffmpeg ms"
for p in $positions; do
  o=$(awk -v p="$p" '$1 == "first" && $2 == p {print $3}' "$runs")
  t0=$(now_ms)
  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ffplay -v error -nostats -autoexit \
    -ss "$(echo "scale=3; $p / 1000" | bc)" -t 0.04 "$CLIP" < /dev/null
  t1=$(now_ms)
  f=$(echo "$t1 - $t0" | bc)
  ours+=("$o")
  theirs+=("$f")
  ratios+=("$(echo "scale=4; $o / $f" | bc)")
  decodes+=("$(ffmpeg_frame_ms "$p" "$CLIP")")
  printf '%-10s %12.1f %12.1f %8.3f %12.1f\n' "$p" "$o" "$f" "${ratios[-1]}" "${decodes[-1]}"
done

sections="120000-122000 30000-32000 250000-252000 60000-62000"
for ((r = 0; r < REPS; r++)); do
  "$BIN/montage_play_bench" gaps "$CLIP" $sections 2> /dev/null | awk '$1 == "gap" {print $3}'
done > "$OUT/montage_play_bench_gaps.txt"

echo
printf '%-48s %10s %10s %8s\n' "measure (median)" "ours ms" "ffplay ms" "ratio"
printf '%-48s %10.1f %10.1f %8.3f\n' "Space to the first picture at the cursor" \
  "$(printf '%s\n' "${ours[@]}" | median)" "$(printf '%s\n' "${theirs[@]}" | median)" \
  "$(printf '%s\n' "${ratios[@]}" | median)"
printf '%-48s %10s %10.1f %8s\n' "ffmpeg -ss: decode of the picture at POS only" "-" \
  "$(printf '%s\n' "${decodes[@]}" | median)" "-"
printf '%-48s %10.1f %10s %8s\n' "montage preview: gap between two sections" \
  "$(median < "$OUT/montage_play_bench_gaps.txt")" "-" "-"
printf '%-48s %10.1f %10s %8s\n' "montage preview: largest gap" \
  "$(sort -g "$OUT/montage_play_bench_gaps.txt" | tail -1)" "-" "-"
