#pragma once
// The conversion graph's reader for a raw MPEG layer III file (an .mp3): it
// finds every frame by the stream's own headers, so a seek starts at the
// exact frame and timestamps count samples, and decodes with libavcodec,
// whose output a few frames after any start is the same to the bit as
// decoding from the file's start. So a long file can be decoded in spans,
// side by side, and joined without a seam.

#include "platform/Mp3Stream.h"

#include <cstddef>
#include <vector>

namespace veltrano {

inline constexpr const char* kMp3ReaderElementName = "veltranomp3src";

// Makes the element known to GStreamer (rank none: only the conversion graph
// makes it); once per process, after gst_init.
bool RegisterMp3ReaderElement();

// Whether the decoder library loads; loads it on the first call.
bool Mp3ReaderAvailable();

// The frame to start decoding at so that frame 'first' comes out exact: its
// predecessor must decode whole (the overlap of the two), and that one's
// main data may begin up to 511 bytes back, in frames before it.
std::size_t RunInStart(const std::vector<Mp3FrameRef>& frames, std::size_t first);

}  // namespace veltrano
