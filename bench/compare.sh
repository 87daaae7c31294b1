#!/bin/bash
# Times one hour of stampline output against the kernel's own copy speed: dd
# writing the same number of bytes from /dev/zero in 1 MiB blocks to the same
# place, and plain_writer writing them in stampline's own 256 KiB blocks. Runs
# alternate, so a busy machine slows both sides of a pair alike; the figure to
# read is the median of the per-pair ratios.
#
# Seven formats: 48000 Hz stereo and 22050 Hz mono at 30 fps (the short
# options), 25 fps at 44100 Hz mono, 29.97 drop-frame at 48000 Hz stereo,
# 23.976 at 96000 Hz stereo (frames of 1601.6 and 4004 samples), and 24-bit
# and float samples at 48000 Hz stereo. Then a
# durable run on a disk against dd conv=fdatasync writing the same bytes,
# both made durable before they end. Also reports CPU time (user + system)
# and peak resident memory, and the memory of a one-frame run and of a
# minute at 384000 Hz stereo, which must stay flat.
#
# usage: bench/compare.sh [PAIRS] [DIR]   (default 11 pairs, /dev/shm; builds
#                                          the bench preset; DISK names the
#                                          directory on a disk, /var/tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-11}
dir=${2:-/dev/shm}
cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
stampline=build/bench/stampline
plain=build/bench/bench/plain_writer
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

out=$dir/stampline-bench.wav
disk=${DISK:-/var/tmp}
timing=$(mktemp)
trap 'rm -f "$out" "$disk/stampline-bench.wav" "$timing"' EXIT

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

# compare LABEL [DD-OPTION] STAMPLINE-OPTIONS...: a DD-OPTION such as
# conv=fdatasync goes to dd.
compare() {
  local label=$1 dd_extra=()
  shift
  if [[ $1 == conv=* ]]; then
    dd_extra=("$1")
    shift
  fi
  "$stampline" "$@" --quiet --output "$out"
  local bytes
  bytes=$(stat -c %s "$out")
  local s_wall=() s_cpu=() d_wall=() p_wall=() by_dd=() by_plain=() s_peak=0 d_peak=0
  for ((i = 1; i <= runs; i++)); do
    # Each program goes first in every other round: the system may still be
    # freeing the last run's file while the next one starts.
    if ((i % 2)); then
      read -r sw sc sm < <(measure "$stampline" "$@" --quiet --output "$out")
      read -r dw _ dm < <(measure dd if=/dev/zero of="$out" bs=1M count="$bytes" iflag=count_bytes "${dd_extra[@]}")
      read -r pw _ _ < <(measure "$plain" "$out" "$bytes")
    else
      read -r pw _ _ < <(measure "$plain" "$out" "$bytes")
      read -r dw _ dm < <(measure dd if=/dev/zero of="$out" bs=1M count="$bytes" iflag=count_bytes "${dd_extra[@]}")
      read -r sw sc sm < <(measure "$stampline" "$@" --quiet --output "$out")
    fi
    s_wall+=("$sw") s_cpu+=("$sc") d_wall+=("$dw") p_wall+=("$pw") s_peak=$sm d_peak=$dm
    by_dd+=("$(ratio "$sw" "$dw")") by_plain+=("$(ratio "$sw" "$pw")")
  done
  echo "== $label: $bytes bytes to $out, $runs alternating runs"
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

compare "one hour, 48000 Hz x2, 30 fps" -s 48000 -c 2 -d 108000
compare "one hour, 22050 Hz x1, 30 fps" -s 22050 -c 1 -d 108000
compare "one hour, 25 fps, 44100 Hz x1" -s 44100 -c 1 -f 25 -d 90000
compare "one hour, 29.97 drop-frame, 48000 Hz x2" --sample-rate 48000 --channels 2 \
  --frame-rate 29.97 --drop-frame --duration 1h
compare "one hour, 23.976, 96000 Hz x2" --sample-rate 96000 --channels 2 \
  --frame-rate 23.976 --duration 1h
compare "one hour, 24-bit, 48000 Hz x2" --sample-rate 48000 --depth 24 --duration 1h
compare "one hour, float, 48000 Hz x2" --sample-rate 48000 --depth float --duration 1h

# Durable on a disk: stampline makes its data and header durable (fdatasync)
# before it ends; so does dd with conv=fdatasync.
out=$disk/stampline-bench.wav
compare "one hour, 48000 Hz x2, on the disk $disk" conv=fdatasync -s 48000 -c 2 -d 108000
out=$dir/stampline-bench.wav

read -r _ _ one_frame < <(measure "$stampline" -s 48000 -c 2 -d 1 -o "$out")
read -r _ _ one_frame_384 < <(measure "$stampline" --sample-rate 384000 --channels 2 \
  --frame-rate 23.976 --duration 1 --output "$out")
read -r _ _ minute_384 < <(measure "$stampline" --sample-rate 384000 --channels 2 \
  --frame-rate 23.976 --duration 1m --output "$out")
echo "peak RSS stampline: one frame at 48000 Hz x2 ${one_frame} KiB;" \
  "at 384000 Hz x2, 23.976: one frame ${one_frame_384} KiB, one minute ${minute_384} KiB"
