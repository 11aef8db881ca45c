#pragma once
// Start-up of the media framework, once, on the user-interface thread, before
// any graph is built.

#include "core/Result.h"

namespace veltrano {

// Initialises GStreamer and ranks the decoders the way the graphs expect.
// Safe to call more than once.
Result InitializeMedia();

// True once InitializeMedia succeeded.
bool MediaInitialized();

}  // namespace veltrano
