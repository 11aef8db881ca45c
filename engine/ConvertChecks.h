#pragma once
// The checks before a conversion and the texts of a conversion, one copy
// for both front ends (the dialog and veltrano-convert).

#include "core/WaveFormat.h"
#include "core/MediaTime.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veltrano {

inline constexpr const char* kOpenMediaFirstText = "Please open an media file first!";
inline constexpr const char* kEndBeforeStartText = "The End Time must be bigger than the Start Time";
inline constexpr const char* kRateTooSmallText = "Sample per second is too small";
inline constexpr const char* kOutputIsSourceText =
    "The output file is the media file being converted. Replacing it would destroy the media; please choose "
    "another output file.";
inline constexpr const char* kNoSoundStreamText =
    "The media file has no sound stream that can be converted. Please open a file with sound.";

// Another input of the same run is the output.
std::string OutputIsOtherInputText(const std::string& otherInput);
// "%s exists. Do you want to replace it?"
std::string ReplaceQuestionText(const std::string& path);
// "Done. Output File: %s"
std::string DoneText(const std::string& path);
// "Please wait... Used Time: %02d:%02d:%02d" from a count of seconds.
std::string UsedTimeText(int seconds);
// The box and the status line after a conversion stopped on an error.
std::string ConversionFailedText(const std::string& systemText);
std::string ConversionFailedStatusText(const std::string& systemText);

// True when something other than a folder is at the path (through links).
// Whether it can be read does not matter: a file the user may not read is
// there all the same, and replacing it needs the user's yes.
bool FileExists(const std::string& path);

// Why the folder the output is written in (through its links) cannot take
// it, "Cannot write /x/y.wav: No such file or directory.", or nothing.
std::optional<std::string> OutputFolderRefusal(const std::string& output);

// True when both paths name one existing file, through links or relative
// paths alike.
bool NamesSameFile(const std::string& a, const std::string& b);

// Frames a selection yields at a rate: round(length x rate).
std::uint64_t OutputFrames(MediaTime length, std::uint32_t samplesPerSec);

// What the checks before a conversion look at.
struct ConvertCheckInput {
    bool mediaOpen = true;  // a media file is open (the dialog may have none)
    std::string output;     // the output path as given
    bool outputIsStream = false;  // written to an open descriptor: no file to check
    std::string source;     // the media file converted
    int audioCount = 1;
    MediaTime startTime = 0;
    MediaTime endTime = 0;
    bool hasSound = true;                  // the media's probe found a sound stream
    std::vector<std::string> otherInputs;  // other media of the same run: no output may replace one
    // The format chosen, and the custom rate's number, which must be above
    // 0 whichever rate was chosen.
    OutputWaveFormat format;
    int customSamplesPerSec = 44100;
};

// The checks, in the order they are made.
enum class ConvertCheck {
    MediaOpen,
    OutputPathLength,
    Selection,
    OutputIsSource,
    OutputIsOtherInput,
    Sound,
    OutputKind,  // the output is a folder, FIFO, socket or device
    OutputFolder,  // the output's folder does not exist or cannot be written
    Replace,     // the output exists and was not to be replaced (the text is empty)
    Rate,
    FormatRange,
};

struct ConvertRefusal {
    ConvertCheck check;
    std::string text;
};

// Runs the checks before a conversion in their order and returns the first
// refusal. askReplace is asked whether an existing output may be replaced
// once the new one is written (the dialog asks the user; the command line
// answers from -y) with the question's text.
std::optional<ConvertRefusal> CheckConversion(const ConvertCheckInput& in,
                                              const std::function<bool(const std::string&)>& askReplace);

}  // namespace veltrano
