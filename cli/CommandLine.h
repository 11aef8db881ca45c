#pragma once
// The command line of veltrano-convert, parsed without side effects.

#include "core/MediaTime.h"
#include "core/WaveFormat.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

enum ConvertExitStatus : int {
    kExitDone = 0,
    kExitBadArguments = 2,
    kExitInputUnusable = 3,    // cannot be opened, measured, is no regular file, or lacks the sound stream
    kExitOutputRefused = 4,    // exists without -y, is the input, too long a path, its folder cannot be written
    kExitConversionFailed = 5, // or the sound sent to standard output ended early
    kExitInterrupted = 130,    // stopped by Ctrl+C; the file is complete up to there
};
// With several inputs the status is 0 when every file was converted, 130 when
// Ctrl+C stopped the run, and otherwise the highest status of the files that
// were not converted (so one bad file makes it non-zero).

struct ConvertOptions {
    std::vector<std::string> inputs;  // in command-line order
    std::string output;               // -o: the output of a single input
    std::string outputDir;            // -d: the folder the outputs are named into
    std::optional<int> jobs;          // files converted at once; the number of cores when not given
    int rate = 44100;
    int channels = 2;  // 1, 2, or kSourceChannels (-c source)
    int bits = 16;     // 8, 16, 24 or 32
    SampleKind sampleKind = SampleKind::Integer;  // Float: -b 32f
    MediaTime start = 0;
    std::optional<MediaTime> end;  // the exact end of the media when not given
    bool overwrite = false;
    bool probe = false;
    bool quiet = false;
    bool dither = true;  // TPDF dither where samples lose bits
    bool tags = true;    // the source's tags go into the file
    bool help = false;
    bool version = false;

    // For scripts and runs over archives.
    int stream = 0;                     // --stream: the sound stream converted, counted from 0
    std::optional<MediaTime> duration;  // -t: the selection's length from its start (not with -e)
    std::string filesFrom;              // --files-from: more inputs, one a line ("-": standard input)
    bool skipExisting = false;          // --skip-existing: a complete output counts as done
    std::string report;                 // --report: one JSON line per input, appended
};

// "-o -": the WAV goes to standard output.
inline constexpr const char* kStandardOutputName = "-";
inline bool WritesToStandardOutput(const ConvertOptions& options) { return options.output == kStandardOutputName; }

struct ParsedCommandLine {
    bool ok = false;
    ConvertOptions options;
    std::string error;  // why the arguments were refused
};

// args are the arguments after the program name. With --files-from the
// inputs are judged once the list is read (InputsRefusal).
ParsedCommandLine ParseConvertArguments(const std::vector<std::string>& args);

// Why the inputs (the command line's and the list's together) do not fit the
// outputs asked for, or "" when they do.
std::string InputsRefusal(const ConvertOptions& options);

// The paths of a --files-from list: one a line, a CR before the newline
// dropped, blank lines ignored; anything else is a path as it stands.
std::vector<std::string> ParseFileList(std::string_view text);

// Seconds with an optional fraction ("12.5") or [HH:]MM:SS[.fff], to 100 ns;
// nothing for a malformed time or one past kMaxTimeArgumentHours.
std::optional<MediaTime> ParseTimeArgument(std::string_view text);
// No media is this long; the limit keeps every sum of times far from overflow.
inline constexpr std::int64_t kMaxTimeArgumentHours = 100000;

std::string ConvertUsageText();

// "length: SECONDS" (three decimals) and "whole: HH:MM:SS" (whole seconds, truncated).
std::string ProbeReportText(MediaTime length);

// The format the options ask for; the rate is checked by the caller.
OutputWaveFormat OutputFormatFor(const ConvertOptions& options);

}  // namespace veltrano
