#!/bin/bash
# Times one hour of stampline output against the kernel's own copy speed: dd
# writing the same number of bytes from /dev/zero in 1 MiB blocks to the same
# place, and plain_writer writing them the way a one-write-per-frame program
# would. Runs alternate, so a busy machine slows both sides of a pair alike;
# the figure to read is the median of the per-pair ratios.
#
# Two formats: 48000 Hz stereo (6400-byte frames, 691 MB) and 22050 Hz mono
# (1470-byte frames, 159 MB). Also reports CPU time (user + system) and peak
# resident memory.
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
timing=/dev/shm/stampline-bench.time
frames=108000

# Prints "wall cpu peak_kib" for one command: wall time to the microsecond
# (time(1) rounds to 10 ms), then user + system seconds and peak resident
# memory from time(1).
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S %M" -o "$timing" "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  read -r user sys peak <"$timing"
  rm -f "$out"
  awk -v ns=$((end - start)) -v u="$user" -v s="$sys" -v m="$peak" \
    'BEGIN {printf "%.4f %.2f %d\n", ns / 1e9, u + s, m}'
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.4f", a / b}'; }

compare() {
  local rate=$1 channels=$2
  local frame_bytes=$((rate / 30 * channels * 2))
  local bytes=$((44 + frames * frame_bytes))
  local s_wall=() s_cpu=() d_wall=() p_wall=() by_dd=() by_plain=() s_peak=0 d_peak=0
  for ((i = 1; i <= runs; i++)); do
    read -r sw sc sm < <(measure "$stampline" -s "$rate" -c "$channels" -d "$frames" -o "$out")
    read -r dw _ dm < <(measure dd if=/dev/zero of="$out" bs=1M count="$bytes" iflag=count_bytes)
    read -r pw _ _ < <(measure "$plain" "$out" "$frames" "$frame_bytes")
    s_wall+=("$sw") s_cpu+=("$sc") d_wall+=("$dw") p_wall+=("$pw") s_peak=$sm d_peak=$dm
    by_dd+=("$(ratio "$sw" "$dw")") by_plain+=("$(ratio "$sw" "$pw")")
  done
  echo "== one hour, $rate Hz x$channels: $bytes bytes to $out, $runs alternating runs"
  echo "stampline (s): ${s_wall[*]}"
  echo "dd        (s): ${d_wall[*]}"
  echo "stampline/dd pair ratios: ${by_dd[*]}"
  echo "median stampline $(printf '%s\n' "${s_wall[@]}" | median) s," \
    "dd $(printf '%s\n' "${d_wall[@]}" | median) s," \
    "plain writer $(printf '%s\n' "${p_wall[@]}" | median) s"
  echo "median ratio stampline/dd $(printf '%s\n' "${by_dd[@]}" | median)," \
    "stampline/plain writer $(printf '%s\n' "${by_plain[@]}" | median)"
  echo "stampline CPU (user+system) median $(printf '%s\n' "${s_cpu[@]}" | median) s;" \
    "peak RSS stampline ${s_peak} KiB, dd ${d_peak} KiB"
}

compare 48000 2
compare 22050 1
read -r _ _ one_frame_peak < <(measure "$stampline" -s 48000 -c 2 -d 1 -o "$out")
echo "peak RSS stampline for one frame: ${one_frame_peak} KiB"
rm -f "$timing"
