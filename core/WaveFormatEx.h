#pragma once
// The format block a converter reports and accepts: the fields of a
// WAVEFORMATEX, PCM or IEEE float.

#include <cstdint>
#include <optional>
#include <string>

namespace veltrano {

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

struct WaveFormatEx {
    std::uint16_t wFormatTag = WAVE_FORMAT_PCM;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
    friend bool operator==(const WaveFormatEx&, const WaveFormatEx&) = default;
};

// The highest rate the format converter produces.
inline constexpr std::uint32_t kMaxConverterSamplesPerSec = 768000;

// A consistent PCM block for the given numbers.
WaveFormatEx MakePcmFormat(std::uint32_t samplesPerSec, std::uint16_t channels, std::uint16_t bitsPerSample);

// The format with another channel count, its block and bytes per second to match.
WaveFormatEx WithChannels(WaveFormatEx f, std::uint16_t channels);

// Why the converter cannot put out this format, or nothing when it can: PCM
// of 8, 16, 24 or 32 bits, or 32-bit IEEE float, 1 to 8 channels. 0 channels
// asks for the source's own, with a block and bytes per second of 0 until
// they are known.
std::optional<std::string> PcmFormatProblem(const WaveFormatEx& f);

}  // namespace veltrano
