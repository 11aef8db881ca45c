#include "convert/Progress.h"

#include "source/TimeText.h"

namespace veltrano {

std::optional<std::int64_t> RemainingSeconds(std::int64_t elapsedMs, int percent) {
    if (elapsedMs < 2000 || percent < 1 || percent >= 100) return std::nullopt;
    const std::int64_t remainingMs = elapsedMs * (100 - percent) / percent;
    return (remainingMs + 999) / 1000;
}

QString ProgressText(int percent, std::optional<std::int64_t> remainingSeconds) {
    QString text = QString::number(percent) + QLatin1Char('%');
    if (remainingSeconds)
        text += QStringLiteral(", about ") + HmsText(HmsOfSeconds(static_cast<std::int32_t>(*remainingSeconds))) +
                QStringLiteral(" left");
    return text;
}

}  // namespace veltrano
