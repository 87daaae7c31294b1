#!/bin/bash
# Two builds of stampline side by side on the three heavy runs: writing one
# hour of 48000 Hz stereo, reading one hour of it back (--analyze), and
# mixing LTC beside one hour of 24-bit stereo (--mix). The builds alternate,
# each first in every other pair; the figure to read is the median of the
# pair ratios NEW/OLD of wall time (and of processor time), with the peak
# resident memory of each.
#
# usage: bench/versus.sh OLD NEW [PAIRS] [DIR]   (default 9 pairs, /dev/shm)
set -euo pipefail
old=$(realpath "$1")
new=$(realpath "$2")
pairs=${3:-9}
dir=${4:-/dev/shm}
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
work=$(mktemp -d "$dir/versus.XXXXXX")
trap 'rm -rf "$work"' EXIT
timing=$work/timing

# Prints "wall cpu peak_kib" for one command.
measure() {
  local start end
  rm -f "$work/out.wav"
  start=$(date +%s%N)
  /usr/bin/time -f "%e %U %S %M" -o "$timing" "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk 'END {printf "%.4f %.2f %d\n", $1, $2 + $3, $4}' "$timing"
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }

"$old" --sample-rate=48000 --duration=1h --quiet --output="$work/ltc.wav"
"$old" --sample-rate=48000 --depth=24 --duration=1h --quiet --output="$work/song.wav"

compare() {  # name, then the arguments after the program
  local name=$1 o n wall=() cpu=() peakOld=0 peakNew=0
  shift
  measure "$old" "$@" >/dev/null  # one of each, not counted: the page cache
  measure "$new" "$@" >/dev/null
  for ((i = 1; i <= pairs; i++)); do
    if ((i % 2)); then
      read -r ow oc peakOld < <(measure "$old" "$@")
      read -r nw nc peakNew < <(measure "$new" "$@")
    else
      read -r nw nc peakNew < <(measure "$new" "$@")
      read -r ow oc peakOld < <(measure "$old" "$@")
    fi
    wall+=("$(awk -v a="$nw" -v b="$ow" 'BEGIN {printf "%.3f", a / b}')")
    cpu+=("$(awk -v a="$nc" -v b="$oc" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 1)}')")
  done
  echo "$name: wall new/old ${wall[*]}"
  echo "  median wall ratio $(printf '%s\n' "${wall[@]}" | median), median processor ratio" \
    "$(printf '%s\n' "${cpu[@]}" | median); peak RSS old ${peakOld} KiB, new ${peakNew} KiB"
}

compare "generation, one hour of 48000 Hz stereo" --sample-rate=48000 --duration=1h --quiet --output="$work/out.wav"
compare "analysis, one hour of 48000 Hz stereo" --analyze="$work/ltc.wav"
compare "mix, one hour of 48000 Hz 24-bit stereo" --mix="$work/song.wav" --quiet --output="$work/out.wav"
