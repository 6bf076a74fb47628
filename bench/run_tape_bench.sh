#!/usr/bin/env bash
# Records a 30 s 640x360 clip onto the file camcorder as fast as the encoder goes
# (tape_bench, VANTREL_DV_TAPE_PACE=0) against ffmpeg encoding the same clip to PAL DV:
#   ffmpeg -i CLIP -af aresample=async=1:first_pts=0 -target pal-dv -y OUT.dv
# Wall time, CPU time and peak memory of every run; medians of REPS runs per tool, the ratio
# ours/ffmpeg and how many times faster than real time ours ran.
#
#   bench/run_tape_bench.sh [REPS]        (7 when not given)
#
# Environment:
#   BIN_DIR    where tape_bench and qmvgen are (build/bin)
#   BENCH_OUT  where the clip is kept and the runs file goes (bench/out)
# Outputs go to /dev/shm (108 MB each). Every tape of ours is probed: one that is not PAL DV of
# the clip's length (within 0.6 s) fails the script.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${BIN_DIR:-$root/build/bin}
out=${BENCH_OUT:-$here/out}
reps=${1:-7}
. "$here/bench_lib.sh"

for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run_tape_bench: $tool not found" >&2; exit 2; }
done
for exe in "$bin/tape_bench" "$bin/qmvgen"; do
  [[ -x $exe ]] || { echo "run_tape_bench: $exe missing; build first" >&2; exit 2; }
done
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "run_tape_bench: REPS must be a positive number" >&2; exit 2; }
mkdir -p "$out"
shm=/dev/shm/vantrel_tape_bench.$$
mkdir -p "$shm"
trap 'rm -rf "$shm"' EXIT

# 640x360, 25 fps, 1 Mbit/s video with a key frame every second, stereo 128 kbit/s, 30 s.
src=$out/clip_30s_360p25.wmv
length_s=30
ensure_360p_clip "$src" "$length_s"
cat "$src" > /dev/null

runs=$out/tape_bench_runs.tsv
echo -e "tool\trun\twall_s\tcpu_s\tpeak_kib\tbusy_before" > "$runs"

ours=("$bin/tape_bench" "$src" "$shm/ours.dv")
theirs=(ffmpeg -v error -nostdin -i "$src" -af aresample=async=1:first_pts=0 -target pal-dv -y
  "$shm/ffmpeg.dv")

check_ours() {
  local info
  info=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height \
    -of csv=p=0 "$shm/ours.dv")
  [[ $info == "dvvideo,720,576" ]] || { echo "run_tape_bench: our tape is $info" >&2; exit 1; }
  local frames
  frames=$(( $(stat -c %s "$shm/ours.dv") / 144000 ))
  if (( frames < (length_s * 25 - 15) || frames > (length_s * 25 + 15) )); then
    echo "run_tape_bench: our tape holds $frames frames" >&2
    exit 1
  fi
}

measure() {  # tool run
  local busy t0 t1 user sys peak
  local -n cmd=$1
  sync
  busy=$(wait_quiet)
  t0=$(now_ns)
  /usr/bin/time -o "$shm/time" -f "%U %S %M" "${cmd[@]}" > /dev/null
  t1=$(now_ns)
  read -r user sys peak < "$shm/time"
  echo -e "$1\t$2\t$(echo "scale=3; ($t1 - $t0) / 1000000000" | bc)\t$(echo "$user + $sys" | bc)\t$peak\t$busy" >> "$runs"
  if [[ $1 == ours ]]; then check_ours; fi
}

"${ours[@]}" > /dev/null; check_ours; "${theirs[@]}"  # unmeasured: libraries and clip in the page cache
for i in $(seq "$reps"); do
  if (( i % 2 )); then measure ours "$i"; measure theirs "$i"; else measure theirs "$i"; measure ours "$i"; fi
done

col() { awk -F'\t' -v t="$1" -v c="$2" '$1 == t {print $c}' "$runs" | median; }
ow=$(col ours 3); fw=$(col theirs 3)
oc=$(col ours 4); fc=$(col theirs 4)
om=$(col ours 5); fm=$(col theirs 5)
printf '%-8s %10s %10s %10s\n' tool "wall s" "cpu s" "peak MiB"
printf '%-8s %10.3f %10.2f %10.1f\n' ours "$ow" "$oc" "$(echo "scale=1; $om / 1024" | bc)"
printf '%-8s %10.3f %10.2f %10.1f\n' ffmpeg "$fw" "$fc" "$(echo "scale=1; $fm / 1024" | bc)"
echo "ours/ffmpeg wall: $(echo "scale=3; $ow / $fw" | bc)"
echo "ours faster than real time: $(echo "scale=1; $length_s / $ow" | bc)x"
echo "runs: $runs"
