#include "core/WaveFormat.h"

#include "core/WaveFormatEx.h"

#include <climits>
#include <cstdio>

namespace veltrano {

namespace {
std::uint16_t ChannelsOf(int row) {
    if (row == 1) return 1;
    if (row == kSourceChannelsRow) return kSourceChannels;
    return 2;
}
std::uint16_t BitsOf(int row) {
    switch (row) {
    case 1: return 8;
    case 2: return 24;
    case 3: return 32;
    default: return 16;
    }
}
SampleKind KindOf(int bitsRow) { return bitsRow == 3 ? SampleKind::Float : SampleKind::Integer; }
std::uint32_t RateOf(int row, int custom) {
    if (row >= 0 && row < static_cast<int>(kSamplesPerSecValues.size()))
        return static_cast<std::uint32_t>(kSamplesPerSecValues[static_cast<std::size_t>(row)]);
    if (row == kCustomRateRow) return static_cast<std::uint32_t>(custom);
    return 44100;
}
}  // namespace

WaveFormatEx WaveFormatExOf(const OutputWaveFormat& f) {
    WaveFormatEx x;
    x.wFormatTag = f.kind == SampleKind::Float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    x.nChannels = f.nChannels;
    x.nSamplesPerSec = f.nSamplesPerSec;
    x.nAvgBytesPerSec = f.nAvgBytesPerSec;
    x.nBlockAlign = f.nBlockAlign;
    x.wBitsPerSample = f.wBitsPerSample;
    return x;
}

OutputWaveFormat MakeOutputWaveFormat(std::uint32_t samplesPerSec, std::uint16_t channels,
                                      std::uint16_t bitsPerSample, SampleKind kind) {
    OutputWaveFormat f;
    f.nSamplesPerSec = samplesPerSec;
    f.nChannels = channels;
    f.kind = kind;
    f.wBitsPerSample = kind == SampleKind::Float ? 32 : bitsPerSample;
    f.nBlockAlign = static_cast<std::uint16_t>(f.wBitsPerSample / 8 * f.nChannels);
    f.nAvgBytesPerSec = static_cast<std::uint32_t>(std::uint64_t{f.nBlockAlign} * f.nSamplesPerSec);
    return f;
}

OutputWaveFormat ComputeOutputWaveFormat(int indexSamplesPerSec, int indexChannels, int indexBitsPerSample,
                                         int customSamplesPerSec) {
    return MakeOutputWaveFormat(RateOf(indexSamplesPerSec, customSamplesPerSec), ChannelsOf(indexChannels),
                                BitsOf(indexBitsPerSample), KindOf(indexBitsPerSample));
}

int ParseCustomSamplesPerSec(std::string_view text) {
    text = text.substr(0, 127);
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::optional<std::string> WaveFormatRefusal(const OutputWaveFormat& format) {
    const std::uint64_t rate = format.nSamplesPerSec;
    const std::uint64_t channels = format.SourceChannels() ? kMaxOutputChannels : format.nChannels;
    const std::uint64_t block = std::uint64_t{format.wBitsPerSample} / 8 * channels;
    char text[256];
    if (block == 0 || rate * block <= UINT32_MAX) {
        // A rate the converter cannot produce is refused, never written at another one.
        if (rate <= kMaxConverterSamplesPerSec) return std::nullopt;
        std::snprintf(text, sizeof text, "The converter cannot produce %llu samples per second (1 to %u).",
                      static_cast<unsigned long long>(rate), unsigned{kMaxConverterSamplesPerSec});
        return std::string(text);
    }
    std::snprintf(text, sizeof text,
                  "Sample per second is too large: %llu samples per second of %llu bytes each do not fit in a "
                  "wave file (at most %llu samples per second).",
                  static_cast<unsigned long long>(rate), static_cast<unsigned long long>(block),
                  static_cast<unsigned long long>(UINT32_MAX / block));
    return std::string(text);
}

}  // namespace veltrano
