#pragma once
// Makes a wave file whose writer was cut off (an error, or a stop that could
// not drain in time) readable: its RIFF and data sizes are set to what the
// file holds, and an empty file gets a header of the given format.

#include "core/WaveFormatEx.h"

#include <string>

namespace veltrano {

// False when the path is not a regular file, is not a RIFF WAVE file with a
// data chunk, or cannot be written.
bool FinishWavFile(const std::string& path, const WaveFormatEx& format);

}  // namespace veltrano
