#pragma once
// The output wave format choice: the rows of the three format lists, the
// custom rate's number parsing, and the PCM numbers derived from them.

#include "core/WaveFormatEx.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// How the samples are stored: integers of wBitsPerSample, or 32-bit IEEE float.
enum class SampleKind : std::uint8_t { Integer, Float };

// nChannels 0: the source's own channels (1 to 8), known once the sound
// arrives; nBlockAlign and nAvgBytesPerSec are then 0 as well.
inline constexpr std::uint16_t kSourceChannels = 0;
// The most channels written; a source with more is mixed down to 7.1.
inline constexpr std::uint16_t kMaxOutputChannels = 8;

struct OutputWaveFormat {
    std::uint32_t nSamplesPerSec = 44100;
    std::uint16_t nChannels = 2;
    std::uint16_t wBitsPerSample = 16;
    std::uint16_t nBlockAlign = 4;
    std::uint32_t nAvgBytesPerSec = 176400;
    SampleKind kind = SampleKind::Integer;
    bool SourceChannels() const { return nChannels == kSourceChannels; }
    friend bool operator==(const OutputWaveFormat&, const OutputWaveFormat&) = default;
};

// The format block of a choice: integer PCM or float, as a header states it
// (block and bytes per second 0 for the source's channels).
WaveFormatEx WaveFormatExOf(const OutputWaveFormat& f);

// A consistent format: block and bytes per second from the other numbers
// (both 0 for the source's channels). Float is always 32 bits.
OutputWaveFormat MakeOutputWaveFormat(std::uint32_t samplesPerSec, std::uint16_t channels,
                                      std::uint16_t bitsPerSample, SampleKind kind = SampleKind::Integer);

inline constexpr int kCustomRateRow = 6;

inline constexpr std::array<const char*, 7> kSamplesPerSecRows = {"48000", "44100", "32000", "22050",
                                                                  "11025", "8000",  "Custom define"};
inline constexpr std::array<int, 6> kSamplesPerSecValues = {48000, 44100, 32000, 22050, 11025, 8000};
// Rows are only ever added at the end: stored settings hold row numbers.
inline constexpr std::array<const char*, 3> kChannelRows = {"Stereo", "Mono", "Same as source"};
inline constexpr int kSourceChannelsRow = 2;
inline constexpr std::array<const char*, 4> kBitsPerSampleRows = {"16", "8", "24", "32 (float)"};

// Rows are those of the lists (-1: no row selected). A rate row outside the
// list gives 44100; a channel row other than 1 (mono) or 2 (the source's)
// gives stereo; a bits row other than 1 (8), 2 (24) or 3 (32-bit float)
// gives 16 bits. The custom rate is taken as it is (the caller has refused
// numbers of 0 or less); its 32-bit product is checked separately.
OutputWaveFormat ComputeOutputWaveFormat(int indexSamplesPerSec, int indexChannels, int indexBitsPerSample,
                                         int customSamplesPerSec);

// The custom rate edit's text as a number: at most the first 127 characters,
// leading white space and one sign accepted, reading stops at the first other
// character, no digits give 0. A number beyond 32 bits saturates.
int ParseCustomSamplesPerSec(std::string_view text);

// When the format cannot be stated in a wave header (its bytes per second
// pass 32 bits) or produced by the converter, the message that refuses it.
// The source's channels count as the most there can be: the check is made
// before the source is decoded, and no rate the converter produces is
// refused for it.
std::optional<std::string> WaveFormatRefusal(const OutputWaveFormat& format);

}  // namespace veltrano
