# Shell helpers shared by the benchmark scripts; sourced, not run.

now_ns() { date +%s%N; }

# The machine may be shared: before a run, wait (up to QUIET_WAIT seconds, QUIET_WAIT_DEFAULT or
# 120 by default) until the CPUs are idle for half a second, less than QUIET_BUSY percent busy (15
# by default). Prints the busy percentage of that last half second; it goes into the runs file.
cpu_times() { awk '/^cpu / {print $2 + $3 + $4 + $7 + $8 + $9, $5 + $6}' /proc/stat; }
wait_quiet() {
  local deadline=$((SECONDS + ${QUIET_WAIT:-${QUIET_WAIT_DEFAULT:-120}})) b0 i0 b1 i1 busy
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

now_ms() { date +%s%N | awk '{printf "%.3f", $1/1000000}'; }

# Milliseconds a fresh `ffmpeg -ss` process takes to decode the one picture at POS_MS of CLIP.
ffmpeg_frame_ms() {
  local t0 t1
  t0=$(now_ms)
  ffmpeg -v error -ss "$(echo "scale=3; $1 / 1000" | bc)" -i "$2" -frames:v 1 -f null -
  t1=$(now_ms)
  echo "$t1 - $t0" | bc
}

# Median of the numbers on standard input, one a line.
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# The clip generator: qmvgen from BIN_DIR, or from this tree's build/bin.
qmvgen_bin() { echo "${BIN_DIR:-$(dirname "${BASH_SOURCE[0]}")/../build/bin}/qmvgen"; }

# Makes CLIP, when it is missing, as the 5-minute benchmark clip: 1280x720 at 25 fps, WMV2 at
# 8 Mbit/s with a key frame every 10 s, stereo WMA2 at 128 kbit/s.
ensure_720p_clip() {
  [ -f "$1" ] && return
  mkdir -p "$(dirname "$1")"
  "$(qmvgen_bin)" --duration 300000 --size 1280x720 --fps 25 --keyint 10000 \
    --vbitrate 8000000 --abitrate 128000 "$1"
}

# Makes CLIP, when it is missing or empty, as a tape benchmark clip of SECONDS: 640x360 at 25 fps,
# 1 Mbit/s with a key frame every second, stereo 128 kbit/s; written beside it and moved into
# place, so that a run cut short leaves no clip behind.
ensure_360p_clip() {  # CLIP SECONDS
  [[ -s $1 ]] && return
  mkdir -p "$(dirname "$1")"
  "$(qmvgen_bin)" --duration $(($2 * 1000)) --size 640x360 --fps 25 --keyint 1000 \
    --vbitrate 1000000 --abitrate 128000 "$1.part"
  mv "$1.part" "$1"
}
