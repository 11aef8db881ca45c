#pragma once
// Measuring a media file on a throw-away graph: its length and which kinds of
// streams it has. Nothing is decoded; a raw MP3's length comes from its own
// frames, without the encoder delay and padding when the file states them.

#include "core/MediaTime.h"
#include "core/Result.h"

#include <string>
#include <vector>

namespace veltrano {

// A sound stream as the file describes it. Streams count from 0 in the order
// the parser exposes them, the order a conversion's stream number counts in.
struct SoundStreamInfo {
    std::string codec;       // "Vorbis", "MPEG-4 AAC", ...
    int rate = 0;            // 0 where the file does not say before decoding
    int channels = 0;
    std::string language;    // an ISO 639 code, when the file states one
    std::string title;       // the stream's own title, when it has one
    bool decodable = false;  // an installed decoder takes it
    MediaTime length = 0;    // 0 when the stream does not state it
};

struct MediaProbe {
    MediaTime stopPosition = 0;  // the media's length
    bool hasAudio = false;       // a sound stream that an installed decoder can decode
    bool hasVideo = false;
    std::vector<SoundStreamInfo> soundStreams;  // every sound stream, decodable or not
};

enum class ProbeStep {
    Render,        // the file cannot be opened or decoded at all
    Seeking,       // no stream can be positioned in time
    StopPosition,  // the length is not known
};

// "The media file has no sound stream 2; it has 2 (0 to 1)."
std::string NoSoundStreamText(int stream, int streams);

// path is UTF-8. On failure *failedStep says which step failed.
Result ProbeMedia(const std::string& path, MediaProbe& out, ProbeStep* failedStep = nullptr);

}  // namespace veltrano
