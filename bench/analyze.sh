#!/bin/bash
# Times --analyze on one hour of LTC from the page cache against reading the
# same file with cat (the speed of memory) and against ltc_read, which feeds
# the same file to libltc's decoder. Runs alternate, so a busy machine slows
# both sides of a pair alike; the figure to read is the median of the
# per-pair ratios. Also reports the peak resident memory of the analysis,
# which must stay flat whatever the file's length.
#
# Three files, one hour each at 48000 Hz, 30 fps: 16-bit stereo (both
# channels scanned), 24-bit mono and 32-bit float mono.
#
# usage: bench/analyze.sh [PAIRS] [DIR]   (default 7 pairs, 5 with libltc;
#                                          /dev/shm; builds the bench preset)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
dir=${2:-/dev/shm}
cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
stampline=build/bench/stampline
ltc_read=build/bench/bench/ltc_read
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
[ -x "$ltc_read" ] || { echo "needs libltc-dev and libsndfile1-dev for ltc_read" >&2; exit 1; }

stereo=$dir/analyze-16-stereo.wav
mono24=$dir/analyze-24-mono.wav
float=$dir/analyze-float-mono.wav
timing=$(mktemp)
trap 'rm -f "$stereo" "$mono24" "$float" "$timing"' EXIT
"$stampline" --sample-rate=48000 --duration=1h --quiet --output="$stereo"
"$stampline" --sample-rate=48000 --channels=1 --duration=1h --depth=24 --quiet --output="$mono24"
"$stampline" --sample-rate=48000 --channels=1 --duration=1h --depth=float --quiet --output="$float"

# Prints "wall peak_kib" for one command: wall time to the microsecond, then
# peak resident memory from time(1).
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$timing" "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v m="$(cat "$timing")" 'BEGIN {printf "%.4f %d\n", ns / 1e9, m}'
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

# pairs LABEL RUNS A... -- B...: RUNS alternating runs of A and B; prints the
# median times and the median of the ratios A/B.
pairs() {
  local label=$1 n=$2
  shift 2
  local a=() b=()
  while [[ $1 != -- ]]; do a+=("$1"); shift; done
  shift
  b=("$@")
  local aw=() bw=() r=() peak=0
  for ((i = 1; i <= n; i++)); do
    if ((i % 2)); then
      read -r x peak < <(measure "${a[@]}")
      read -r y _ < <(measure "${b[@]}")
    else
      read -r y _ < <(measure "${b[@]}")
      read -r x peak < <(measure "${a[@]}")
    fi
    aw+=("$x") bw+=("$y") r+=("$(ratio "$x" "$y")")
  done
  echo "$label: $(printf '%s\n' "${aw[@]}" | median) s against $(printf '%s\n' "${bw[@]}" | median) s;" \
    "pair ratios ${r[*]}; median $(printf '%s\n' "${r[@]}" | median); peak RSS ${peak} KiB"
}

for file in "$stereo" "$mono24" "$float"; do
  echo "== $(basename "$file"): $(stat -c %s "$file") bytes"
  # One run of each, not counted: a file just written is slower to map and
  # read the first few times, whoever reads it.
  cat "$file" >/dev/null
  "$stampline" --analyze="$file" >/dev/null || true
  "$ltc_read" "$file" >/dev/null
  pairs "analyze/cat" "$runs" "$stampline" --analyze="$file" -- cat "$file"
  pairs "libltc/analyze" 5 "$ltc_read" "$file" -- "$stampline" --analyze="$file"
done
