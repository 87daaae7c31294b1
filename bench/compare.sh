#!/bin/bash
# Times a one-hour stampline run (48000 Hz stereo, 108000 frames, 691 MB)
# against plain_writer writing the same bytes the same way to the same place,
# alternating the two, and reports their medians, the median of the
# per-pair ratios stampline/plain (robust against a busy machine) and peak
# memory.
#
# usage: bench/compare.sh [PAIRS]    (default 11; builds the bench preset)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-11}
cmake --workflow --preset bench >/dev/null 2>&1 || {
  cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
}
stampline=build/bench/stampline
plain=build/bench/bench/plain_writer
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

out=/dev/shm/stampline-bench.wav
frames=108000
frame_bytes=$((1600 * 2 * 2))

# Prints "seconds peak_kib" for one command: wall time to the microsecond
# (time(1) rounds to 10 ms), peak resident memory from time(1).
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o /dev/shm/stampline-bench.time "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(awk -v ns=$((end - start)) 'BEGIN {printf "%.4f", ns / 1e9}') $(cat /dev/shm/stampline-bench.time)"
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }

s_times=() p_times=() ratios=() s_mem=0 p_mem=0
for ((i = 1; i <= runs; i++)); do
  read -r s m < <(measure "$stampline" -s 48000 -c 2 -d "$frames" -o "$out")
  s_times+=("$s"); s_mem=$m; rm -f "$out"
  read -r p m < <(measure "$plain" "$out" "$frames" "$frame_bytes")
  p_times+=("$p"); p_mem=$m; rm -f "$out"
  ratios+=("$(awk -v a="$s" -v b="$p" 'BEGIN {printf "%.4f", a / b}')")
done
read -r _ one_frame_mem < <(measure "$stampline" -s 48000 -c 2 -d 1 -o "$out"); rm -f "$out"
rm -f /dev/shm/stampline-bench.time

s_median=$(printf '%s\n' "${s_times[@]}" | median)
p_median=$(printf '%s\n' "${p_times[@]}" | median)
echo "stampline runs (s): ${s_times[*]}"
echo "plain     runs (s): ${p_times[*]}"
echo "peak RSS stampline: one hour ${s_mem} KiB, one frame ${one_frame_mem} KiB; plain writer ${p_mem} KiB"
echo "pair ratios: ${ratios[*]}"
echo "median stampline ${s_median} s, plain ${p_median} s, ratio stampline/plain (median of pairs) $(printf '%s\n' "${ratios[@]}" | median)"
