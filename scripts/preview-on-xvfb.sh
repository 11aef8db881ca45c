#!/usr/bin/env bash
# Plays a generated video in the preview window on a virtual 1280x1024 display,
# goes to full screen and back, and leaves screenshots in the given folder.
set -euo pipefail
build=${VELTRANO_BUILD_DIR:-build}
out=${1:-$build/preview-check}
mkdir -p "$out"
export VELTRANO_AUDIO_SINK=${VELTRANO_AUDIO_SINK:-fakeaudiosink sync=true}
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/preview_check" "$out"
