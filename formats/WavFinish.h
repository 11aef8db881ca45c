#pragma once
// Makes a wave file whose writer was cut off (a stop that could not drain in
// time) readable: its sizes are set to the whole frames the file holds, a
// frame cut in half is dropped, and an empty file gets a header of the given
// format. RIFF and RF64 files alike.

#include "core/WaveFormatEx.h"

#include <string>

namespace veltrano {

// False when the path is not a regular file, is not a WAV file with a data
// chunk, or cannot be written.
bool FinishWavFile(const std::string& path, const WaveFormatEx& format);

}  // namespace veltrano
