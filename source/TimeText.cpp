#include "source/TimeText.h"

#include <cstdio>

namespace veltrano {

Hms HmsOfSeconds(std::int32_t s) { return {s / 3600, (s % 3600) / 60, s % 60}; }

QString HmsText(const Hms& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hours, t.minutes, t.seconds);
    return QString::fromLatin1(buf);
}

QString FileLineText(const QString& fileName, MediaTime position, MediaTime length) {
    return fileName + QStringLiteral("   ") + HmsText(position) + QStringLiteral(" / ") + HmsText(length);
}

}  // namespace veltrano
