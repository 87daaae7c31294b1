#!/bin/bash
# Opt-in checks of day-long runs (not run by CI: they write 16.6 GB and
# 8.3 GB), each file read back by libsndfile (sndfile-info) and ffmpeg
# (ffprobe) as 16-bit PCM, and its end decoded by libltc's decoder:
#   24 hours at 48000 Hz stereo, 30 fps: 2,592,000 x 1600 sample frames;
#   24 hours of 29.97 drop-frame from 00:00:00;00 at 48000 Hz mono:
#   2,589,408 frames of 1601.6 samples, 4,147,195,852 sample frames, the
#   last frame labelled 23:59:59;29.
#
# usage: bench/large_file_check.sh [DIR]   (DIR needs 17 GB free; default /tmp)
# needs: ffmpeg and sndfile-programs (apt-get install ffmpeg sndfile-programs),
#        libltc-dev and libsndfile1-dev for the bench preset's ltc_tail
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/tmp}
out="$dir/stampline-24h.wav"
trap 'rm -f "$out"' EXIT

cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
stampline=build/bench/stampline

# check LABEL EXPECTED_FRAMES SAMPLES_PER_FRAME LAST_LABEL OPTIONS...
check() {
  local label=$1 expected=$2 per_frame=$3 last=$4
  shift 4
  echo "== $label"
  local start
  start=$(date +%s)
  "$stampline" "$@" --quiet --output "$out"
  echo "wrote $(stat -c %s "$out") bytes in $(($(date +%s) - start)) s"
  head -c 4 "$out" | grep -q RF64 || { echo "FAIL: not an RF64 file"; exit 1; }

  local info
  info=$(sndfile-info "$out")
  echo "$info" | grep -E "Frames|Format|Channels|Sample Rate" | sed 's/^/libsndfile: /'
  echo "$info" | grep -Eq "^Frames *: *$expected$" || { echo "FAIL: libsndfile frame count"; exit 1; }

  local probe
  probe=$(ffprobe -v error -select_streams a:0 -count_packets \
    -show_entries stream=codec_name,sample_rate,channels,duration_ts -of default=nw=1 "$out")
  echo "$probe" | sed 's/^/ffprobe: /'
  echo "$probe" | grep -q "codec_name=pcm_s16le" || { echo "FAIL: ffmpeg codec"; exit 1; }
  echo "$probe" | grep -q "duration_ts=$expected" || { echo "FAIL: ffmpeg frame count"; exit 1; }

  local tail
  tail=$(build/bench/bench/ltc_tail "$out" "$per_frame" 2)
  echo "$tail" | sed 's/^/libltc: /'
  echo "$tail" | grep -q "^last label $last$" || { echo "FAIL: last label"; exit 1; }
  echo "PASS: $expected sample frames read by libsndfile and ffmpeg, last label $last"
  rm -f "$out"
}

check "24 hours at 48000 Hz stereo, 30 fps" 4147200000 1600 "23:59:59:29" \
  -s 48000 -c 2 -t 00:00:00:00 -d 2592000
check "24 hours of 29.97 drop-frame at 48000 Hz mono" 4147195852 1602 "23:59:59;29" \
  --sample-rate 48000 --channels 1 --frame-rate 29.97 --drop-frame \
  --start 00:00:00:00 --duration 2589408
