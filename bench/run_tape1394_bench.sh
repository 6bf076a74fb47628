#!/usr/bin/env bash
# Records a 60 s 640x360 25 fps clip at the tape's real pace twice over and compares the two:
#   sim   tape_bench --1394 CLIP on the simulated IEEE 1394 bus at the bus's pace (8000 cycles a
#         second; LD_LIBRARY_PATH=build/bin/sim1394)
#   file  tape_bench CLIP TAPE onto the file camcorder at the pace of a real tape
#         (VANTREL_DV_TAPE_PACE=1)
# For every run: wall time, CPU time (user + system of the process) and peak memory; for the sim
# runs also the late cycles the simulated bus counted (cycles that found no packet queued while
# the transmitter still gave packets), the frames the simulated tape holds after the lead-in
# (which must be the file camcorder's frames, each once, in order) and the stream's length on
# the bus against its frames at 25 a second. Medians of REPS runs per side, and the ratio of CPU
# time sim/file.
#
#   bench/run_tape1394_bench.sh [REPS]        (3 when not given)
#
# Environment:
#   BIN_DIR    where tape_bench, qmvgen and sim1394/ are (build/bin)
#   BENCH_OUT  where the clip is kept and the runs file goes (bench/out)
# Tapes go to /dev/shm (about 290 MB each).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${BIN_DIR:-$root/build/bin}
out=${BENCH_OUT:-$here/out}
reps=${1:-3}
. "$here/bench_lib.sh"

for tool in python3 /usr/bin/time bc; do
  command -v "$tool" >/dev/null || { echo "run_tape1394_bench: $tool not found" >&2; exit 2; }
done
for exe in "$bin/tape_bench" "$bin/qmvgen" "$bin/sim1394/libraw1394.so.11"; do
  [[ -e $exe ]] || { echo "run_tape1394_bench: $exe missing; build first" >&2; exit 2; }
done
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "run_tape1394_bench: REPS must be a positive number" >&2; exit 2; }
mkdir -p "$out"
shm=/dev/shm/vantrel_tape1394_bench.$$
mkdir -p "$shm"
trap 'rm -rf "$shm"' EXIT

length_s=60
src=$out/clip_60s_360p25.wmv
ensure_360p_clip "$src" "$length_s"
cat "$src" > /dev/null

runs=$out/tape1394_bench_runs.tsv
echo -e "side\trun\twall_s\tcpu_s\tpeak_kib\tlate_cycles\tlead_in\tclip_frames\tbus_s\tframes_s\tbusy_before" > "$runs"

# The simulated tape against the file camcorder's: "LEAD CLIPFRAMES" when the frames after the
# lead-in are the file tape's frames, each once and in order; a failure otherwise.
compare_tapes() {  # sim.dv file.dv
  python3 - "$1" "$2" <<'EOF'
import sys
size = 144000
sim = open(sys.argv[1], 'rb').read()
ref = open(sys.argv[2], 'rb').read()
frames = [sim[i:i + size] for i in range(0, len(sim) - size + 1, size)]
want = [ref[i:i + size] for i in range(0, len(ref) - size + 1, size)]
lead = 0
while lead < len(frames) and frames[lead] == frames[0]:
    lead += 1
if frames[lead:] != want:
    sys.exit("the simulated tape holds %d frames after %d of lead-in, the file tape %d (or "
             "they differ)" % (len(frames) - lead, lead, len(want)))
print(lead, len(want))
EOF
}

measure() {  # side run
  local busy t0 t1 user sys peak late lead clip cycles data bus_s frames_s
  sync
  busy=$(wait_quiet)
  rm -f "$shm/sim.dv" "$shm/sim.log"
  t0=$(now_ns)
  if [[ $1 == sim ]]; then
    LD_LIBRARY_PATH=$bin/sim1394${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
      VANTREL_SIM1394_PACE=bus VANTREL_SIM1394_TAPE=$shm/sim.dv VANTREL_SIM1394_LOG=$shm/sim.log \
      /usr/bin/time -o "$shm/time" -f "%U %S %M" "$bin/tape_bench" --1394 "$src" > /dev/null
  else
    VANTREL_DV_TAPE_PACE=1 /usr/bin/time -o "$shm/time" -f "%U %S %M" \
      "$bin/tape_bench" "$src" "$shm/file.dv" > /dev/null
  fi
  t1=$(now_ns)
  read -r user sys peak < "$shm/time"
  late=- lead=- clip=- bus_s=- frames_s=-
  if [[ $1 == sim ]]; then
    local stop
    stop=$(grep '^iso-stop ' "$shm/sim.log" | tail -1)
    late=$(sed -n 's/.* late-cycles=\([0-9]*\).*/\1/p' <<< "$stop")
    cycles=$(sed -n 's/.* cycles=\([0-9]*\).*/\1/p' <<< "$stop")
    data=$(sed -n 's/.* data=\([0-9]*\).*/\1/p' <<< "$stop")
    read -r lead clip < <(compare_tapes "$shm/sim.dv" "$shm/file.dv")
    bus_s=$(echo "scale=3; $cycles / 8000" | bc)
    frames_s=$(echo "scale=3; $data / 300 / 25" | bc)
  fi
  echo -e "$1\t$2\t$(echo "scale=3; ($t1 - $t0) / 1000000000" | bc)\t$(echo "$user + $sys" | bc)\t$peak\t$late\t$lead\t$clip\t$bus_s\t$frames_s\t$busy" >> "$runs"
}

# The file tape of the first run is the reference the simulated tapes are compared with.
for i in $(seq "$reps"); do
  measure file "$i"
  measure sim "$i"
done

col() { awk -F'\t' -v t="$1" -v c="$2" '$1 == t {print $c}' "$runs" | median; }
printf '%-6s %8s %8s %9s %6s %8s %6s %8s %8s\n' side "wall s" "cpu s" "peak MiB" late lead-in frames "bus s" "frames s"
for side in file sim; do
  printf '%-6s %8.3f %8.2f %9.1f %6s %8s %6s %8s %8s\n' "$side" "$(col $side 3)" "$(col $side 4)" \
    "$(echo "scale=1; $(col $side 5) / 1024" | bc)" "$(col $side 6)" "$(col $side 7)" \
    "$(col $side 8)" "$(col $side 9)" "$(col $side 10)"
done
echo "cpu sim/file: $(echo "scale=3; $(col sim 4) / $(col file 4)" | bc)"
echo "runs: $runs"
