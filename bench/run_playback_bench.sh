#!/usr/bin/env bash
# The playback engine against GStreamer's playbin (gst-launch-1.0 playbin), side by side in one
# run, on the same generated 720p clip and the same sinks:
#   bench/run_playback_bench.sh [REPS]
# Rows: "fakesink" (VANTREL_VIDEO_SINK/VANTREL_AUDIO_SINK=fakesink, real time) and "x11" (the X
# sink drawing into a 1280 x 720 window on the two-monitor Xorg desktop, sound into a fakesink).
# Prints medians and ratios; it never fails on slow figures. Runs go to bench/out/playback_runs.tsv.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench_lib.sh
BIN=${BIN_DIR:-build/bin}
OUT=${BENCH_OUT:-bench/out}
REPS=${1:-15}
SEEKS=20
CLIP=$OUT/clip_30s_720p25.wmv
mkdir -p "$OUT"
if [ ! -f "$CLIP" ]; then
  "$BIN/qmvgen" --duration 30000 --size 1280x720 --fps 25 --keyint 2000 --vbitrate 4000000 \
    --abitrate 128000 "$CLIP"
fi
cat "$CLIP" >/dev/null # warm the page cache for both sides
RUNS=$OUT/playback_runs.tsv
: >"$RUNS"

# CPU seconds (user + system) of a command, from GNU time.
cpu_of() { /usr/bin/time -f "%U %S" -o "$OUT/time.txt" "$@" >/dev/null 2>&1; awk '{print $1 + $2}' "$OUT/time.txt"; }

row() {
  local name=$1 launch_video=$2
  shift 2
  local run=("$@") busy
  busy=$(wait_quiet)
  "${run[@]}" "$BIN/playback_bench" open "$CLIP" "$REPS" | sed "s/^/$name\t/" >>"$RUNS"
  "${run[@]}" "$BIN/playback_bench" seek "$CLIP" "$SEEKS" | sed "s/^/$name\t/" >>"$RUNS"
  busy=$(wait_quiet)
  "${run[@]}" "$BIN/playback_bench" seek "$CLIP" "$SEEKS" ref-first | sed "s/^/$name\t/" >>"$RUNS"
  # CPU while playing the whole clip, alternating the order; playbin once more as gst-launch-1.0.
  for i in 1 2; do
    busy=$(wait_quiet)
    echo -e "$name\tours cpu $(cpu_of "${run[@]}" "$BIN/playback_bench" play ours "$CLIP")\t$busy" >>"$RUNS"
    echo -e "$name\tref cpu $(cpu_of "${run[@]}" "$BIN/playback_bench" play playbin "$CLIP")\t$busy" >>"$RUNS"
    echo -e "$name\tlaunch cpu $(cpu_of "${run[@]}" gst-launch-1.0 -q playbin uri="file://$PWD/$CLIP" \
      video-sink="$launch_video" audio-sink="fakesink sync=true")\t$busy" >>"$RUNS"
  done
}

export VANTREL_AUDIO_SINK=fakesink
VANTREL_VIDEO_SINK=fakesink QT_QPA_PLATFORM=offscreen row fakesink "fakesink sync=true" env
row x11 ximagesink env QT_QPA_PLATFORM=xcb tests/support/two_monitor_run

pick() { awk -F'\t' -v r="$1" -v k="$2" '$1 == r && index($2, k " ") == 1 {split($2, a, " "); print a[3]}' "$RUNS"; }
echo
printf '%-9s %-34s %10s %10s %8s\n' "sinks" "measure (median)" "ours" "playbin" "ratio"
for r in fakesink x11; do
  o=$(pick $r "ours open" | median)
  p=$(pick $r "ref open" | median)
  printf '%-9s %-34s %8.1fms %8.1fms %8.2f\n' $r "plyPlyUrl to first picture" "$o" "$p" "$(echo "scale=3; $o / $p" | bc)"
  o=$(pick $r "ours seek" | median)
  p=$(pick $r "ref seek" | median)
  printf '%-9s %-34s %8.1fms %8.1fms %8.2f\n' $r "SetMvCurPos to picture (2 x $SEEKS)" "$o" "$p" "$(echo "scale=3; $o / $p" | bc)"
  o=$(pick $r "ours cpu" | median)
  p=$(pick $r "ref cpu" | median)
  l=$(pick $r "launch cpu" | median)
  printf '%-9s %-34s %9.2fs %9.2fs %8.2f   (gst-launch-1.0 playbin %.2fs: %.2f)\n' $r "CPU playing the 30 s clip" "$o" "$p" \
    "$(echo "scale=3; $o / $p" | bc)" "$l" "$(echo "scale=3; $o / $l" | bc)"
done
