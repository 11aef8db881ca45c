#include "convert/ConvertChecks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace veltrano {

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
    if (path.empty()) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    const bool isFile = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return isFile;
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

}  // namespace veltrano
