#include "media/SampleWindow.h"

#include <algorithm>
#include <cmath>

namespace veltrano {

TrimDecision DecideTrim(std::int64_t windowStart, std::int64_t need, std::int64_t passed, std::int64_t bufferPos,
                        std::int64_t frames) {
    TrimDecision d;
    if (passed >= need) {
        d.reachedEnd = true;
        return d;
    }
    const std::int64_t next = windowStart + passed;
    if (bufferPos > next) d.silenceBefore = std::min(bufferPos - next, need - passed);
    const std::int64_t filled = passed + d.silenceBefore;
    const std::int64_t from = std::max(bufferPos, windowStart + filled);
    const std::int64_t to = std::min(bufferPos + frames, windowStart + need);
    if (to > from) {
        d.keepOffset = from - bufferPos;
        d.keepCount = to - from;
    }
    d.reachedEnd = filled + d.keepCount >= need;
    return d;
}

std::int64_t BufferPosition(std::int64_t streamTimeNs, int rate, bool haveExpected, std::int64_t expected,
                            std::int64_t tolerance) {
    const std::int64_t pos = FramesForDuration(streamTimeNs, rate);
    if (haveExpected && std::llabs(pos - expected) <= tolerance) return expected;
    return pos;
}

std::int64_t FramesForDuration(std::int64_t ns, int rate) {
    const long double v = static_cast<long double>(ns) * rate / 1e9L;
    return static_cast<std::int64_t>(std::llround(v));
}

}  // namespace veltrano
