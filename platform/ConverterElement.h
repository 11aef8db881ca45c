#pragma once
// The format converter's GStreamer element: interleaved float in, resampled
// and quantized PCM out, in large buffers.

namespace veltrano {

inline constexpr const char* kConverterElementName = "veltranoconvert";

// Makes the element known to GStreamer; once per process, after gst_init.
bool RegisterConverterElement();

}  // namespace veltrano
