#!/usr/bin/env bash
# Measures the edit engine against ffmpeg doing the same edit with stream copy: a whole-clip copy
# and a three-section montage, on a 5-minute and a 10-minute 720p clip. Wall time and peak memory
# of every run; the median of REPS runs per tool goes into the table.
#
#   bench/run_edit_bench.sh [REPS]        (5 when not given)
#
# Environment: BIN_DIR (default build/bin), BENCH_OUT (default bench/out), CLIPS ("5 10": which
# clip lengths in minutes to run). The clips are generated once and kept in BENCH_OUT. Every
# output of ours is probed: a run whose output does not have the expected length fails the script,
# so that a broken output never shows up as a fast figure.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${BIN_DIR:-$root/build/bin}
out=${BENCH_OUT:-$here/out}
reps=${1:-5}
clips=${CLIPS:-"5 10"}

for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run_edit_bench: $tool not found" >&2; exit 2; }
done
for exe in "$bin/edit_bench" "$bin/qmvgen"; do
  [[ -x $exe ]] || { echo "run_edit_bench: $exe missing; build first" >&2; exit 2; }
done
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "run_edit_bench: REPS must be a positive number" >&2; exit 2; }
mkdir -p "$out"
work=$out/work
rm -rf "$work"
mkdir -p "$work"

# Clip settings: 1280x720, 25 fps, 8 Mbit/s video with a key frame every 10 s, stereo 128 kbit/s.
keyint_ms=10000
clip_path() { echo "$out/clip_${1}min_720p25_8M.wmv"; }
make_clip() {
  local minutes=$1 path
  path=$(clip_path "$minutes")
  [[ -s $path ]] && return 0
  echo "generating $(basename "$path") (a few minutes)..." >&2
  rm -f "$path.part"
  "$bin/qmvgen" --duration $((minutes * 60000)) --size 1280x720 --fps 25 --keyint $keyint_ms \
    --vbitrate 8000000 --abitrate 128000 --rate 44100 --channels 2 "$path.part"
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

now_ns() { date +%s%N; }

# The machine may be shared: before a run, wait (up to QUIET_WAIT seconds, 120 by default) until
# the CPUs are idle for half a second, less than QUIET_BUSY percent busy (15 by default). Prints
# the busy percentage of that last half second; it goes into the runs file.
cpu_times() { awk '/^cpu / {print $2 + $3 + $4 + $7 + $8 + $9, $5 + $6}' /proc/stat; }
wait_quiet() {
  local deadline=$((SECONDS + ${QUIET_WAIT:-120})) b0 i0 b1 i1 busy
  while :; do
    read -r b0 i0 < <(cpu_times)
    sleep 0.5
    read -r b1 i1 < <(cpu_times)
    busy=$((100 * (b1 - b0) / (b1 - b0 + i1 - i0 + 1)))
    if ((busy < ${QUIET_BUSY:-15} || SECONDS >= deadline)); then
      echo "$busy"
      return
    fi
  done
}

# run_timed RSSFILE CMD...: runs CMD under GNU time, appending its peak RSS (KiB) to RSSFILE. Only
# shell builtins run around the command, so that the wall time measures the command.
run_timed() {
  local rssfile=$1 elapsed peak
  shift
  if ! /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >"$work/cmd.log" 2>&1; then
    echo "run_edit_bench: command failed: $*" >&2
    cat "$work/cmd.log" >&2
    return 1
  fi
  read -r elapsed peak <"$work/time.txt"
  : "$elapsed"
  echo "$peak" >>"$rssfile"
}

# One measured procedure: prints "WALL_S PEAK_KIB". The wall time is taken around the whole
# procedure with a nanosecond clock; the peak is the largest of its processes.
measure() {
  local rssfile=$work/rss.txt t0 t1
  : >"$rssfile"
  t0=$(now_ns)
  "$@" "$rssfile"
  t1=$(now_ns)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", (b - a) / 1e9}')" \
    "$(sort -n "$rssfile" | tail -1)"
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
  local src=$1 dst=$2 rss=$4 i=0 s start len list=$work/list.txt
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
printf "op\tclip\ttool\trep\twall_s\tpeak_kib\tduration_ms\tpackets\tbusy_before_pct\n" >"$raw"
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

# bench_op OP CLIPNAME SRC SECTIONS EXPECTED_MS EXPECTED_PACKETS
bench_op() {
  local op=$1 name=$2 src=$3 sections=$4 want_ms=$5 want_packets=$6 rep tool order m p q dst
  # One run of each, not counted: libraries and the source in the page cache.
  for tool in ours ffmpeg; do
    dst=$work/warm_$tool.wmv
    rm -f "$dst"
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
      printf "%s\t%s\t%s\t%d\t%s\t%s\t%s\t%s\n" "$op" "$name" "$tool" "$rep" "${m% *}" \
        "${m#* }" "${p// /$'\t'}" "$q" >>"$raw"
      echo "  $op $name $tool #$rep: ${m% *} s, $((${m#* } / 1024)) MiB, output $p," \
        "CPU ${q}% busy before" >&2
      rm -f "$dst"
    done
  done
}

for minutes in $clips; do make_clip "$minutes"; done

for minutes in $clips; do
  src=$(clip_path "$minutes")
  name="${minutes} min"
  cat "$src" >/dev/null  # warm the page cache
  src_ms=$(probe_duration_ms "$src")
  src_packets=$(probe_packets "$src")
  echo "$(basename "$src"): $((src_ms / 1000)) s, $(($(stat -c %s "$src") / 1048576)) MiB," \
    "packets video/audio $src_packets" >&2
  bench_op copy "$name" "$src" "" "$src_ms" "$src_packets"
  sections=$(sections_for "$minutes")
  # shellcheck disable=SC2086
  bench_op montage "$name" "$src" "$sections" "$(expected_montage_ms $sections)" ""
done

# The table: medians per operation and clip.
echo
echo "| operation | clip | ours median s | ffmpeg median s | ours/ffmpeg | ours peak MiB |" \
  "ffmpeg peak MiB | output s ours / ffmpeg |"
echo "|---|---|---:|---:|---:|---:|---:|---:|"
for op in copy montage; do
  for minutes in $clips; do
    name="${minutes} min"
    col() { awk -F'\t' -v o="$op" -v c="$name" -v t="$1" -v k="$2" \
      'NR > 1 && $1 == o && $2 == c && $3 == t {print $k}' "$raw" | median; }
    ow=$(col ours 5)
    fw=$(col ffmpeg 5)
    om=$(col ours 6)
    fm=$(col ffmpeg 6)
    od=$(col ours 7)
    fd=$(col ffmpeg 7)
    [[ -n $ow && -n $fw ]] || continue
    awk -v op="$op" -v c="$name" -v ow="$ow" -v fw="$fw" -v om="$om" -v fm="$fm" -v od="$od" \
      -v fd="$fd" 'BEGIN {
      printf "| %s | %s | %.3f | %.3f | %.2f | %.1f | %.1f | %.1f / %.1f |\n", op, c, ow, fw,
             ow / fw, om / 1024, fm / 1024, od / 1000, fd / 1000 }'
  done
done
echo
echo "runs: $raw"
rm -rf "$work"
if ((failures)); then
  echo "run_edit_bench: $failures of our runs failed or gave a wrong output" >&2
  exit 1
fi
