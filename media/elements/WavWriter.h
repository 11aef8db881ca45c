#pragma once
// The WAV writer: a sink element of our own taking interleaved PCM (8, 16,
// 24 or 32 bits, or 32-bit float; 1 to 8 channels) and the stream's tags.
//
// To a file ("location"), it writes a temporary file beside the output (the
// file a symbolic link leads to) and renames it over the output once the
// stream has ended, so a conversion that fails or is torn down leaves the
// old file as it was. GStreamer sends an end of stream after an error
// upstream too, so an application that reads its bus turns "commit-on-eos"
// off and commits once it has seen the end without an error. To a descriptor ("fd") the header states the expected
// length from the start and a stream that ends short is made up with
// silence. The header is chosen before the first sample: RF64 when the
// expected length would come near the 4 GB of a RIFF file.

#include <gst/gst.h>

#include <cstdint>
#include <string>

namespace veltrano {

inline constexpr const char* kWavWriterElementName = "veltranowavsink";

// Makes the element known to GStreamer; once per process, after gst_init.
bool RegisterWavWriterElement();

// Whether the file has replaced the output (or, to a descriptor, the stream
// has been written whole).
bool WavWriterCommitted(GstElement* writer);

// Frames of silence added to make up a short stream written to a descriptor.
std::uint64_t WavWriterPaddedFrames(GstElement* writer);

// Asks the writer to keep what it has written when it stops without the end
// of the stream (instead of removing it), for the caller to finish the part
// file and commit it. Call before the stop.
void WavWriterKeepPart(GstElement* writer);

// The temporary file being written, finished or kept; empty when there is
// none (never begun, committed or removed).
std::string WavWriterPartPath(GstElement* writer);

// Renames the file over the output: one finished at the end of the stream
// (with "commit-on-eos" off), or a part kept at a stop and since finished.
// False, with the reason, when there is none.
bool WavWriterCommit(GstElement* writer, std::string& error);

}  // namespace veltrano
