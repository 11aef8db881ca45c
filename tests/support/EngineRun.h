#pragma once
// Runs one conversion through the engine, as a front end does, to its end.

#include "engine/ConversionEngine.h"

namespace veltrano::test {

// Starts the conversion and runs the event loop until it ends. With
// stopAfterMs >= 0 it presses Stop that long after the start; with
// onceWriting, not before some sound is written (a slower build, with
// sanitizers, may have written nothing yet). timeoutMs only guards against
// a hang. False when the engine did not start.
bool RunConversion(ConversionEngine& engine, const ConversionRequest& request, int stopAfterMs = -1,
                   bool onceWriting = false, int timeoutMs = 60000);

}  // namespace veltrano::test
