#pragma once
// Test media made once per test process, in a temporary folder that goes with
// the process: each file is generated on first use and then reused.

#include "tests/support/TestMedia.h"

#include <string>

namespace veltrano::test {

// A tone of the given kind and length (48 kHz stereo, 440 Hz).
std::string CachedTone(AudioKind kind, double seconds);
// An H.264 video with or without AAC sound, SMPTE bars.
std::string CachedVideo(int width, int height, double seconds, bool withAudio);
// Broken and unplayable files.
std::string CachedZeroByteFile();
std::string CachedTextFileNamedMp3();
std::string CachedTruncatedVideo();
std::string CachedSubtitleOnlyFile();  // a Matroska file with a text track and nothing else
// A path in the folder that does not exist.
std::string MissingFile();

}  // namespace veltrano::test
