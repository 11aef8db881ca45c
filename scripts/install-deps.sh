#!/usr/bin/env bash
# Installs every Debian package Veltrano needs to build, test and benchmark.
# Idempotent: packages already present are skipped. Run as root (or via sudo).
set -euo pipefail

packages=(
  # build and tests
  build-essential cmake pkg-config libgtest-dev libgmock-dev
  # user interface
  qt6-base-dev qt6-base-dev-tools libqt6svg6 fonts-dejavu-core
  # media
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  # headers of the decoder library the Vorbis, AAC and MP3 decoders load
  libavcodec-dev
  # resampling
  libsoxr-dev
  # sanitizer builds and fuzzing: clang, its sanitizer and libFuzzer
  # runtimes, the symbolizer for readable reports; python3 packs fuzz seeds
  clang libclang-rt-14-dev llvm python3
  # desktop and manual page checks, real-window runs and benchmarks
  desktop-file-utils groff-base man-db xvfb xauth xdotool x11-apps ffmpeg sox time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
