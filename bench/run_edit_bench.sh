#!/usr/bin/env bash
# Measures the edit engine against ffmpeg doing the same edit with stream copy: a whole-clip copy
# and a three-section montage, on a 5-minute and a 10-minute 720p clip. Wall time, CPU time and
# peak memory of every run; the median of REPS runs per tool goes into the table.
#
#   bench/run_edit_bench.sh [REPS]        (5 when not given)
#
# Environment:
#   BIN_DIR    where edit_bench and qmvgen are (build/bin)
#   BENCH_OUT  where the clips are kept and the runs file goes (bench/out)
#   CLIPS      which clip lengths to run, in minutes ("5 10")
#   TARGETS    where the outputs are written: "disk" (BENCH_OUT, the file system of the project)
#              and/or "tmpfs" (/dev/shm) ("disk tmpfs")
#   LEAD_MS    clips whose sound is stored this many ms ahead of the pictures, as Windows Media
#              encoders write them (qmvgen --audio-lead; kept under their own name); 0 or unset:
#              the plain clips
# The clips are generated once and kept. Every output of ours is probed: a run whose output does
# not have the expected length or packet count fails the script, so that a broken output never
# shows up as a fast figure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${BIN_DIR:-$root/build/bin}
out=${BENCH_OUT:-$here/out}
reps=${1:-5}
clips=${CLIPS:-"5 10"}
targets=${TARGETS:-"disk tmpfs"}
lead_ms=${LEAD_MS:-0}

for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run_edit_bench: $tool not found" >&2; exit 2; }
done
for exe in "$bin/edit_bench" "$bin/qmvgen"; do
  [[ -x $exe ]] || { echo "run_edit_bench: $exe missing; build first" >&2; exit 2; }
done
if ! [[ $reps =~ ^[1-9][0-9]*$ ]]; then
  echo "run_edit_bench: REPS must be a positive number" >&2
  exit 2
fi
if ! [[ $lead_ms =~ ^[0-9]+$ ]]; then
  echo "run_edit_bench: LEAD_MS must be a number of milliseconds" >&2
  exit 2
fi
mkdir -p "$out"
meta=$out/meta  # time and log files of the runs
shm=/dev/shm/vantrel_edit_bench.$$
rm -rf "$meta" "$out/work"
mkdir -p "$meta"
trap 'rm -rf "$meta" "$out/work" "$shm"' EXIT
work_dir() {
  case $1 in
    disk) echo "$out/work" ;;
    tmpfs) echo "$shm" ;;
    *) echo "run_edit_bench: unknown target $1" >&2; return 1 ;;
  esac
}

# Clip settings: 1280x720, 25 fps, 8 Mbit/s video with a key frame every 10 s, stereo 128 kbit/s.
keyint_ms=10000
lead_args=()
lead_name=""
if ((lead_ms > 0)); then
  lead_args=(--audio-lead "$lead_ms")
  lead_name="_lead$lead_ms"
fi
clip_path() { echo "$out/clip_${1}min_720p25_8M$lead_name.wmv"; }
make_clip() {
  local minutes=$1 path
  path=$(clip_path "$minutes")
  [[ -s $path ]] && return 0
  echo "generating $(basename "$path") (a few minutes)..." >&2
  rm -f "$path.part"
  "$bin/qmvgen" --duration $((minutes * 60000)) --size 1280x720 --fps 25 --keyint $keyint_ms \
    --vbitrate 8000000 --abitrate 128000 --rate 44100 --channels 2 "${lead_args[@]}" "$path.part"
  mv "$path.part" "$path"
}

# The three montage sections (START:LEN in ms) for a clip length: the 5-minute set, scaled.
sections_for() {
  local scale=$(($1 / 5)) s start len list=""
  for s in 61500:20000 150200:30000 240700:15000; do
    start=${s%%:*}
    len=${s##*:}
    list+="$((start * scale)):$((len * scale)) "
  done
  echo "${list% }"
}

# What a section covers: from the key frame at or before its start to its end.
expected_montage_ms() {
  local total=0 s start len
  for s in "$@"; do
    start=${s%%:*}
    len=${s##*:}
    total=$((total + start + len - start / keyint_ms * keyint_ms))
  done
  echo $total
}

source "$here/bench_lib.sh"

# run_timed USAGEFILE CMD...: runs CMD under GNU time, appending "PEAK_KIB USER_S SYS_S" to
# USAGEFILE. Only shell builtins run around the command, so that the wall time measures it.
run_timed() {
  local usage=$1 line
  shift
  if ! /usr/bin/time -f "%M %U %S" -o "$meta/time.txt" "$@" >"$meta/cmd.log" 2>&1; then
    echo "run_edit_bench: command failed: $*" >&2
    cat "$meta/cmd.log" >&2
    return 1
  fi
  read -r line <"$meta/time.txt"
  echo "$line" >>"$usage"
}

# One measured procedure: prints "WALL_S CPU_S PEAK_KIB". The wall time is taken around the whole
# procedure with a nanosecond clock; the CPU time (user + system) is the sum over its processes,
# the peak the largest of them.
measure() {
  local usage=$meta/usage.txt t0 t1
  : >"$usage"
  t0=$(now_ns)
  "$@" "$usage" || return 1
  t1=$(now_ns)
  awk -v a="$t0" -v b="$t1" '{ if ($1 > peak) peak = $1; cpu += $2 + $3 }
    END { printf "%.3f %.2f %d\n", (b - a) / 1e9, cpu, peak }' "$usage"
}

# Each procedure takes SRC OUT SECTIONS RSSFILE (a copy has no sections).
ours_copy() { run_timed "$4" "$bin/edit_bench" copy "$1" "$2"; }
ffmpeg_copy() { run_timed "$4" ffmpeg -v error -y -i "$1" -map 0 -c copy -f asf "$2"; }

ours_montage() {
  # shellcheck disable=SC2086
  run_timed "$4" "$bin/edit_bench" montage "$1" "$2" $3
}

# The same sections with ffmpeg: one stream-copy cut per section, then the concat demuxer.
ffmpeg_montage() {
  local src=$1 dst=$2 rss=$4 i=0 s start len list work
  work=$(dirname "$dst")
  list=$work/list.txt
  : >"$list"
  for s in $3; do
    i=$((i + 1))
    start=${s%%:*}
    len=${s##*:}
    printf -v start "%d.%03d" $((start / 1000)) $((start % 1000))
    printf -v len "%d.%03d" $((len / 1000)) $((len % 1000))
    run_timed "$rss" ffmpeg -v error -y -ss "$start" -t "$len" -i "$src" -map 0 -c copy -f asf \
      "$work/part$i.wmv" || return 1
    echo "file '$work/part$i.wmv'" >>"$list"
  done
  run_timed "$rss" ffmpeg -v error -y -f concat -safe 0 -i "$list" -map 0 -c copy -f asf "$dst"
}

probe_duration_ms() {
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" |
    awk '{printf "%d", $1 * 1000 + 0.5}'
}
probe_packets() {
  ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1" |
    paste -sd/
}

median() { sort -n | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2];
  else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

raw=$out/edit_bench_runs.tsv
printf "target\top\tclip\ttool\trep\twall_s\tcpu_s\tpeak_kib\tduration_ms\tpackets\tbusy_pct\n" \
  >"$raw"
failures=0

# check_output TOOL OUTPUT EXPECTED_MS EXPECTED_PACKETS: prints "DURATION_MS PACKETS" of an
# output (packets: video/audio); fails when they are not as expected (packets not checked when
# empty). Only our outputs are held to it: ffmpeg's cuts are recorded as they come out.
check_output() {
  local tool=$1 path=$2 want_ms=$3 want_packets=$4 got_ms got_packets ok=1
  got_ms=$(probe_duration_ms "$path")
  got_packets=$(probe_packets "$path")
  ((got_ms >= want_ms - 500 && got_ms <= want_ms + 500)) || ok=0
  [[ -z $want_packets || $got_packets == "$want_packets" ]] || ok=0
  echo "$got_ms $got_packets"
  if ((!ok)) && [[ $tool == ours ]]; then
    echo "run_edit_bench: our output $path: ${got_ms} ms, packets $got_packets;" \
      "expected ${want_ms} ms${want_packets:+, packets $want_packets}" >&2
    return 1
  fi
}

# bench_op TARGET OP CLIPNAME SRC SECTIONS EXPECTED_MS EXPECTED_PACKETS
bench_op() {
  local target=$1 op=$2 name=$3 src=$4 sections=$5 want_ms=$6 want_packets=$7
  local rep tool order m p q dst work
  work=$(work_dir "$target")
  rm -rf "$work"
  mkdir -p "$work"
  # One run of each, not counted: libraries and the source in the page cache.
  for tool in ours ffmpeg; do
    dst=$work/warm_$tool.wmv
    "${tool}_${op}" "$src" "$dst" "$sections" /dev/null
    rm -f "$dst"
  done
  for ((rep = 1; rep <= reps; rep++)); do
    # Alternate which tool goes first.
    if ((rep % 2)); then order="ours ffmpeg"; else order="ffmpeg ours"; fi
    for tool in $order; do
      dst=$work/${op}_${tool}.wmv
      rm -f "$dst"
      sync
      q=$(wait_quiet)
      if ! m=$(measure "${tool}_${op}" "$src" "$dst" "$sections"); then
        echo "run_edit_bench: $tool $op on $name failed" >&2
        [[ $tool == ours ]] && failures=$((failures + 1))
        continue
      fi
      p=$(check_output "$tool" "$dst" "$want_ms" "$want_packets") || failures=$((failures + 1))
      printf "%s\t%s\t%s\t%s\t%d\t%s\t%s\t%s\n" "$target" "$op" "$name" "$tool" "$rep" \
        "${m// /$'\t'}" "${p// /$'\t'}" "$q" >>"$raw"
      echo "  $target $op $name $tool #$rep: wall, CPU s, peak KiB: $m; output ms, packets: $p;" \
        "${q}% busy before" >&2
      rm -f "$dst"
    done
  done
  rm -rf "$work"
}

for minutes in $clips; do make_clip "$minutes"; done

for minutes in $clips; do
  src=$(clip_path "$minutes")
  name="${minutes} min${lead_name:+, sound ${lead_ms} ms ahead}"
  cat "$src" >/dev/null  # warm the page cache
  src_ms=$(probe_duration_ms "$src")
  src_packets=$(probe_packets "$src")
  echo "$(basename "$src"): $((src_ms / 1000)) s, $(($(stat -c %s "$src") / 1048576)) MiB," \
    "packets video/audio $src_packets" >&2
  sections=$(sections_for "$minutes")
  # shellcheck disable=SC2086
  montage_ms=$(expected_montage_ms $sections)
  for target in $targets; do
    bench_op "$target" copy "$name" "$src" "" "$src_ms" "$src_packets"
    bench_op "$target" montage "$name" "$src" "$sections" "$montage_ms" ""
  done
done

# The table: medians per operation, clip and target.
echo
echo "| operation | clip | output on | ours median s | ffmpeg median s | ours/ffmpeg |" \
  "ours CPU s | ffmpeg CPU s | ours peak MiB | ffmpeg peak MiB | output s ours / ffmpeg |"
echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
col() {
  awk -F'\t' -v g="$target" -v o="$op" -v c="$name" -v t="$1" -v k="$2" \
    'NR > 1 && $1 == g && $2 == o && $3 == c && $4 == t {print $k}' "$raw" | median
}
for op in copy montage; do
  for minutes in $clips; do
    name="${minutes} min${lead_name:+, sound ${lead_ms} ms ahead}"
    for target in $targets; do
      ow=$(col ours 6)
      fw=$(col ffmpeg 6)
      [[ -n $ow && -n $fw ]] || continue
      awk -v op="$op" -v c="$name" -v g="$target" -v ow="$ow" -v fw="$fw" -v oc="$(col ours 7)" \
        -v fc="$(col ffmpeg 7)" -v om="$(col ours 8)" -v fm="$(col ffmpeg 8)" \
        -v od="$(col ours 9)" -v fd="$(col ffmpeg 9)" 'BEGIN {
        printf "| %s | %s | %s | %.3f | %.3f | %.2f | %.2f | %.2f | %.1f | %.1f | %.1f / %.1f |\n",
               op, c, g, ow, fw, ow / fw, oc, fc, om / 1024, fm / 1024, od / 1000, fd / 1000 }'
    done
  done
done
echo
echo "runs: $raw"
if ((failures)); then
  echo "run_edit_bench: $failures of our runs failed or gave a wrong output" >&2
  exit 1
fi
