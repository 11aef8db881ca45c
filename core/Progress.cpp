#include "core/Progress.h"

#include "core/TimeText.h"

namespace veltrano {

std::optional<std::int64_t> RemainingSeconds(std::int64_t elapsedMs, int percent) {
    if (elapsedMs < 2000 || percent < 1 || percent >= 100) return std::nullopt;
    const std::int64_t remainingMs = elapsedMs * (100 - percent) / percent;
    return (remainingMs + 999) / 1000;
}

std::string ProgressText(int percent, std::optional<std::int64_t> remainingSeconds) {
    std::string text = std::to_string(percent) + '%';
    if (remainingSeconds)
        text += ", about " + HmsText(HmsOfSeconds(static_cast<std::int32_t>(*remainingSeconds))) + " left";
    return text;
}

}  // namespace veltrano
