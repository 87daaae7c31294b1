#!/bin/bash
# Times --mix on one hour of 48000 Hz 24-bit stereo (the output one and a
# half times the input's bytes) against cat copying the input to a file in
# the same place, in alternating runs; the figure to read is the median of
# the per-pair ratios. Then the peak resident memory of --mix for inputs of
# 1, 2, 4 and 8 channels, and of one input ten times as long, which must
# stay flat.
#
# usage: bench/mix.sh [PAIRS] [DIR]   (default 11 pairs, /dev/shm; builds
#                                      the bench preset)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-11}
dir=${2:-/dev/shm}
cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
stampline=build/bench/stampline
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

song=$dir/mix-song.wav
out=$dir/mix-out.wav
timing=$(mktemp)
trap 'rm -f "$song" "$out" "$timing"' EXIT

# Prints "wall peak_kib" for one command, its output removed first.
measure() {
  local start end
  rm -f "$out"
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$timing" "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v m="$(cat "$timing")" 'BEGIN {printf "%.4f %d\n", ns / 1e9, m}'
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }

# The song: any 24-bit stereo audio will do; LTC is as good as music here.
"$stampline" --sample-rate=48000 --depth=24 --duration=1h --quiet --output="$song"
echo "== one hour of 48000 Hz 24-bit stereo, $(stat -c %s "$song") bytes, $runs alternating runs"
mix=() copy=() ratios=() peak=0
for ((i = 1; i <= runs; i++)); do
  read -r m peak < <(measure "$stampline" --mix="$song" --output="$out" --quiet)
  read -r c _ < <(measure sh -c 'cat "$1" > "$2"' sh "$song" "$out")
  mix+=("$m") copy+=("$c") ratios+=("$(awk -v a="$m" -v b="$c" 'BEGIN {printf "%.3f", a / b}')")
done
echo "mix (s): ${mix[*]}"
echo "cat (s): ${copy[*]}"
echo "median mix $(printf '%s\n' "${mix[@]}" | median) s, cat $(printf '%s\n' "${copy[@]}" | median) s;" \
  "median ratio mix/cat $(printf '%s\n' "${ratios[@]}" | median); peak RSS ${peak} KiB"

for channels in 1 2 4 8; do
  "$stampline" --sample-rate=48000 --depth=24 --channels="$channels" --duration=1m --quiet --output="$song"
  read -r _ peak < <(measure "$stampline" --mix="$song" --output="$out" --quiet)
  echo "peak RSS of --mix, one minute of $channels channel(s): $peak KiB"
done
"$stampline" --sample-rate=48000 --depth=24 --channels=8 --duration=10m --quiet --output="$song"
read -r _ peak < <(measure "$stampline" --mix="$song" --output="$out" --quiet)
echo "peak RSS of --mix, ten minutes of 8 channels: $peak KiB"
