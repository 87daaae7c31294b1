#!/bin/bash
# The degraded corpus: LTC at 24, 25, 29.97 drop-frame and 30 fps, 30 s
# each, through every kind of channel a recording meets (filters and a
# camera's input chain, clipping, codecs at 32 to 128 kb/s in MP4, MKV and
# MP3, crosstalk, level steps, constant and varying speeds from 0.5x to 2x,
# shuttle and rocking, splices at random offsets, dropouts, a change of
# rate, samples that are no number), read by --analyze and by libltc's
# decoder, each scored against the truth (bench/corpus/score.py).
#
# usage: bench/corpus.sh [DIR] [STAMPLINE]   (default /dev/shm/corpus, and
#        the bench preset's build; the corpus is made once and kept in DIR)
# Prints one row per case and the totals; needs ffmpeg and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/dev/shm/corpus}
cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
stampline=$(realpath "${2:-build/bench/stampline}")
degrade=build/bench/bench/degrade
ltc_frames=build/bench/bench/ltc_frames
mkdir -p "$dir"

# Codecs, each made from the clean case: name, container, ffmpeg's options.
codecs=("aac32 mp4 -c:a aac -b:a 32k" "aac64 mp4 -c:a aac -b:a 64k" "aac128 mp4 -c:a aac -b:a 128k"
        "opus32 mkv -c:a libopus -b:a 32k" "opus64 mkv -c:a libopus -b:a 64k"
        "mp3_32 mp3 -c:a libmp3lame -b:a 32k" "mp3_128 mp3 -c:a libmp3lame -b:a 128k")

cases=()
for rate in 24 25 29.97df 30; do
  for c in $("$degrade" --list); do
    cases+=("$rate-$c")
    [ -f "$dir/$rate-$c.wav" ] || "$degrade" "$rate" "$c" "$dir/$rate-$c.wav" "$dir/$rate-$c.truth"
  done
  for codec in "${codecs[@]}"; do
    read -r name container options <<<"$codec"
    cases+=("$rate-$name")
    if [ ! -f "$dir/$rate-$name.wav" ]; then
      # shellcheck disable=SC2086
      ffmpeg -loglevel error -y -i "$dir/$rate-clean.wav" $options "$dir/$rate-$name.$container"
      ffmpeg -loglevel error -y -i "$dir/$rate-$name.$container" -ac 1 -ar 48000 -c:a pcm_f32le "$dir/$rate-$name.wav"
      cp "$dir/$rate-clean.truth" "$dir/$rate-$name.truth"
    fi
  done
done

printf '%-28s %6s %6s %6s %7s %7s %6s %6s %6s %6s\n' case frames right wrong ltc_rt ltc_wr events false unread status
totals=(0 0 0 0 0 0 0 0)
for c in "${cases[@]}"; do
  "$stampline" --analyze="$dir/$c.wav" --json --csv="$dir/$c.ours.csv" >"$dir/$c.ours.json" 2>/dev/null || true
  [ -s "$dir/$c.libltc.csv" ] || "$ltc_frames" "$dir/$c.wav" >"$dir/$c.libltc.csv"
  read -r -a s < <(python3 bench/corpus/score.py "$dir/$c.truth" "$dir/$c.ours.csv" "$dir/$c.ours.json" "$dir/$c.libltc.csv")
  printf '%-28s %6s %6s %6s %7s %7s %6s %6s %6s %6s\n' "$c" "${s[@]}"
  for i in 0 1 2 3 4 5 6 7; do totals[i]=$((totals[i] + s[i])); done
done
printf '%-28s %6s %6s %6s %7s %7s %6s %6s %6s\n' total "${totals[@]}"
