#pragma once
// Whether an output already there is a finished conversion (--skip-existing):
// a WAV file of the chosen format whose data fills it exactly. A writer
// killed half-way leaves only its part file (NAME.wav.part-XXXXXX), never
// NAME.wav; anything else at NAME.wav that is not whole is converted again.

#include "core/WaveFormatEx.h"
#include "formats/WavHeader.h"

#include <cstdint>
#include <optional>
#include <string>

namespace veltrano {

// The frames of a parsed file that is complete in the format: samples of
// its kind (integer PCM, or float for the float tag), rate, channels and bits, the data chunk's size a whole number of frames
// reaching exactly to the file's end (a pad byte after odd data allowed),
// and the RIFF size stating the file's size.
std::optional<std::uint64_t> CompleteWavFrames(const wav::ParseResult& parsed, std::uint64_t fileSize,
                                               const WaveFormatEx& format);

// The same for the regular file at path (read, never opened for writing);
// nothing for anything else, or when it cannot be read.
std::optional<std::uint64_t> CompleteWavFileFrames(const std::string& path, const WaveFormatEx& format);

}  // namespace veltrano
