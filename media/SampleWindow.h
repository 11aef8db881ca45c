#pragma once
// Sample arithmetic of a group's front end: which part of a decoded buffer
// belongs to the selection, counted in the source's own samples.

#include <cstdint>

namespace veltrano {

struct TrimDecision {
    std::int64_t silenceBefore = 0;  // frames of silence to put out first (a hole in the stream)
    std::int64_t keepOffset = 0;     // first frame of the buffer to keep
    std::int64_t keepCount = 0;      // frames of the buffer to keep
    bool reachedEnd = false;         // the window is full after this
};

// The window holds 'need' frames from input position windowStart; 'passed'
// have gone out. A buffer of 'frames' frames starts at input position
// bufferPos. Holes are filled with silence, overlaps dropped.
TrimDecision DecideTrim(std::int64_t windowStart, std::int64_t need, std::int64_t passed, std::int64_t bufferPos,
                        std::int64_t frames);

// A buffer's position in frames from its stream time, snapped to the running
// count when within 'tolerance' frames of it, so timestamp rounding in
// containers never shifts the sound.
std::int64_t BufferPosition(std::int64_t streamTimeNs, int rate, bool haveExpected, std::int64_t expected,
                            std::int64_t tolerance);

// Frames of a length of time at a rate, rounded to the nearest frame.
std::int64_t FramesForDuration(std::int64_t ns, int rate);

}  // namespace veltrano
