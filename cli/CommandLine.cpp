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

constexpr std::int64_t kMaxTimeSeconds = kMaxTimeArgumentHours * 3600;

enum class TimeParse { Ok, Malformed, TooLong };

// Digits only, at most 12 of them: the value fits in 64 bits before any scaling.
std::optional<std::int64_t> ParseDigits(std::string_view s) {
    if (!AllDigits(s) || s.size() > 12) return std::nullopt;
    std::int64_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

// Whole digits and an optional fraction of up to seven digits, in 100 ns
// units, given the seconds the fields before them add.
TimeParse ParseSeconds(std::string_view s, std::int64_t maxWhole, std::int64_t before, MediaTime& out) {
    const std::size_t dot = s.find('.');
    const std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    const auto whole = ParseDigits(s.substr(0, dot));
    if (!whole || (maxWhole >= 0 && *whole > maxWhole)) return TimeParse::Malformed;
    if (dot != std::string_view::npos && (!AllDigits(frac) || frac.size() > 7)) return TimeParse::Malformed;
    // Checked before scaling, so that nothing can overflow.
    if (*whole > kMaxTimeSeconds - before) return TimeParse::TooLong;
    std::int64_t f = 0;
    for (std::size_t i = 0; i < 7; ++i) f = f * 10 + (i < frac.size() ? frac[i] - '0' : 0);
    out = (before + *whole) * kUnitsPerSecond + f;
    return TimeParse::Ok;
}

TimeParse ParseTime(std::string_view text, MediaTime& out) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon == std::string_view::npos ? std::string_view::npos : colon - from));
        if (colon == std::string_view::npos) break;
        from = colon + 1;
    }
    if (parts.size() > 3) return TimeParse::Malformed;
    if (parts.size() == 1) return ParseSeconds(parts[0], -1, 0, out);
    const auto minutes = ParseDigits(parts[parts.size() - 2]);
    if (!minutes || (parts.size() == 3 && *minutes > 59)) return TimeParse::Malformed;
    std::int64_t hours = 0;
    if (parts.size() == 3) {
        const auto h = ParseDigits(parts[0]);
        if (!h) return TimeParse::Malformed;
        hours = *h;
    }
    // Hours and minutes of up to 12 digits each: their seconds still fit in 64 bits.
    return ParseSeconds(parts.back(), 59, hours * 3600 + *minutes * 60, out);
}

std::string TimeRefusal(std::string_view value) {
    MediaTime ignored = 0;
    if (ParseTime(value, ignored) == TimeParse::TooLong)
        return "'" + std::string(value) + "' is longer than any media (at most " +
               std::to_string(kMaxTimeArgumentHours) + " hours)";
    return "'" + std::string(value) + "' is not a time (seconds such as 12.5, or [HH:]MM:SS[.fff])";
}

enum class Opt { Output, OutputDir, Jobs, Rate, Channels, Bits, Dither, Start, End, Overwrite, Probe, Quiet, Help, Version,
                 Stream, Duration, FilesFrom, SkipExisting, Report, NoTags };

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
    // For scripts and runs over archives.
    {Opt::Stream, 0, "stream", true},         {Opt::Duration, 't', "duration", true},
    {Opt::FilesFrom, 0, "files-from", true},  {Opt::SkipExisting, 0, "skip-existing", false},
    {Opt::Report, 0, "report", true},         {Opt::NoTags, 0, "no-tags", false},
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
    case Opt::End:
    case Opt::Duration: {
        const auto t = ParseTimeArgument(value);
        if (!t) return TimeRefusal(value);
        if (o.id == Opt::Start) opt.start = *t;
        else if (o.id == Opt::End) opt.end = *t;
        else if (*t <= 0) return "the duration must be longer than 0";
        else opt.duration = *t;
        return {};
    }
    case Opt::Overwrite: opt.overwrite = true; return {};
    case Opt::Probe: opt.probe = true; return {};
    case Opt::Quiet: opt.quiet = true; return {};
    case Opt::Help: opt.help = true; return {};
    case Opt::Version: opt.version = true; return {};
    case Opt::Stream:
        if (!ParseInt(value, opt.stream) || opt.stream < 0)
            return "the stream must be a whole number from 0 (the first sound stream)";
        return {};
    case Opt::FilesFrom:
        if (value.empty()) return "the list of inputs has no name";
        opt.filesFrom = std::string(value);
        return {};
    case Opt::SkipExisting: opt.skipExisting = true; return {};
    case Opt::NoTags: opt.tags = false; return {};
    case Opt::Report:
        if (value.empty()) return "the report file has no name";
        // Standard output may carry the WAV: the report always goes to a file.
        if (value == kStandardOutputName) return "the report goes to a file; - is not one";
        opt.report = std::string(value);
        return {};
    }
    return {};
}

}  // namespace

std::optional<MediaTime> ParseTimeArgument(std::string_view text) {
    MediaTime t = 0;
    if (ParseTime(text, t) != TimeParse::Ok) return std::nullopt;
    return t;
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
    opt.inputs = std::move(inputs);
    // The list's inputs count too: they are judged once it is read.
    if (opt.filesFrom.empty()) out.error = InputsRefusal(opt);
    if (out.error.empty() && opt.end && opt.duration) out.error = "-t and -e cannot be used together";
    if (out.error.empty() && WritesToStandardOutput(opt) && opt.skipExisting)
        out.error = "--skip-existing needs an output file; standard output is never complete beforehand";
    if (!out.error.empty()) return out;
    out.ok = true;
    return out;
}

std::string InputsRefusal(const ConvertOptions& opt) {
    if (opt.inputs.empty()) return "no input file given";
    if (opt.probe) return opt.inputs.size() != 1 ? "--probe measures one input file at a time" : "";
    if (!opt.output.empty() && !opt.outputDir.empty()) return "-o and -d cannot be used together";
    if (!opt.output.empty() && opt.inputs.size() > 1)
        return "-o names the output of a single input; use -d DIR to convert several";
    if (opt.output.empty() && opt.outputDir.empty())
        return "the output file is required (-o PATH, or -d DIR for the outputs' folder)";
    return {};
}

std::vector<std::string> ParseFileList(std::string_view text) {
    std::vector<std::string> paths;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        paths.emplace_back(line);
    }
    return paths;
}

std::string ConvertUsageText() {
    return "Usage: veltrano-convert [options] -o OUTPUT INPUT\n"
           "       veltrano-convert [options] -d OUTDIR INPUT...\n"
           "       veltrano-convert [options] -d OUTDIR --files-from LIST [INPUT...]\n"
           "       veltrano-convert --probe INPUT\n"
           "Converts the sound of media files to PCM WAV files.\n"
           "\n"
           "  -o, --output PATH      output WAV file of a single INPUT\n"
           "  -d, --output-dir DIR   folder of the outputs, each named after its INPUT with\n"
           "                         the extension replaced by .wav (DIR/song.wav)\n"
           "  -j, --jobs N           files converted at once (default: the number of cores)\n"
           "  -r, --rate N           samples per second (default 44100)\n"
           "  -c, --channels N       1, 2 (the default) or source: the source's own channels\n"
           "                         (up to 8, in their places)\n"
           "  -b, --bits N           8, 16 (the default), 24, 32 (integer) or 32f (float)\n"
           "      --dither KIND      tpdf (the default) or none: what is added where samples\n"
           "                         lose bits; silence and samples that fit stay exact\n"
           "      --no-tags          leave out the source's title, artist, album, date, genre,\n"
           "                         track and comment (written by default as LIST/INFO)\n"
           "  -s, --start TIME       selection start (default 0)\n"
           "  -e, --end TIME         selection end (default: the exact end of the media)\n"
           "  -y, --overwrite        replace existing output files (once the new one is\n"
           "                         complete; a failed conversion leaves the old one)\n"
           "      --probe            print the media length and its sound streams, and exit\n"
           "  -q, --quiet            nothing on success: no progress, no result lines\n"
           "  -h, --help             this text\n"
           "      --version          the program's version\n"
           "\n"
           "For scripts and long runs:\n"
           "  -o -                   write the WAV to standard output (one INPUT); its\n"
           "                         header states the length the selection and rate give\n"
           "      --stream N         convert sound stream N (0, the default, is the first;\n"
           "                         --probe lists them)\n"
           "  -t, --duration TIME    selection length from its start (not with -e)\n"
           "      --files-from LIST  more inputs, one path a line (- reads standard input);\n"
           "                         blank lines are ignored\n"
           "      --skip-existing    an output that is already a complete WAV of the chosen\n"
           "                         format counts as done; any other existing output is\n"
           "                         converted again and replaced\n"
           "      --report FILE      append one JSON line per input as it ends: input,\n"
           "                         output, status, exit, frames, seconds, wall_seconds,\n"
           "                         message\n"
           "\n"
           "TIME is seconds with an optional fraction (12.5) or [HH:]MM:SS[.fff].\n"
           "-s, -e and -t apply to every INPUT; an end past a file's length is its end.\n"
           "\n"
           "Progress goes to stderr, one \"Done. Output File: PATH\" line per file written\n"
           "to stdout (to stderr with -o -). A file that fails does not stop the others; a\n"
           "summary line counts them. Two inputs that would have the same output: the\n"
           "later one is refused.\n"
           "\n"
           "Examples:\n"
           "  veltrano-convert -o song.wav song.mp3\n"
           "  veltrano-convert -r 22050 -c 1 -s 1:30 -e 2:00 -o part.wav film.mp4\n"
           "  veltrano-convert -r 96000 -b 24 -c source -o film.wav film.mkv\n"
           "  veltrano-convert -y -j 2 -d wav/ music/*.flac\n"
           "  veltrano-convert --stream 1 -s 10 -t 30 -o - film.mkv | sox -t wav - out.flac\n"
           "  ls *.flac | veltrano-convert --skip-existing -d wav/ --files-from -\n"
           "\n"
           "Exit status:\n"
           "  0    every file was converted (or, with --skip-existing, was complete)\n"
           "  2    bad arguments, a list that cannot be read, or a selection that ends\n"
           "       before it starts or starts past the end of the media\n"
           "  3    an input cannot be opened or measured, is not a regular file, has no\n"
           "       sound, or has no sound stream N\n"
           "  4    an output is refused: it exists (without -y), is an input, is also an\n"
           "       earlier input's output, its path is longer than 259 bytes, it is not a\n"
           "       regular file (a folder, FIFO or device), its folder does not exist or\n"
           "       cannot be written, the -d folder or the report cannot be written, or\n"
           "       -o - would write to a terminal\n"
           "  5    a conversion failed, or the sound sent to standard output ended before\n"
           "       the selection did (the rest is silence, as its header states)\n"
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
