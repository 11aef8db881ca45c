#pragma once
// The format converter's GStreamer element: interleaved float in, resampled
// and quantized PCM out, in large buffers.

#include <gst/audio/audio.h>

namespace veltrano {

inline constexpr const char* kConverterElementName = "veltranoconvert";

// Stereo with left and right in their places: wanted as mono, the converter
// folds it itself, so the mixing stage ahead of it lets it through.
bool IsPositionedStereo(const GstAudioInfo& info);

// Makes the element known to GStreamer; once per process, after gst_init.
bool RegisterConverterElement();

}  // namespace veltrano
