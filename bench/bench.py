#!/usr/bin/env python3
"""Veltrano conversion benchmark: veltrano-convert against the ffmpeg command
line on the same files and formats, side by side and alternating.

  bench/bench.py [--build DIR] [--runs N] [--cache DIR] [--long] [--write-results]

Prints, per input and format, the median wall time of both and their ratio
(ours / ffmpeg), the worst median ratio, peak memory (maximum resident set),
the decode-only floor, the time to open a file, and resampling fidelity (SNR of
a -3 dBFS 1 kHz tone, aliasing of a 20 kHz tone) for both converters.
Inputs are 10-minute 48 kHz stereo files generated once into the cache folder.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# A music-like 10-minute signal: chords that change, with a little noise.
SIGNAL = ("aevalsrc=exprs='0.25*sin(2*PI*(220+40*floor(t/7))*t)+0.18*sin(2*PI*(330+55*floor(t/5))*t)"
          "+0.12*sin(2*PI*2500*t)*sin(2*PI*0.3*t)+0.02*(random(0)-0.5)|"
          "0.25*sin(2*PI*(277+33*floor(t/6))*t)+0.18*sin(2*PI*(440+20*floor(t/9))*t)"
          "+0.1*sin(2*PI*5000*t)*sin(2*PI*0.2*t)+0.02*(random(1)-0.5)':s=48000:d={seconds}")

INPUTS = [
    ("mp3", "music.mp3", ["-c:a", "libmp3lame", "-b:a", "192k"]),
    ("flac", "music.flac", ["-c:a", "flac"]),
    ("aac", "music.m4a", ["-c:a", "aac", "-b:a", "192k"]),
    ("vorbis", "music.ogg", ["-c:a", "libvorbis", "-q:a", "5"]),
    ("mp4 video", "video.mp4", None),
]

FORMATS = [("44100/2/16", 44100, 2, 16), ("22050/1/8", 22050, 1, 8)]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def ffmpeg(*args):
    run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", *args])


def make_inputs(cache, seconds, only=None):
    os.makedirs(cache, exist_ok=True)
    src = os.path.join(cache, "music-%d.wav" % seconds)
    if not os.path.exists(src):
        print("generating %d s of signal..." % seconds, file=sys.stderr)
        ffmpeg("-f", "lavfi", "-i", SIGNAL.format(seconds=seconds), "-c:a", "pcm_s16le", src)
    paths = {}
    for label, name, codec in INPUTS:
        if only and label not in only:
            continue
        path = os.path.join(cache, name if seconds == 600 else "%d-%s" % (seconds, name))
        if not os.path.exists(path):
            print("encoding %s..." % name, file=sys.stderr)
            if codec is None:
                ffmpeg("-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=%d" % seconds, "-i", src,
                       "-map", "0:v", "-map", "1:a", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                       "-c:a", "aac", "-b:a", "192k", "-shortest", path)
            else:
                ffmpeg("-i", src, *codec, path)
        paths[label] = path
    return paths


def timed(cmd):
    """Wall seconds and peak resident kilobytes of one run."""
    t0 = time.perf_counter()
    res = subprocess.run(["/usr/bin/time", "-f", "%M", *cmd], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - t0
    if res.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), res.stderr.decode(errors="replace")[-500:]))
    peak = int(res.stderr.decode().strip().splitlines()[-1])
    return wall, peak


def ours_cmd(build, src, out, rate, channels, bits):
    return [os.path.join(build, "veltrano-convert"), "-q", "-y", "-r", str(rate), "-c", str(channels), "-b", str(bits),
            "-o", out, src]


def ffmpeg_cmd(src, out, rate, channels, bits):
    codec = {8: "pcm_u8", 16: "pcm_s16le", 32: "pcm_s32le"}[bits]
    return ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", src, "-ar", str(rate), "-ac", str(channels),
            "-c:a", codec, out]


def speed_table(build, inputs, runs, scratch):
    rows = []
    for label, src in inputs.items():
        for fmt, rate, channels, bits in FORMATS:
            ours, theirs, ours_mem, theirs_mem = [], [], [], []
            for i in range(runs):
                # Alternate which goes first so neither profits from a warm cache alone.
                order = [0, 1] if i % 2 == 0 else [1, 0]
                for which in order:
                    out = os.path.join(scratch, "out-%d.wav" % which)
                    if which == 0:
                        w, m = timed(ours_cmd(build, src, out, rate, channels, bits))
                        ours.append(w), ours_mem.append(m)
                    else:
                        w, m = timed(ffmpeg_cmd(src, out, rate, channels, bits))
                        theirs.append(w), theirs_mem.append(m)
            o, t = statistics.median(ours), statistics.median(theirs)
            rows.append((label, fmt, o, t, o / t, max(ours_mem), max(theirs_mem)))
            print("  %-10s %-11s ours %6.2f s  ffmpeg %6.2f s  ratio %.2f" % (label, fmt, o, t, o / t), file=sys.stderr)
    return rows


def decode_floor(inputs, runs):
    floor = {}
    for label, src in inputs.items():
        times = [timed(["ffmpeg", "-hide_banner", "-loglevel", "error", "-i", src, "-map", "0:a:0", "-f", "null", "-"])[0]
                 for _ in range(runs)]
        floor[label] = statistics.median(times)
    return floor


def open_times(build, inputs, runs):
    tool = os.path.join(build, "bench", "veltrano-bench-open")
    if not os.path.exists(tool):
        return {}
    res = {}
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VELTRANO_AUDIO_SINK="fakeaudiosink")
    for label, src in inputs.items():
        out = run([tool, str(runs), src], env=env).stdout.decode().split()
        res[label] = (float(out[0]), float(out[1]))  # first open, median of the later ones (ms)
    return res


def quality(build, scratch):
    q = os.path.join(build, "bench", "veltrano-bench-quality")
    tone = os.path.join(scratch, "tone1k.wav")
    high = os.path.join(scratch, "tone20k.wav")
    ffmpeg("-f", "lavfi", "-i", "aevalsrc=exprs='0.70795*sin(2*PI*1000*t)|0.70795*sin(2*PI*1000*t)':s=48000:d=10",
           "-c:a", "pcm_f32le", tone)
    ffmpeg("-f", "lavfi", "-i", "aevalsrc=exprs='0.70795*sin(2*PI*20000*t)|0.70795*sin(2*PI*20000*t)':s=48000:d=10",
           "-c:a", "pcm_f32le", high)
    rows = []
    for name, cmd in (("ours", lambda s, o, r: ours_cmd(build, s, o, r, 2, 16)),
                      ("ffmpeg", lambda s, o, r: ffmpeg_cmd(s, o, r, 2, 16))):
        out = os.path.join(scratch, "q.wav")
        vals = []
        for rate in (44100, 22050):
            run(cmd(tone, out, rate))
            vals.append(float(run([q, "snr", out, "1000"]).stdout))
        run(cmd(high, out, 22050))
        vals.append(float(run([q, "level", out, "-3"]).stdout))
        rows.append((name, *vals))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cache", default=os.environ.get("VELTRANO_BENCH_CACHE", "/tmp/veltrano-bench"))
    ap.add_argument("--long", action="store_true", help="also convert a 3-hour input and report its peak memory")
    ap.add_argument("--write-results", action="store_true", help="write bench/RESULTS.md")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    inputs = make_inputs(args.cache, 600)
    scratch = os.path.join(args.cache, "scratch")
    os.makedirs(scratch, exist_ok=True)

    print("speed (median of %d alternating runs):" % args.runs, file=sys.stderr)
    rows = speed_table(build, inputs, args.runs, scratch)
    floor = decode_floor(inputs, args.runs)
    opens = open_times(build, inputs, 5)
    qual = quality(build, scratch)
    long_row = None
    if args.long:
        long_inputs = make_inputs(args.cache, 3 * 3600, only=("flac",))
        src = long_inputs["flac"]
        w, m = timed(ours_cmd(build, src, os.path.join(scratch, "long.wav"), 44100, 2, 16))
        long_row = (src, w, m)

    lines = []
    lines.append("| input | format | ours (s) | ffmpeg (s) | ratio | ours peak (MB) | ffmpeg peak (MB) |")
    lines.append("|---|---|---|---|---|---|---|")
    for label, fmt, o, t, r, om, tm in rows:
        lines.append("| %s | %s | %.2f | %.2f | %.2f | %.0f | %.0f |" % (label, fmt, o, t, r, om / 1024, tm / 1024))
    worst = max(rows, key=lambda r: r[4])
    lines.append("")
    lines.append("Worst median ratio: **%.2f** (%s, %s)." % (worst[4], worst[0], worst[1]))
    lines.append("")
    lines.append("| input | decode-only floor, ffmpeg -f null (s) | open: first (ms) | open: later, median (ms) |")
    lines.append("|---|---|---|---|")
    for label in inputs:
        o = opens.get(label)
        lines.append("| %s | %.2f | %s | %s |" % (label, floor[label], "%.0f" % o[0] if o else "-",
                                               "%.0f" % o[1] if o else "-"))
    lines.append("")
    lines.append("| converter | SNR 1 kHz -3 dBFS, 48k to 44.1k (dB) | SNR, 48k to 22.05k (dB) | "
                 "20 kHz -3 dBFS to 22.05k, what folds back (dB) |")
    lines.append("|---|---|---|---|")
    for name, a, b, c in qual:
        lines.append("| %s | %.1f | %.1f | %.1f |" % (name, a, b, c))
    lines.append("")
    lines.append("All fidelity figures are of 16-bit output; a fold-back level below -200 dB means the output is "
                 "digital silence, nothing above the 16-bit step.")
    if long_row:
        lines.append("")
        lines.append("3-hour FLAC to 44100/2/16: %.1f s, peak %.0f MB resident." % (long_row[1], long_row[2] / 1024))
    text = "\n".join(lines)
    print(text)
    if args.write_results:
        with open(os.path.join(ROOT, "bench", "RESULTS.md"), "w") as f:
            f.write("# Benchmark results\n\nMeasured with `bench/bench.py --runs %d` on %s (%d cores).\n\n%s\n"
                    % (args.runs, os.uname().nodename, os.cpu_count(), text))


if __name__ == "__main__":
    main()
