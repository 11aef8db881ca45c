#pragma once
// The format converter's GStreamer element: interleaved float in, resampled
// (libsoxr) and quantized PCM or float out, in large buffers. Its boolean
// property "dither" (on by default) puts TPDF dither where bits are dropped.

#include <gst/audio/audio.h>

namespace veltrano {

inline constexpr const char* kConverterElementName = "veltranoconvert";

// Stereo with left and right in their places: wanted as mono, the converter
// folds it itself, so the mixing stage ahead of it lets it through.
bool IsPositionedStereo(const GstAudioInfo& info);

// Makes the element known to GStreamer; once per process, after gst_init.
bool RegisterConverterElement();

}  // namespace veltrano
