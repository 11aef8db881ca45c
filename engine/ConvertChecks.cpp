#include "engine/ConvertChecks.h"

#include "core/OutputFile.h"
#include "core/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace veltrano {

std::string OutputIsOtherInputText(const std::string& otherInput) {
    return "The output file is " + otherInput +
           ", another media file of this run. Replacing it would destroy the media; please choose another "
           "output folder.";
}

std::string ReplaceQuestionText(const std::string& path) { return path + " exists. Do you want to replace it?"; }

std::string DoneText(const std::string& path) { return "Done. Output File: " + path; }

std::string UsedTimeText(int seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "Please wait... Used Time: %02d:%02d:%02d", seconds / 3600, (seconds % 3600) / 60,
                  seconds % 60);
    return text;
}

std::string ConversionFailedText(const std::string& systemText) { return "The conversion failed: " + systemText; }

std::string ConversionFailedStatusText(const std::string& systemText) {
    return "Conversion failed: " + systemText;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<std::string> OutputFolderRefusal(const std::string& output) {
    // The new file is made beside the file the path leads to, and renamed over it.
    OutputTarget target;
    std::string refusal;
    if (!ResolveOutputTarget(output, target, refusal)) return refusal;
    const std::size_t slash = target.path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : target.path.substr(0, slash);
    struct stat st {};
    int error = 0;
    if (::stat(folder.c_str(), &st) != 0) error = errno;
    else if (!S_ISDIR(st.st_mode)) error = ENOTDIR;
    else if (::access(folder.c_str(), W_OK | X_OK) != 0) error = errno;
    if (error == 0) return std::nullopt;
    return "Cannot write " + output + ": " + std::strerror(error) + ".";
}

bool NamesSameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::uint64_t OutputFrames(MediaTime length, std::uint32_t samplesPerSec) {
    if (length <= 0) return 0;
    const long double frames = static_cast<long double>(length) * samplesPerSec / kUnitsPerSecond;
    return static_cast<std::uint64_t>(std::llround(frames));
}

std::optional<ConvertRefusal> CheckConversion(const ConvertCheckInput& in,
                                              const std::function<bool(const std::string&)>& askReplace) {
    using C = ConvertCheck;
    if (!in.mediaOpen) return ConvertRefusal{C::MediaOpen, kOpenMediaFirstText};
    // A path the buffer cannot hold is refused, never cut.
    if (!in.outputIsStream && !FitsPathBuffer(in.output))
        return ConvertRefusal{C::OutputPathLength, kOutputPathTooLongText};
    if (!(in.endTime > in.startTime)) return ConvertRefusal{C::Selection, kEndBeforeStartText};
    // Before anything could replace the output: it must not be the media
    // itself, nor another of the run, and the media must have sound.
    const bool file = !in.outputIsStream;
    if (file && in.audioCount > 0 && NamesSameFile(in.output, in.source))
        return ConvertRefusal{C::OutputIsSource, kOutputIsSourceText};
    for (const std::string& other : in.otherInputs)
        if (file && NamesSameFile(in.output, other))
            return ConvertRefusal{C::OutputIsOtherInput, OutputIsOtherInputText(other)};
    if (in.audioCount > 0 && !in.hasSound) return ConvertRefusal{C::Sound, kNoSoundStreamText};
    // Only a regular file can be replaced; anything else is refused where the
    // question would come, without ever being opened.
    if (const auto refusal = file ? OutputFileRefusal(in.output) : std::nullopt)
        return ConvertRefusal{C::OutputKind, *refusal};
    // Nothing is asked, or built, for a file that could not be written.
    if (const auto refusal = file ? OutputFolderRefusal(in.output) : std::nullopt)
        return ConvertRefusal{C::OutputFolder, *refusal};
    if (file && FileExists(in.output) && !askReplace(ReplaceQuestionText(in.output)))
        return ConvertRefusal{C::Replace, {}};
    if (in.customSamplesPerSec <= 0) return ConvertRefusal{C::Rate, kRateTooSmallText};
    if (const auto refusal = WaveFormatRefusal(in.format)) return ConvertRefusal{C::FormatRange, *refusal};
    return std::nullopt;
}

}  // namespace veltrano
