#pragma once
// The time rule of every time text: whole seconds (truncated) as hours,
// minutes and seconds, "%02d:%02d:%02d" (more hour digits when needed).

#include "core/MediaTime.h"

#include <cstdint>
#include <string>

namespace veltrano {

struct Hms {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
};

Hms HmsOfSeconds(std::int32_t wholeSeconds);
inline Hms FormatHms(MediaTime t) { return HmsOfSeconds(WholeSeconds(t)); }

std::string HmsText(const Hms& hms);
inline std::string HmsText(MediaTime t) { return HmsText(FormatHms(t)); }

// The file information line: "name   position / length".
std::string FileLineText(const std::string& fileName, MediaTime position, MediaTime length);

}  // namespace veltrano
