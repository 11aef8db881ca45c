#pragma once
// The system's time unit: 100-nanosecond ticks, as positions and lengths are
// kept everywhere above platform/. Conversion to GStreamer nanoseconds happens
// only at platform/'s edge.

#include <cstdint>

namespace veltrano {

using MediaTime = std::int64_t;

inline constexpr MediaTime kUnitsPerSecond = 10'000'000;

constexpr std::int64_t MediaTimeToNanoseconds(MediaTime t) { return t * 100; }
constexpr MediaTime NanosecondsToMediaTime(std::int64_t ns) { return ns / 100; }

// Whole seconds, truncated toward zero, as a 32-bit value (the time rule of the
// dialog's time texts).
constexpr std::int32_t WholeSeconds(MediaTime t) {
    return static_cast<std::int32_t>(t / kUnitsPerSecond);
}

}  // namespace veltrano
