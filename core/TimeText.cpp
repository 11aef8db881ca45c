#include "core/TimeText.h"

#include <cstdio>

namespace veltrano {

Hms HmsOfSeconds(std::int32_t s) { return {s / 3600, (s % 3600) / 60, s % 60}; }

std::string HmsText(const Hms& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hours, t.minutes, t.seconds);
    return buf;
}

std::string FileLineText(const std::string& fileName, MediaTime position, MediaTime length) {
    return fileName + "   " + HmsText(position) + " / " + HmsText(length);
}

}  // namespace veltrano
