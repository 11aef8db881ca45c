#!/usr/bin/env bash
# Runs the whole program on a virtual 1280x1024 display with real mouse and key
# events: opens a video, plays it, seeks, marks and converts a selection, seeks
# with the keys, presses Enter in the output box, goes to full screen and
# back; leaves screenshots and the log in the given folder.
set -euo pipefail
build=${VELTRANO_BUILD_DIR:-build}
out=${1:-$build/dialog-check}
mkdir -p "$out"
export VELTRANO_AUDIO_SINK=${VELTRANO_AUDIO_SINK:-fakeaudiosink sync=true}
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/dialog_check" "$out" | tee "$out/log.txt"
