#!/usr/bin/env bash
# Measures the Video Montage job (montage_job_bench: source opened as the pane opens it, then the
# job with its checks, output name, progress handling and engine calls) against ffmpeg writing the
# same three sections with stream copy in one run (concat demuxer, inpoint/outpoint per section).
# Wall time, CPU time and peak memory of every run; the median of REPS runs per tool goes into the
# table.
#
#   bench/run_montage_job_bench.sh [REPS]        (9 when not given)
#
# Environment:
#   BIN_DIR    where montage_job_bench and qmvgen are (build/bin)
#   BENCH_OUT  where the clip is kept and the runs file goes (bench/out)
#   TARGETS    where the outputs are written: "disk" (BENCH_OUT) and/or "tmpfs" (/dev/shm)
# The clip is the 5-minute one of run_edit_bench.sh, generated only when it is missing. Every
# output of ours is probed: one without the expected length fails the script.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${BIN_DIR:-$root/build/bin}
out=${BENCH_OUT:-$here/out}
reps=${1:-9}
targets=${TARGETS:-"disk tmpfs"}

for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run_montage_job_bench: $tool not found" >&2; exit 2; }
done
for exe in "$bin/montage_job_bench" "$bin/qmvgen"; do
  [[ -x $exe ]] || { echo "run_montage_job_bench: $exe missing; build first" >&2; exit 2; }
done
if ! [[ $reps =~ ^[1-9][0-9]*$ ]]; then
  echo "run_montage_job_bench: REPS must be a positive number" >&2
  exit 2
fi
mkdir -p "$out"
meta=$out/montage_job_meta
shm=/dev/shm/vantrel_montage_job_bench.$$
rm -rf "$meta" "$out/montage_job_work"
mkdir -p "$meta"
trap 'rm -rf "$meta" "$out/montage_job_work" "$shm"' EXIT
work_dir() {
  case $1 in
    disk) echo "$out/montage_job_work" ;;
    tmpfs) echo "$shm" ;;
    *) echo "run_montage_job_bench: unknown target $1" >&2; return 1 ;;
  esac
}

# 1280x720, 25 fps, 8 Mbit/s video with a key frame every 10 s, stereo 128 kbit/s, 5 minutes.
keyint_ms=10000
src=$out/clip_5min_720p25_8M.wmv
if [[ ! -s $src ]]; then
  echo "generating $(basename "$src") (a few minutes)..." >&2
  rm -f "$src.part"
  "$bin/qmvgen" --duration 300000 --size 1280x720 --fps 25 --keyint $keyint_ms \
    --vbitrate 8000000 --abitrate 128000 --rate 44100 --channels 2 "$src.part"
  mv "$src.part" "$src"
fi
sections="61500:20000 150200:30000 240700:15000"

# What the job writes of a section: from the key frame at or before its start to its end.
expected_ms=0
for s in $sections; do
  start=${s%%:*}
  len=${s##*:}
  expected_ms=$((expected_ms + start + len - start / keyint_ms * keyint_ms))
done

source "$here/bench_lib.sh"

# run_timed CMD...: one process under GNU time; prints "WALL_S CPU_S PEAK_KIB".
run_timed() {
  local t0 t1 line
  t0=$(now_ns)
  if ! /usr/bin/time -f "%M %U %S" -o "$meta/time.txt" "$@" >"$meta/cmd.log" 2>&1; then
    echo "run_montage_job_bench: command failed: $*" >&2
    cat "$meta/cmd.log" >&2
    return 1
  fi
  t1=$(now_ns)
  read -r line <"$meta/time.txt"
  awk -v a="$t0" -v b="$t1" -v u="$line" 'BEGIN { split(u, f, " ");
    printf "%.3f %.2f %d\n", (b - a) / 1e9, f[2] + f[3], f[1] }'
}

# Each tool takes WORKDIR and leaves exactly one clip there.
ours() {
  # shellcheck disable=SC2086
  run_timed "$bin/montage_job_bench" "$src" "$1" $sections
}
theirs() {
  local list=$meta/concat.txt s start len
  echo "ffconcat version 1.0" >"$list"
  for s in $sections; do
    start=${s%%:*}
    len=${s##*:}
    printf "file '%s'\ninpoint %d.%03d\noutpoint %d.%03d\n" "$src" $((start / 1000)) \
      $((start % 1000)) $(((start + len) / 1000)) $(((start + len) % 1000)) >>"$list"
  done
  run_timed ffmpeg -v error -y -f concat -safe 0 -i "$list" -map 0 -c copy -f asf "$1/ffmpeg.wmv"
}

probe_duration_ms() {
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" |
    awk '{printf "%d", $1 * 1000 + 0.5}'
}

median() { sort -n | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2];
  else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

raw=$out/montage_job_bench_runs.tsv
printf "target\ttool\trep\twall_s\tcpu_s\tpeak_kib\tduration_ms\tsize_mib\tbusy_pct\n" >"$raw"
failures=0
cat "$src" >/dev/null  # the source in the page cache for both tools
echo "$(basename "$src"): sections $sections, expected output ${expected_ms} ms" >&2

for target in $targets; do
  work=$(work_dir "$target")
  for ((rep = 0; rep <= reps; rep++)); do
    # Run 0 of each tool is not counted: libraries in the page cache. Alternate who goes first.
    if ((rep % 2)); then order="ours theirs"; else order="theirs ours"; fi
    for tool in $order; do
      rm -rf "$work"
      mkdir -p "$work"
      sync
      q=$(wait_quiet)
      if ! m=$("$tool" "$work"); then
        [[ $tool == ours ]] && failures=$((failures + 1))
        continue
      fi
      clip=$(find "$work" -maxdepth 1 -name '*.wmv' | head -n 1)
      got_ms=$(probe_duration_ms "$clip")
      size=$(stat -c %s "$clip" | awk '{printf "%.1f", $1 / 1048576}')
      if [[ $tool == ours ]] && ((got_ms < expected_ms - 500 || got_ms > expected_ms + 500)); then
        echo "run_montage_job_bench: our output $clip: $got_ms ms, expected $expected_ms" >&2
        failures=$((failures + 1))
      fi
      ((rep == 0)) && continue
      printf "%s\t%s\t%d\t%s\t%s\t%s\t%s\n" "$target" "$tool" "$rep" "${m// /$'\t'}" "$got_ms" \
        "$size" "$q" >>"$raw"
      echo "  $target $tool #$rep: wall, CPU s, peak KiB: $m; output $got_ms ms, $size MiB;" \
        "${q}% busy before" >&2
    done
  done
  rm -rf "$work"
done

col() {
  awk -F'\t' -v g="$1" -v t="$2" -v k="$3" 'NR > 1 && $1 == g && $2 == t {print $k}' "$raw" |
    median
}
echo
echo "| output on | job median s | ffmpeg median s | job/ffmpeg | job CPU s | ffmpeg CPU s |" \
  "job peak MiB | ffmpeg peak MiB | output s job / ffmpeg | output MiB job / ffmpeg |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for target in $targets; do
  ow=$(col "$target" ours 4)
  fw=$(col "$target" theirs 4)
  [[ -n $ow && -n $fw ]] || continue
  awk -v g="$target" -v ow="$ow" -v fw="$fw" -v oc="$(col "$target" ours 5)" \
    -v fc="$(col "$target" theirs 5)" -v om="$(col "$target" ours 6)" \
    -v fm="$(col "$target" theirs 6)" -v od="$(col "$target" ours 7)" \
    -v fd="$(col "$target" theirs 7)" -v os="$(col "$target" ours 8)" \
    -v fs="$(col "$target" theirs 8)" 'BEGIN {
    printf "| %s | %.3f | %.3f | %.2f | %.2f | %.2f | %.1f | %.1f | %.1f / %.1f | %.1f / %.1f |\n",
           g, ow, fw, ow / fw, oc, fc, om / 1024, fm / 1024, od / 1000, fd / 1000, os, fs }'
done
echo
echo "runs: $raw"
if ((failures)); then
  echo "run_montage_job_bench: $failures of our runs failed or gave a wrong output" >&2
  exit 1
fi
