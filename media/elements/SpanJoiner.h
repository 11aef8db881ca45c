#pragma once
// The element that joins the spans of a selection decoded side by side: span
// 0 from the first input, span 1 from the second, and so on in turn. Each
// input marks the last buffer of every span with GST_BUFFER_FLAG_MARKER; the
// stream ends when the input whose turn it is has ended.

namespace veltrano {

inline constexpr const char* kSpanJoinerElementName = "veltranojoin";

// Makes the element known to GStreamer; once per process, after gst_init.
bool RegisterSpanJoinerElement();

}  // namespace veltrano
