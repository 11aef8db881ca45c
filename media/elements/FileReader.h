#pragma once
// The source element of the conversion graph: a file read in large blocks.
// Demuxers pull one sample at a time, a few hundred bytes each; served from
// a block read ahead, a 10-minute AAC track costs a few hundred reads of the
// file instead of tens of thousands.

namespace veltrano {

inline constexpr const char* kFileReaderElementName = "veltranofilesrc";

// Makes the element known to GStreamer; once per process, after gst_init.
bool RegisterFileReaderElement();

}  // namespace veltrano
