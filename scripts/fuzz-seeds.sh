#!/usr/bin/env bash
# Makes the fuzzers' seed corpora in OUT (default build-asan/seeds): small
# media encoded here with GStreamer, mono and stereo at a few rates, one
# folder per fuzz target. Nothing binary is kept in the repository.
set -euo pipefail
out=${1:-build-asan/seeds}
rm -rf "$out"
mkdir -p "$out"/{mp3,wav,files,packets}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gst() { gst-launch-1.0 -q "$@" >/dev/null; }
# Ten buffers of 1024 samples of a test sound: a fraction of a second.
src() { echo "audiotestsrc num-buffers=${3:-10} samplesperbuffer=1024 wave=$4 ! audio/x-raw,rate=$1,channels=$2"; }

# MP3: CBR and VBR, with and without an ID3v2 tag and an Info frame, MPEG-1, 2 and 2.5.
for rate in 8000 22050 44100 48000; do
  for ch in 1 2; do
    gst $(src $rate $ch 10 sine) ! lamemp3enc target=bitrate bitrate=32 cbr=true ! id3v2mux ! filesink location="$out/mp3/cbr-$rate-$ch.mp3"
    gst $(src $rate $ch 10 ticks) ! lamemp3enc target=quality quality=4 ! xingmux ! id3v2mux ! filesink location="$out/mp3/vbr-$rate-$ch.mp3"
  done
done
gst $(src 44100 2 6 white-noise) ! lamemp3enc target=bitrate bitrate=128 cbr=true ! filesink location="$out/mp3/bare-44100-2.mp3"

# WAV: 8 and 16 bits, mono and stereo; and a copy cut in the middle of a frame.
for rate in 8000 22050 44100; do
  for ch in 1 2; do
    gst $(src $rate $ch 2 sine) ! audioconvert ! audio/x-raw,format=S16LE ! wavenc ! filesink location="$out/wav/s16-$rate-$ch.wav"
  done
done
gst $(src 11025 1 2 sine) ! audioconvert ! audio/x-raw,format=U8 ! wavenc ! filesink location="$out/wav/u8-11025-1.wav"
head -c 1001 "$out/wav/s16-22050-2.wav" > "$out/wav/cut-22050-2.wav"

# Ogg Vorbis and AAC in .m4a for the demuxers the file reader serves, with the MP3s and WAVs.
for spec in "22050 1" "44100 2" "48000 2"; do
  set -- $spec
  gst $(src $1 $2 8 sine) ! vorbisenc ! oggmux ! filesink location="$work/vorbis-$1-$2.ogg"
  gst $(src $1 $2 8 sine) ! avenc_aac ! mp4mux ! filesink location="$work/aac-$1-$2.m4a"
  gst $(src $1 $2 8 sine) ! avenc_aac ! aacparse ! audio/mpeg,stream-format=adts ! filesink location="$work/adts-$1-$2.aac"
done
cp "$work"/*.ogg "$work"/*.m4a "$out/files/"
cp "$out/mp3/vbr-44100-2.mp3" "$out/mp3/cbr-8000-1.mp3" "$out/wav/s16-8000-1.wav" "$out/files/"

# Decoder packets, as the demuxers hand them out, in the decoder target's
# form: a codec byte, raw AAC's configuration, then length-prefixed packets.
pack() {  # pack OUT KIND CONFIG_HEX PACKET_DIR
  python3 - "$@" <<'PY'
import os, struct, sys
out, kind, config, folder = sys.argv[1], int(sys.argv[2]), bytes.fromhex(sys.argv[3]), sys.argv[4]
data = bytes([kind])
if kind == 1:
    data += bytes([len(config)]) + config
for name in sorted(os.listdir(folder)):
    packet = open(os.path.join(folder, name), 'rb').read()
    data += struct.pack('<H', len(packet)) + packet
open(out, 'wb').write(data)
PY
}
for f in "$work"/*.ogg "$work"/*.m4a "$work"/*.aac; do
  name=$(basename "$f")
  dir="$work/packets-$name"
  mkdir -p "$dir"
  case "$f" in
    *.ogg)
      gst filesrc location="$f" ! oggdemux ! multifilesink location="$dir/p%05d"
      pack "$out/packets/$name.bin" 0 "" "$dir" ;;
    *.m4a)
      config=$(gst-launch-1.0 -v filesrc location="$f" ! qtdemux ! multifilesink location="$dir/p%05d" 2>&1 |
               grep -o 'codec_data=(buffer)[0-9a-f]*' | head -n1 | cut -d')' -f2)
      pack "$out/packets/$name.bin" 1 "$config" "$dir" ;;
    *.aac)
      gst filesrc location="$f" ! aacparse ! multifilesink location="$dir/p%05d"
      pack "$out/packets/$name.bin" 3 "" "$dir" ;;
  esac
done
echo "fuzz-seeds: $(find "$out" -type f | wc -l) seeds in $out"
