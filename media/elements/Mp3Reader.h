#pragma once
// The conversion graph's reader for a raw MPEG layer III file (an .mp3): it
// finds every frame by the stream's own headers, so a seek starts at the
// exact frame and timestamps count samples, and decodes with libavcodec,
// whose output a few frames after any start is the same to the bit as
// decoding from the file's start. So a long file can be decoded in spans,
// side by side, and joined without a seam.

#include "formats/Mp3Stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _GstElement GstElement;

namespace veltrano {

inline constexpr const char* kMp3ReaderElementName = "veltranomp3src";

// Makes the element known to GStreamer (rank none: only the conversion graph
// makes it); once per process, after gst_init.
bool RegisterMp3ReaderElement();

// Whether the decoder library loads; loads it on the first call.
bool Mp3ReaderAvailable();

// What the reader reads a file by: its stream and every audio frame.
struct Mp3FrameTable {
    Mp3StreamInfo info;
    std::vector<Mp3FrameRef> frames;
};

// The table of a stream analysed with its frames; null unless it is layer III.
std::shared_ptr<const Mp3FrameTable> Mp3FrameTableOf(const Mp3StreamInfo& info, std::vector<Mp3FrameRef> frames);

// The table of a layer III file; null when the file is not one.
std::shared_ptr<const Mp3FrameTable> ReadMp3FrameTable(const std::string& path);

// Hands a reader the table of its file, read already, so that it does not
// read it again; without one, it reads the table when it starts.
void SetMp3ReaderTable(GstElement* reader, std::shared_ptr<const Mp3FrameTable> table);

// The frame to start decoding at so that frame 'first' comes out exact: its
// predecessor must decode whole (the overlap of the two), and that one's
// main data may begin up to 'backReference' bytes back, in the main data of
// the frames before it; twice that, and a few frames at least, for margin.
std::size_t RunInStart(const std::vector<Mp3FrameRef>& frames, std::size_t first, std::uint32_t frameOverhead,
                       std::uint32_t backReference);

}  // namespace veltrano
