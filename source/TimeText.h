#pragma once
// The time rule of every time text: whole seconds (truncated) as hours,
// minutes and seconds, "%02d:%02d:%02d" (more hour digits when needed).

#include "platform/MediaTime.h"

#include <QString>

#include <cstdint>

namespace veltrano {

struct Hms {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
};

Hms HmsOfSeconds(std::int32_t wholeSeconds);
inline Hms FormatHms(MediaTime t) { return HmsOfSeconds(WholeSeconds(t)); }

QString HmsText(const Hms& hms);
inline QString HmsText(MediaTime t) { return HmsText(FormatHms(t)); }

// The file information line: "name   position / length".
QString FileLineText(const QString& fileName, MediaTime position, MediaTime length);

}  // namespace veltrano
