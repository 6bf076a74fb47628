#!/usr/bin/env bash
# Measures Clip Merge against ffmpeg's concat demuxer with stream copy: the 5-minute 720p clip
# listed COPIES times (10) and merged into one clip, in one run of each tool per repetition.
# Wall time, CPU time and peak memory of every run; the median of REPS runs per tool goes into
# the table.
#
#   bench/run_merge_bench.sh [REPS]        (2 when not given)
#
# Environment:
#   BIN_DIR    where merge_bench and qmvgen are (build/bin)
#   BENCH_OUT  where the clip is kept and the runs file goes (bench/out)
#   COPIES     how many times the clip is listed (10)
#   TARGETS    where the clip and the outputs are: "disk" (BENCH_OUT) and/or "tmpfs" (a copy of the
#              clip in /dev/shm) ("disk tmpfs")
# Ours writes its clip beside the listed clip, under the merge job's own name; ffmpeg writes into
# the same folder. Every output is probed: ours must hold COPIES times the clip's length and
# packets, or the script fails, so that a broken output never shows up as a fast figure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${BIN_DIR:-$root/build/bin}
out=${BENCH_OUT:-$here/out}
reps=${1:-2}
copies=${COPIES:-10}
targets=${TARGETS:-"disk tmpfs"}

for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run_merge_bench: $tool not found" >&2; exit 2; }
done
for exe in "$bin/merge_bench" "$bin/qmvgen" "$bin/libqmvinfo.so"; do
  [[ -e $exe ]] || { echo "run_merge_bench: $exe missing; build first" >&2; exit 2; }
done
if ! [[ $reps =~ ^[1-9][0-9]*$ && $copies =~ ^[1-9][0-9]*$ ]]; then
  echo "run_merge_bench: REPS and COPIES must be positive numbers" >&2
  exit 2
fi
mkdir -p "$out"
meta=$out/merge_meta
shm=/dev/shm/vantrel_merge_bench.$$
rm -rf "$meta" "$out/merge_work"
mkdir -p "$meta"
trap 'rm -rf "$meta" "$out/merge_work" "$shm"' EXIT

# The clip of run_edit_bench.sh: 1280x720, 25 fps, 8 Mbit/s WMV2, key frame every 10 s, stereo
# 128 kbit/s WMA2, 5 minutes (293 MiB).
clip=$out/clip_5min_720p25_8M.wmv
if [[ ! -s $clip ]]; then
  echo "generating $(basename "$clip") (a few minutes)..." >&2
  rm -f "$clip.part"
  "$bin/qmvgen" --duration 300000 --size 1280x720 --fps 25 --keyint 10000 --vbitrate 8000000 \
    --abitrate 128000 --rate 44100 --channels 2 "$clip.part"
  mv "$clip.part" "$clip"
fi

QUIET_WAIT_DEFAULT=60
source "$here/bench_lib.sh"

# measure LOG CMD...: runs CMD under GNU time; prints "WALL_S CPU_S PEAK_KIB", its output in LOG.
measure() {
  local log=$1 t0 t1 peak user sys
  shift
  t0=$(now_ns)
  if ! /usr/bin/time -f "%M %U %S" -o "$meta/time.txt" "$@" >"$log" 2>&1; then
    echo "run_merge_bench: command failed: $*" >&2
    cat "$log" >&2
    return 1
  fi
  t1=$(now_ns)
  read -r peak user sys <"$meta/time.txt"
  awk -v a="$t0" -v b="$t1" -v p="$peak" -v u="$user" -v s="$sys" \
    'BEGIN { printf "%.3f %.2f %d\n", (b - a) / 1e9, u + s, p }'
}

probe_duration_ms() {
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" |
    awk '{printf "%d", $1 * 1000 + 0.5}'
}
probe_packets() {
  ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1" |
    paste -sd/
}
times_packets() { tr / '\n' <<<"$1" | awk -v n="$2" '{printf "%s%d", (NR > 1 ? "/" : ""), $1 * n}'; }

median() { sort -n | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2];
  else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

src_ms=$(probe_duration_ms "$clip")
src_packets=$(probe_packets "$clip")
want_ms=$((src_ms * copies))
want_packets=$(times_packets "$src_packets" "$copies")
echo "$(basename "$clip"): $((src_ms / 1000)) s, packets video/audio $src_packets;" \
  "merged $copies times: $((want_ms / 1000)) s, packets $want_packets" >&2

raw=$out/merge_bench_runs.tsv
printf "target\ttool\trep\twall_s\tcpu_s\tpeak_kib\tduration_ms\tpackets\tbusy_pct\n" >"$raw"
failures=0

# Each procedure takes the listed clip and the work folder, and prints the output's path.
ours() {
  measure "$meta/ours.log" "$bin/merge_bench" "$copies" "$1" >"$meta/m.txt" || return 1
  sed -n 's/^output: //p' "$meta/ours.log" >"$meta/out.txt"
  cat "$meta/m.txt"
}
ffmpeg_concat() {
  local list=$2/list.txt i
  : >"$list"
  for ((i = 0; i < copies; i++)); do echo "file '$1'" >>"$list"; done
  echo "$2/ffmpeg.wmv" >"$meta/out.txt"
  measure "$meta/ffmpeg.log" ffmpeg -v error -y -f concat -safe 0 -i "$list" -map 0 -c copy \
    -f asf "$2/ffmpeg.wmv"
}

for target in $targets; do
  case $target in
    disk) work=$out/merge_work src=$clip ;;
    tmpfs) work=$shm src=$shm/$(basename "$clip") ;;
    *) echo "run_merge_bench: unknown target $target" >&2; exit 2 ;;
  esac
  rm -rf "$work"
  mkdir -p "$work"
  [[ $src == "$clip" ]] || cp "$clip" "$src"
  cat "$src" >/dev/null  # the source in the page cache
  for ((rep = 1; rep <= reps; rep++)); do
    # Alternate which tool goes first.
    if ((rep % 2)); then order="ours ffmpeg_concat"; else order="ffmpeg_concat ours"; fi
    for tool in $order; do
      sync
      q=$(wait_quiet)
      if ! m=$("$tool" "$src" "$work"); then
        echo "run_merge_bench: $tool on $target failed" >&2
        [[ $tool == ours ]] && failures=$((failures + 1))
        continue
      fi
      dst=$(cat "$meta/out.txt")
      got_ms=$(probe_duration_ms "$dst")
      got_packets=$(probe_packets "$dst")
      if [[ $tool == ours ]] &&
        ! ((got_ms >= want_ms - 500 && got_ms <= want_ms + 500)) ||
        [[ $tool == ours && $got_packets != "$want_packets" ]]; then
        echo "run_merge_bench: our output: ${got_ms} ms, packets $got_packets;" \
          "expected ${want_ms} ms, packets $want_packets" >&2
        failures=$((failures + 1))
      fi
      printf "%s\t%s\t%d\t%s\t%s\t%s\t%s\n" "$target" "${tool%_concat}" "$rep" "${m// /$'\t'}" \
        "$got_ms" "$got_packets" "$q" >>"$raw"
      echo "  $target ${tool%_concat} #$rep: wall, CPU s, peak KiB: $m; output ms $got_ms," \
        "packets $got_packets; ${q}% busy before" >&2
      rm -f "$dst"
    done
  done
  rm -rf "$work"
done

echo
echo "| clip x copies | output on | ours median s | ffmpeg median s | ours/ffmpeg | ours CPU s |" \
  "ffmpeg CPU s | ours peak MiB | ffmpeg peak MiB |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"
col() {
  awk -F'\t' -v g="$target" -v t="$1" -v k="$2" 'NR > 1 && $1 == g && $2 == t {print $k}' \
    "$raw" | median
}
for target in $targets; do
  ow=$(col ours 4)
  fw=$(col ffmpeg 4)
  [[ -n $ow && -n $fw ]] || continue
  awk -v c="5 min x $copies" -v g="$target" -v ow="$ow" -v fw="$fw" -v oc="$(col ours 5)" \
    -v fc="$(col ffmpeg 5)" -v om="$(col ours 6)" -v fm="$(col ffmpeg 6)" 'BEGIN {
    printf "| %s | %s | %.3f | %.3f | %.2f | %.2f | %.2f | %.1f | %.1f |\n",
           c, g, ow, fw, ow / fw, oc, fc, om / 1024, fm / 1024 }'
done
echo
echo "runs: $raw"
if ((failures)); then
  echo "run_merge_bench: $failures of our runs failed or gave a wrong output" >&2
  exit 1
fi
