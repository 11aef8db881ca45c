#pragma once
// Measuring a media file on a throw-away graph: its length and which kinds of
// streams it has. Nothing is decoded; a raw MP3's length comes from its own
// frames, without the encoder delay and padding when the file states them.

#include "core/MediaTime.h"
#include "core/Result.h"

#include <string>

namespace veltrano {

struct MediaProbe {
    MediaTime stopPosition = 0;  // the media's length
    bool hasAudio = false;       // a sound stream that an installed decoder can decode
    bool hasVideo = false;
};

enum class ProbeStep {
    Render,        // the file cannot be opened or decoded at all
    Seeking,       // no stream can be positioned in time
    StopPosition,  // the length is not known
};

// path is UTF-8. On failure *failedStep says which step failed.
Result ProbeMedia(const std::string& path, MediaProbe& out, ProbeStep* failedStep = nullptr);

}  // namespace veltrano
