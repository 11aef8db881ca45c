#!/usr/bin/env bash
# Times veltrano-convert against the ffmpeg command line on 10-minute 48 kHz
# stereo inputs (MP3 192k, FLAC), converting to 44100/2/16, alternating runs.
# Usage: bench/convert_vs_ffmpeg.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
tool="$build/veltrano-convert"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Ten minutes of music-like sound: a tone mixed with pink noise.
gst-launch-1.0 -q audiotestsrc wave=pink-noise volume=0.2 num-buffers=6000 samplesperbuffer=4800 \
  ! audio/x-raw,rate=48000,channels=2 ! audioconvert ! audio/x-raw,format=S16LE \
  ! wavenc ! filesink location="$work/in.wav"
ffmpeg -loglevel error -y -i "$work/in.wav" -c:a libmp3lame -b:a 192k "$work/in.mp3"
ffmpeg -loglevel error -y -i "$work/in.wav" -c:a flac "$work/in.flac"

seconds() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%-6s %10s %10s %8s\n' input ours ffmpeg ratio
for input in mp3 flac; do
  ours=(); theirs=()
  for ((i = 0; i < runs; ++i)); do
    ours+=("$(seconds "$tool" -q -y -o "$work/ours.wav" "$work/in.$input")")
    theirs+=("$(seconds ffmpeg -loglevel error -y -i "$work/in.$input" -ar 44100 -ac 2 -c:a pcm_s16le "$work/ffmpeg.wav")")
  done
  o=$(printf '%s\n' "${ours[@]}" | median)
  t=$(printf '%s\n' "${theirs[@]}" | median)
  awk -v i="$input" -v o="$o" -v t="$t" 'BEGIN { printf "%-6s %9ss %9ss %8.2f\n", i, o, t, o / t }'
done
