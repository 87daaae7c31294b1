#!/bin/bash
# Opt-in check of the RF64 path (not run by CI: it writes 16.6 GB): a 24-hour
# run at 48000 Hz stereo, read back by libsndfile (sndfile-info) and ffmpeg
# (ffprobe) as 16-bit PCM with 2,592,000 x 1600 sample frames.
#
# usage: bench/large_file_check.sh [DIR]   (DIR needs 17 GB free; default /tmp)
# needs: ffmpeg and sndfile-programs (apt-get install ffmpeg sndfile-programs)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/tmp}
out="$dir/stampline-24h.wav"
trap 'rm -f "$out"' EXIT

cmake --workflow --preset release >/dev/null
frames=2592000
expected=$((frames * 1600))
start=$(date +%s)
build/release/stampline -s 48000 -c 2 -d "$frames" -o "$out" >/dev/null
echo "wrote $(stat -c %s "$out") bytes in $(($(date +%s) - start)) s"
head -c 4 "$out" | grep -q RF64 || { echo "FAIL: not an RF64 file"; exit 1; }

info=$(sndfile-info "$out")
echo "$info" | grep -E "Frames|Format|Channels|Sample Rate" | sed 's/^/libsndfile: /'
echo "$info" | grep -Eq "^Frames *: *$expected$" || { echo "FAIL: libsndfile frame count"; exit 1; }

probe=$(ffprobe -v error -select_streams a:0 -count_packets \
  -show_entries stream=codec_name,sample_rate,channels,duration_ts -of default=nw=1 "$out")
echo "$probe" | sed 's/^/ffprobe: /'
echo "$probe" | grep -q "codec_name=pcm_s16le" || { echo "FAIL: ffmpeg codec"; exit 1; }
echo "$probe" | grep -q "duration_ts=$expected" || { echo "FAIL: ffmpeg frame count"; exit 1; }
echo "PASS: $expected sample frames read by libsndfile and ffmpeg"
