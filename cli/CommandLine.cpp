#include "cli/CommandLine.h"

#include <charconv>
#include <cstdio>

namespace veltrano {

namespace {

bool ParseInt(std::string_view text, int& out) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data() + (text.front() == '+' ? 1 : 0), end, out);
    return r.ec == std::errc() && r.ptr == end;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Whole digits and an optional fraction of up to seven digits, in 100 ns units.
std::optional<MediaTime> ParseSeconds(std::string_view s, std::int64_t maxWhole) {
    const std::size_t dot = s.find('.');
    const std::string_view whole = s.substr(0, dot);
    const std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    if (!AllDigits(whole) || whole.size() > 12) return std::nullopt;
    if (dot != std::string_view::npos && (!AllDigits(frac) || frac.size() > 7)) return std::nullopt;
    std::int64_t w = 0;
    std::from_chars(whole.data(), whole.data() + whole.size(), w);
    if (maxWhole >= 0 && w > maxWhole) return std::nullopt;
    std::int64_t f = 0;
    for (std::size_t i = 0; i < 7; ++i) f = f * 10 + (i < frac.size() ? frac[i] - '0' : 0);
    return w * kUnitsPerSecond + f;
}

std::optional<std::int64_t> ParseField(std::string_view s, std::int64_t max) {
    if (!AllDigits(s) || s.size() > 12) return std::nullopt;
    std::int64_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    if (max >= 0 && v > max) return std::nullopt;
    return v;
}

enum class Opt { Output, OutputDir, Jobs, Rate, Channels, Bits, Dither, Start, End, Overwrite, Probe, Quiet, Help, Version };

struct OptionSpec {
    Opt id;
    char shortName;  // 0: long form only
    const char* longName;
    bool takesValue;
};

constexpr OptionSpec kOptions[] = {
    {Opt::Output, 'o', "output", true},       {Opt::OutputDir, 'd', "output-dir", true},
    {Opt::Jobs, 'j', "jobs", true},           {Opt::Rate, 'r', "rate", true},
    {Opt::Channels, 'c', "channels", true},   {Opt::Bits, 'b', "bits", true},
    {Opt::Start, 's', "start", true},         {Opt::End, 'e', "end", true},
    {Opt::Overwrite, 'y', "overwrite", false}, {Opt::Probe, 0, "probe", false},
    {Opt::Quiet, 'q', "quiet", false},        {Opt::Help, 'h', "help", false},
    {Opt::Version, 0, "version", false},      {Opt::Dither, 0, "dither", true},
};

const OptionSpec* FindShort(char c) {
    for (const auto& o : kOptions)
        if (o.shortName != 0 && o.shortName == c) return &o;
    return nullptr;
}

const OptionSpec* FindLong(std::string_view name) {
    for (const auto& o : kOptions)
        if (name == o.longName) return &o;
    return nullptr;
}

std::string Apply(const OptionSpec& o, std::string_view value, ConvertOptions& opt) {
    switch (o.id) {
    case Opt::Output:
        if (value.empty()) return "the output path is empty";
        opt.output = std::string(value);
        return {};
    case Opt::OutputDir:
        if (value.empty()) return "the output folder is empty";
        opt.outputDir = std::string(value);
        return {};
    case Opt::Jobs: {
        int jobs = 0;
        if (!ParseInt(value, jobs) || jobs < 1) return "the jobs must be a whole number of at least 1";
        opt.jobs = jobs;
        return {};
    }
    case Opt::Rate:
        if (!ParseInt(value, opt.rate)) return "the rate must be a whole number of samples per second";
        return {};
    case Opt::Channels:
        if (value == "source") {
            opt.channels = kSourceChannels;
            return {};
        }
        if (!ParseInt(value, opt.channels) || (opt.channels != 1 && opt.channels != 2))
            return "the channels must be 1, 2 or source";
        return {};
    case Opt::Bits:
        opt.sampleKind = value == "32f" ? SampleKind::Float : SampleKind::Integer;
        if (value == "32f") {
            opt.bits = 32;
            return {};
        }
        if (!ParseInt(value, opt.bits) || (opt.bits != 8 && opt.bits != 16 && opt.bits != 24 && opt.bits != 32))
            return "the bits must be 8, 16, 24, 32 or 32f";
        return {};
    case Opt::Dither:
        if (value != "tpdf" && value != "none") return "the dither must be tpdf or none";
        opt.dither = value == "tpdf";
        return {};
    case Opt::Start:
    case Opt::End: {
        const auto t = ParseTimeArgument(value);
        if (!t) return "'" + std::string(value) + "' is not a time (seconds such as 12.5, or [HH:]MM:SS[.fff])";
        if (o.id == Opt::Start) opt.start = *t;
        else opt.end = *t;
        return {};
    }
    case Opt::Overwrite: opt.overwrite = true; return {};
    case Opt::Probe: opt.probe = true; return {};
    case Opt::Quiet: opt.quiet = true; return {};
    case Opt::Help: opt.help = true; return {};
    case Opt::Version: opt.version = true; return {};
    }
    return {};
}

}  // namespace

std::optional<MediaTime> ParseTimeArgument(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon == std::string_view::npos ? std::string_view::npos : colon - from));
        if (colon == std::string_view::npos) break;
        from = colon + 1;
    }
    if (parts.size() == 1) return ParseSeconds(parts[0], -1);
    if (parts.size() > 3) return std::nullopt;
    const auto seconds = ParseSeconds(parts.back(), 59);
    const auto minutes = ParseField(parts[parts.size() - 2], parts.size() == 3 ? 59 : -1);
    if (!seconds || !minutes) return std::nullopt;
    std::int64_t hours = 0;
    if (parts.size() == 3) {
        const auto h = ParseField(parts[0], -1);
        if (!h) return std::nullopt;
        hours = *h;
    }
    return (hours * 3600 + *minutes * 60) * kUnitsPerSecond + *seconds;
}

ParsedCommandLine ParseConvertArguments(const std::vector<std::string>& args) {
    ParsedCommandLine out;
    ConvertOptions& opt = out.options;
    std::vector<std::string> inputs;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::optional<std::string> value;
        if (a[1] == '-') {
            const std::size_t eq = a.find('=');
            spec = FindLong(std::string_view(a).substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
            if (eq != std::string::npos) value = a.substr(eq + 1);
        } else {
            spec = FindShort(a[1]);
            if (a.size() > 2) value = a.substr(2);
        }
        if (!spec) {
            out.error = "unknown option " + a;
            return out;
        }
        if (spec->takesValue && !value) {
            if (i + 1 >= args.size()) {
                out.error = "option " + a + " needs a value";
                return out;
            }
            value = args[++i];
        } else if (!spec->takesValue && value) {
            out.error = "option " + a + " takes no value";
            return out;
        }
        if (std::string e = Apply(*spec, value.value_or(""), opt); !e.empty()) {
            out.error = e;
            return out;
        }
    }
    if (opt.help || opt.version) {
        out.ok = true;
        return out;
    }
    if (inputs.empty()) {
        out.error = "no input file given";
        return out;
    }
    opt.inputs = std::move(inputs);
    if (opt.probe) {
        if (opt.inputs.size() != 1) out.error = "--probe measures one input file at a time";
    } else if (!opt.output.empty() && !opt.outputDir.empty()) {
        out.error = "-o and -d cannot be used together";
    } else if (!opt.output.empty() && opt.inputs.size() > 1) {
        out.error = "-o names the output of a single input; use -d DIR to convert several";
    } else if (opt.output.empty() && opt.outputDir.empty()) {
        out.error = "the output file is required (-o PATH, or -d DIR for the outputs' folder)";
    }
    if (!out.error.empty()) return out;
    out.ok = true;
    return out;
}

std::string ConvertUsageText() {
    return "Usage: veltrano-convert [options] -o OUTPUT INPUT\n"
           "       veltrano-convert [options] -d OUTDIR INPUT...\n"
           "       veltrano-convert --probe INPUT\n"
           "Converts the sound of media files to PCM WAV files.\n"
           "\n"
           "  -o, --output PATH      output WAV file of a single INPUT\n"
           "  -d, --output-dir DIR   folder of the outputs, each named after its INPUT with\n"
           "                         the extension replaced by .wav (DIR/song.wav)\n"
           "  -j, --jobs N           files converted at once (default: the number of cores)\n"
           "  -r, --rate N           samples per second (default 44100)\n"
           "  -c, --channels N       1, 2 (the default) or source: the source's own channels\n"
           "                         (up to 8, in their places; more are mixed to 7.1)\n"
           "  -b, --bits N           8, 16 (the default), 24, 32 (integer) or 32f (float)\n"
           "      --dither KIND      tpdf (the default) or none: what is added where samples\n"
           "                         lose bits; silence and samples that fit stay exact\n"
           "  -s, --start TIME       selection start (default 0)\n"
           "  -e, --end TIME         selection end (default: the exact end of the media)\n"
           "  -y, --overwrite        replace existing output files (once the new one is\n"
           "                         complete; a failed conversion leaves the old one)\n"
           "      --probe            print the media length and exit\n"
           "  -q, --quiet            no progress output\n"
           "  -h, --help             this text\n"
           "      --version          the program's version\n"
           "\n"
           "TIME is seconds with an optional fraction (12.5) or [HH:]MM:SS[.fff].\n"
           "-s and -e apply to every INPUT; an end past a file's length is its end.\n"
           "\n"
           "Progress goes to stderr, one \"Done. Output File: PATH\" line per file written\n"
           "to stdout. A file that fails does not stop the others; a summary line counts\n"
           "them. Two inputs that would have the same output: the later one is refused.\n"
           "\n"
           "Examples:\n"
           "  veltrano-convert -o song.wav song.mp3\n"
           "  veltrano-convert -r 22050 -c 1 -s 1:30 -e 2:00 -o part.wav film.mp4\n"
           "  veltrano-convert -r 96000 -b 24 -c source -o film.wav film.mkv\n"
           "  veltrano-convert -y -j 2 -d wav/ music/*.flac\n"
           "\n"
           "Exit status:\n"
           "  0    every file was converted\n"
           "  2    bad arguments, or a selection that ends before it starts\n"
           "  3    an input cannot be opened or measured, or has no sound\n"
           "  4    an output is refused: it exists (without -y), is an input, is also an\n"
           "       earlier input's output, its path is longer than 259 bytes, it is not a\n"
           "       regular file (a folder, FIFO or device), or the -d folder does not exist\n"
           "  5    a conversion failed\n"
           "  130  stopped by Ctrl+C: the files being written are complete up to there,\n"
           "       the rest are not started\n"
           "With several inputs: 0 when every file was converted, 130 when stopped by\n"
           "Ctrl+C, otherwise the highest status of the files that were not converted.\n";
}

std::string ProbeReportText(MediaTime length) {
    const std::int64_t ms = (length + 5000) / 10000;
    const std::int32_t whole = WholeSeconds(length);
    char text[128];
    std::snprintf(text, sizeof text, "length: %lld.%03lld\nwhole: %02d:%02d:%02d\n", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000), whole / 3600, (whole % 3600) / 60, whole % 60);
    return text;
}

OutputWaveFormat OutputFormatFor(const ConvertOptions& options) {
    return MakeOutputWaveFormat(static_cast<std::uint32_t>(options.rate), static_cast<std::uint16_t>(options.channels),
                                static_cast<std::uint16_t>(options.bits), options.sampleKind);
}

}  // namespace veltrano
