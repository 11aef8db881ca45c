#pragma once
// The checks and texts of a conversion that both front ends (the dialog and
// the command-line converter) apply, as pure functions.

#include "app/WaveFormat.h"
#include "platform/MediaTime.h"

#include <cstdint>
#include <string>

namespace veltrano {

inline constexpr const char* kOpenMediaFirstText = "Please open an media file first!";
inline constexpr const char* kEndBeforeStartText = "The End Time must be bigger than the Start Time";
inline constexpr const char* kRateTooSmallText = "Sample per second is too small";
inline constexpr const char* kOutputIsSourceText =
    "The output file is the media file being converted. Replacing it would destroy the media; please choose "
    "another output file.";
inline constexpr const char* kNoSoundStreamText =
    "The media file has no sound stream that can be converted. Please open a file with sound.";

// "%s exists. Do you want to replace it?"
std::string ReplaceQuestionText(const std::string& path);
// "Done. Output File: %s"
std::string DoneText(const std::string& path);
// "Please wait... Used Time: %02d:%02d:%02d" from a count of seconds.
std::string UsedTimeText(int seconds);
// The box and the status line after a conversion stopped on an error.
std::string ConversionFailedText(const std::string& systemText);
std::string ConversionFailedStatusText(const std::string& systemText);

// True when a file can be opened for reading at the path (a folder is not a file).
bool FileExists(const std::string& path);

// True when both paths name one existing file, through links or relative
// paths alike.
bool NamesSameFile(const std::string& a, const std::string& b);

// Frames a selection yields at a rate: round(length x rate).
std::uint64_t OutputFrames(MediaTime length, std::uint32_t samplesPerSec);

}  // namespace veltrano
