#pragma once
// The output wave format choice: the rows of the three format lists, the
// custom rate's number parsing, and the five PCM numbers derived from them.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

struct OutputWaveFormat {
    std::uint32_t nSamplesPerSec = 44100;
    std::uint16_t nChannels = 2;
    std::uint16_t wBitsPerSample = 16;
    std::uint16_t nBlockAlign = 4;
    std::uint32_t nAvgBytesPerSec = 176400;
    friend bool operator==(const OutputWaveFormat&, const OutputWaveFormat&) = default;
};

inline constexpr int kCustomRateRow = 6;

inline constexpr std::array<const char*, 7> kSamplesPerSecRows = {"48000", "44100", "32000", "22050",
                                                                  "11025", "8000",  "Custom define"};
inline constexpr std::array<int, 6> kSamplesPerSecValues = {48000, 44100, 32000, 22050, 11025, 8000};
inline constexpr std::array<const char*, 2> kChannelRows = {"Stereo", "Mono"};
inline constexpr std::array<const char*, 2> kBitsPerSampleRows = {"16", "8"};

// Rows are those of the lists (-1: no row selected). A rate row outside the
// list gives 44100; a channel row other than 1 gives stereo; a bits row other
// than 1 gives 16 bits. The custom rate is taken as it is (the caller has
// refused numbers of 0 or less); its 32-bit product is checked separately.
OutputWaveFormat ComputeOutputWaveFormat(int indexSamplesPerSec, int indexChannels, int indexBitsPerSample,
                                         int customSamplesPerSec);

// The custom rate edit's text as a number: at most the first 127 characters,
// leading white space and one sign accepted, reading stops at the first other
// character, no digits give 0. A number beyond 32 bits saturates.
int ParseCustomSamplesPerSec(std::string_view text);

// When the chosen format cannot be stated in a wave header (its bytes per
// second pass 32 bits) or produced by the converter, the message that refuses it.
std::optional<std::string> WaveFormatRefusal(int indexSamplesPerSec, int indexChannels, int indexBitsPerSample,
                                             int customSamplesPerSec);

}  // namespace veltrano
