#!/usr/bin/env python3
"""Veltrano conversion benchmark: veltrano-convert against the ffmpeg command
line on the same files and formats, side by side and alternating; also
against ffmpeg resampling with libsoxr (the library we resample with, at the
precision we use: 20 bits for 8- and 16-bit output, 28 above) and against sox.

  bench/bench.py [--build DIR] [--runs N] [--cache DIR] [--long] [--write-results]
                 [--variant NAME=BUILD_DIR ...] [--no-batch]

Prints, per input and format, the median wall time of each and the ratios
(ours / ffmpeg, ours / ffmpeg with soxr), the worst median ratio, peak memory
(maximum resident set), the decode-only floor, the time to open a file, and
resampling fidelity (SNR of a -3 dBFS 1 kHz tone, aliasing of a 20 kHz tone)
for every converter. sox reads only some of the inputs (not MP3 without its
format package, not AAC or MP4); it is left out where it cannot.
Inputs are 10-minute 48 kHz stereo files generated once into the cache folder.

Each converter's CPU time (user + system) is given beside its wall time: the
figure a batch that keeps every core busy pays. The batch table converts 10
files of mixed formats with `veltrano-convert -j 2 -d` against `xargs -P2` of
each ffmpeg variant, and gives the throughput ratio (their wall time over
ours: above 1 we are faster). A --variant adds another build of ours to the
speed table, to measure what a piece of our own buys (bench/variants/ holds
the patches such builds are made from).
"""
import argparse
import os
import shlex
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


def timed(cmd, cpu=False):
    """Wall seconds and peak resident kilobytes of one run (and CPU seconds when asked)."""
    t0 = time.perf_counter()
    res = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", *cmd], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    wall = time.perf_counter() - t0
    if res.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), res.stderr.decode(errors="replace")[-500:]))
    peak, user, system = res.stderr.decode().strip().splitlines()[-1].split()
    return (wall, int(peak), float(user) + float(system)) if cpu else (wall, int(peak))


def ours_cmd(build, src, out, rate, channels, bits):
    return [os.path.join(build, "veltrano-convert"), "-q", "-y", "-r", str(rate), "-c", str(channels), "-b", str(bits),
            "-o", out, src]


def ffmpeg_cmd(src, out, rate, channels, bits, soxr=False):
    codec = {8: "pcm_u8", 16: "pcm_s16le", 32: "pcm_s32le"}[bits]
    # With soxr: the precision we resample at for these bits (HQ, VHQ).
    resample = ["-af", "aresample=resampler=soxr:precision=%d" % (20 if bits <= 16 else 28)] if soxr else []
    return ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", src, *resample, "-ar", str(rate),
            "-ac", str(channels), "-c:a", codec, out]


SOX_READS = (".flac", ".ogg", ".wav")


def sox_cmd(src, out, rate, channels, bits):
    """sox at the same quality (-h 20-bit, -v 28-bit); it dithers by default when it drops bits.
    None where sox cannot read the input."""
    if not src.endswith(SOX_READS):
        return None
    encoding = ["-b", "8", "-e", "unsigned-integer"] if bits == 8 else ["-b", str(bits), "-e", "signed-integer"]
    return ["sox", "-q", "-V1", src, *encoding, out, "channels", str(channels),
            "rate", "-h" if bits <= 16 else "-v", str(rate)]


# The converters compared: name and command (None: cannot read that input).
def converters(build, variants=()):
    return [
        ("ours", lambda s, o, r, c, b: ours_cmd(build, s, o, r, c, b)),
        *[("ours " + name, lambda s, o, r, c, b, d=d: ours_cmd(d, s, o, r, c, b)) for name, d in variants],
        ("ffmpeg", lambda s, o, r, c, b: ffmpeg_cmd(s, o, r, c, b)),
        ("ffmpeg soxr", lambda s, o, r, c, b: ffmpeg_cmd(s, o, r, c, b, soxr=True)),
        ("sox", sox_cmd),
    ]


def speed_table(build, inputs, runs, scratch, variants=()):
    rows = []
    tools = converters(build, variants)
    for label, src in inputs.items():
        for fmt, rate, channels, bits in FORMATS:
            walls = {name: [] for name, _ in tools}
            peaks = {name: [] for name, _ in tools}
            cpus = {name: [] for name, _ in tools}
            for i in range(runs):
                # Rotate which goes first so none profits from a warm cache alone.
                for k in range(len(tools)):
                    name, cmd = tools[(i + k) % len(tools)]
                    out = os.path.join(scratch, "out-%s.wav" % name.replace(" ", "-"))
                    argv = cmd(src, out, rate, channels, bits)
                    if argv is None:
                        continue
                    w, m, c = timed(argv, cpu=True)
                    walls[name].append(w), peaks[name].append(m), cpus[name].append(c)
            med = {name: statistics.median(v) if v else None for name, v in walls.items()}
            peak = {name: max(v) if v else None for name, v in peaks.items()}
            cpu = {name: statistics.median(v) if v else None for name, v in cpus.items()}
            rows.append((label, fmt, med, peak, cpu))
            print("  %-10s %-11s %s" % (label, fmt, "  ".join(
                "%s %s" % (name, "%6.2f s" % med[name] if med[name] is not None else "     -  ") for name, _ in tools)),
                file=sys.stderr)
    return rows


def batch_table(build, inputs, runs, scratch):
    """10 files of mixed formats, two at a time: ours with -j 2 against xargs -P2 of each ffmpeg variant,
    for each format. Median wall seconds, alternating."""
    folder = os.path.join(scratch, "batch")
    os.makedirs(folder, exist_ok=True)
    files = []
    for i in range(10):
        label, src = list(inputs.items())[i % len(inputs)]
        link = os.path.join(folder, "%02d-%s" % (i, os.path.basename(src)))
        if not os.path.exists(link):
            os.symlink(src, link)
        files.append(link)
    out = os.path.join(scratch, "batch-out")
    rows = []
    for fmt, rate, channels, bits in FORMATS:
        def ours():
            return [os.path.join(build, "veltrano-convert"), "-q", "-y", "-j", "2", "-r", str(rate), "-c",
                    str(channels), "-b", str(bits), "-d", out, *files]

        def xargs(soxr):
            script = " ".join(shlex.quote(a) for a in ffmpeg_cmd("@IN@", "@OUT@", rate, channels, bits, soxr))
            script = script.replace("@IN@", '"$1"').replace("@OUT@", shlex.quote(out) + '/"$(basename "$1")".wav')
            return ["sh", "-c", 'printf "%s\\n" "$@" | xargs -P2 -n1 sh -c ' + shlex.quote(script) + " sh", "sh",
                    *files]

        tools = [("ours", ours), ("ffmpeg", lambda: xargs(False)), ("ffmpeg soxr", lambda: xargs(True))]
        walls = {name: [] for name, _ in tools}
        for i in range(runs):
            for k in range(len(tools)):
                name, cmd = tools[(i + k) % len(tools)]
                os.makedirs(out, exist_ok=True)
                walls[name].append(timed(cmd())[0])
        med = {name: statistics.median(v) for name, v in walls.items()}
        rows.append((fmt, med))
        print("  batch %-11s %s" % (fmt, "  ".join("%s %6.2f s" % (n, med[n]) for n, _ in tools)), file=sys.stderr)
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
    for name, cmd in converters(build):
        out = os.path.join(scratch, "q.wav")
        vals = []
        for rate in (44100, 22050):
            run(cmd(tone, out, rate, 2, 16))
            vals.append(float(run([q, "snr", out, "1000"]).stdout))
        # 20 kHz at 22.05 kHz would fold back to 2050 Hz: that tone's level,
        # so the dither's noise of those who dither does not count as aliasing.
        run(cmd(high, out, 22050, 2, 16))
        vals.append(float(run([q, "tone", out, "2050", "-3"]).stdout))
        rows.append((name, *vals))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cache", default=os.environ.get("VELTRANO_BENCH_CACHE", "/tmp/veltrano-bench"))
    ap.add_argument("--long", action="store_true", help="also convert a 3-hour input and report its peak memory")
    ap.add_argument("--write-results", action="store_true", help="write bench/RESULTS.md")
    ap.add_argument("--variant", action="append", default=[], metavar="NAME=BUILD_DIR",
                    help="another build of ours to time beside the others")
    ap.add_argument("--no-batch", action="store_true", help="leave out the batch table")
    args = ap.parse_args()
    variants = [(v.split("=", 1)[0], os.path.abspath(v.split("=", 1)[1])) for v in args.variant]
    build = os.path.abspath(args.build)
    inputs = make_inputs(args.cache, 600)
    scratch = os.path.join(args.cache, "scratch")
    os.makedirs(scratch, exist_ok=True)

    print("speed (median of %d alternating runs):" % args.runs, file=sys.stderr)
    rows = speed_table(build, inputs, args.runs, scratch, variants)
    batch = None if args.no_batch else batch_table(build, inputs, args.runs, scratch)
    floor = decode_floor(inputs, args.runs)
    opens = open_times(build, inputs, 5)
    qual = quality(build, scratch)
    long_row = None
    if args.long:
        long_inputs = make_inputs(args.cache, 3 * 3600, only=("flac",))
        src = long_inputs["flac"]
        w, m = timed(ours_cmd(build, src, os.path.join(scratch, "long.wav"), 44100, 2, 16))
        long_row = (src, w, m)

    def sec(v):
        return "%.2f" % v if v is not None else "-"

    lines = []
    lines.append("| input | format | ours (s) | ffmpeg (s) | ratio | ffmpeg soxr (s) | ratio to soxr | sox (s) | "
                 "CPU ours / ffmpeg / ffmpeg soxr (s) | ours peak (MB) | ffmpeg peak (MB) |")
    lines.append("|---|---|---|---|---|---|---|---|---|---|---|")
    ratios, soxr_ratios = [], []
    for label, fmt, med, peak, cpu in rows:
        o, t, x = med["ours"], med["ffmpeg"], med["ffmpeg soxr"]
        ratios.append((o / t, label, fmt))
        soxr_ratios.append((o / x, label, fmt))
        lines.append("| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %s | %.2f / %.2f / %.2f | %.0f | %.0f |" % (
            label, fmt, o, t, o / t, x, o / x, sec(med["sox"]), cpu["ours"], cpu["ffmpeg"], cpu["ffmpeg soxr"],
            peak["ours"] / 1024, peak["ffmpeg"] / 1024))
    lines.append("")
    lines.append("Worst median ratio (ours / ffmpeg): **%.2f** (%s, %s)." % max(ratios))
    lines.append("Worst median ratio (ours / ffmpeg soxr): **%.2f** (%s, %s)." % max(soxr_ratios))
    if variants:
        lines.append("")
        lines.append("| input | format | ours (s) | %s |" % " | ".join("ours %s (s)" % n for n, _ in variants))
        lines.append("|---|---|---|" + "---|" * len(variants))
        for label, fmt, med, peak, cpu in rows:
            lines.append("| %s | %s | %.2f (CPU %.2f) | %s |" % (label, fmt, med["ours"], cpu["ours"], " | ".join(
                "%.2f (CPU %.2f)" % (med["ours " + n], cpu["ours " + n]) for n, _ in variants)))
    if batch:
        lines.append("")
        lines.append("| batch of 10 files, 2 at a time | ours -j 2 (s) | xargs -P2 ffmpeg (s) | throughput vs ffmpeg "
                     "| xargs -P2 ffmpeg soxr (s) | throughput vs ffmpeg soxr |")
        lines.append("|---|---|---|---|---|---|")
        for fmt, med in batch:
            o = med["ours"]
            lines.append("| %s | %.2f | %.2f | %.2fx | %.2f | %.2fx |" % (
                fmt, o, med["ffmpeg"], med["ffmpeg"] / o, med["ffmpeg soxr"], med["ffmpeg soxr"] / o))
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
    lines.append("All fidelity figures are of 16-bit output. Ours and sox dither (TPDF) where they drop bits, which "
                 "costs up to 4.8 dB of SNR against rounding alone (90 dB at the 16-bit limit instead of 95) and "
                 "keeps quiet sounds free of distortion; the others round. ffmpeg soxr resamples with libsoxr at "
                 "20 bits, sox with its -h (20-bit) rate. The fold-back figure is the level of the 2050 Hz tone "
                 "that aliasing would make, below a -3 dBFS tone: around -140 dB it is the dither's noise that "
                 "falls in that one frequency, below -200 dB the output is digital silence.")
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
