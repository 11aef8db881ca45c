#pragma once
// How far a conversion is, as the dialog's progress bar shows it.

#include <cstdint>
#include <optional>
#include <string>

namespace veltrano {

// The time still to go, once it can be estimated: at least two seconds have
// passed and some of the selection is written. Whole seconds, rounded up.
std::optional<std::int64_t> RemainingSeconds(std::int64_t elapsedMs, int percent);

// The progress bar's text: the percentage, and the time left when known.
std::string ProgressText(int percent, std::optional<std::int64_t> remainingSeconds);

}  // namespace veltrano
