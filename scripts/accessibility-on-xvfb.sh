#!/usr/bin/env bash
# Shows what a screen reader reads of the dialog: runs the program on a
# virtual display with its own session bus and the AT-SPI registry, opens a
# generated clip, and lets scripts/accessibility-tree.py walk the accessibility
# tree and listen to what changes. Needs at-spi2-core, python3-gi and
# gir1.2-atspi-2.0 (apt-get install at-spi2-core python3-gi gir1.2-atspi-2.0).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${VELTRANO_BUILD_DIR:-build}
build=$(cd "$build" && pwd)
out=${1:-$build/accessibility-check}
mkdir -p "$out/home/Music"
out=$(cd "$out" && pwd)
clip="$out/home/clip.wav"
gst-launch-1.0 -q audiotestsrc num-buffers=470 samplesperbuffer=1024 ! audio/x-raw,rate=48000,channels=2 ! \
  wavenc ! filesink location="$clip"

cat > "$out/session.sh" <<INNER
#!/usr/bin/env bash
set -euo pipefail
export HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config"
export VELTRANO_AUDIO_SINK="fakeaudiosink sync=true"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 NO_AT_BRIDGE=0
/usr/libexec/at-spi-bus-launcher --launch-immediately &
launcher=\$!
sleep 1
"$build/veltrano" "$clip" &
app=\$!
status=0
/usr/bin/python3 "$here/accessibility-tree.py" veltrano || status=\$?
kill \$app \$launcher 2>/dev/null || true
wait \$app \$launcher 2>/dev/null || true
exit \$status
INNER
chmod +x "$out/session.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$out/session.sh" 2>&1 | tee "$out/log.txt"
