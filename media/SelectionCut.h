#pragma once
// media/-internal: the selection cut. Probes on a branch's decoded stream
// that seek to the selection, keep exactly its frames in timeline time, hand
// them on in batches and end the stream when the selection is complete.

#include "media/FrontEnd.h"

namespace veltrano {

// Blocking probe: holds the first buffer until the seek to the selection is made.
GstPadProbeReturn HoldFirstBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data);
// Buffers and events of the decoded stream, cut to the selection.
GstPadProbeReturn CutSelection(GstPad* pad, GstPadProbeInfo* info, gpointer data);

}  // namespace veltrano
