#include "core/WaveFormatEx.h"

#include <cstdio>

namespace veltrano {

WaveFormatEx MakePcmFormat(std::uint32_t samplesPerSec, std::uint16_t channels, std::uint16_t bitsPerSample) {
    WaveFormatEx f;
    f.nChannels = channels;
    f.nSamplesPerSec = samplesPerSec;
    f.wBitsPerSample = bitsPerSample;
    f.nBlockAlign = static_cast<std::uint16_t>(bitsPerSample / 8 * channels);
    f.nAvgBytesPerSec = static_cast<std::uint32_t>(std::uint64_t{f.nBlockAlign} * samplesPerSec);
    return f;
}

WaveFormatEx WithChannels(WaveFormatEx f, std::uint16_t channels) {
    f.nChannels = channels;
    f.nBlockAlign = static_cast<std::uint16_t>(f.wBitsPerSample / 8 * channels);
    f.nAvgBytesPerSec = static_cast<std::uint32_t>(std::uint64_t{f.nBlockAlign} * f.nSamplesPerSec);
    return f;
}

std::optional<std::string> PcmFormatProblem(const WaveFormatEx& f) {
    char text[200];
    if (f.wFormatTag != WAVE_FORMAT_PCM && f.wFormatTag != WAVE_FORMAT_IEEE_FLOAT) {
        std::snprintf(text, sizeof text, "The format tag %u is neither PCM nor IEEE float.", unsigned{f.wFormatTag});
        return text;
    }
    if (f.nChannels > 8) {
        std::snprintf(text, sizeof text, "PCM cannot carry %u channels (1 to 8).", unsigned{f.nChannels});
        return text;
    }
    if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample != 32) {
        std::snprintf(text, sizeof text, "Float samples are 32 bits, not %u.", unsigned{f.wBitsPerSample});
        return text;
    }
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16 && f.wBitsPerSample != 24 && f.wBitsPerSample != 32) {
        std::snprintf(text, sizeof text, "PCM cannot carry %u bits per sample (8, 16, 24 or 32).",
                      unsigned{f.wBitsPerSample});
        return text;
    }
    if (f.nSamplesPerSec < 1 || f.nSamplesPerSec > kMaxConverterSamplesPerSec) {
        std::snprintf(text, sizeof text, "The converter cannot produce %u samples per second (1 to %u).",
                      unsigned{f.nSamplesPerSec}, unsigned{kMaxConverterSamplesPerSec});
        return text;
    }
    if (f.nBlockAlign != f.wBitsPerSample / 8 * f.nChannels ||
        std::uint64_t{f.nAvgBytesPerSec} != std::uint64_t{f.nBlockAlign} * f.nSamplesPerSec) {
        return std::string("The block size or bytes per second do not match the other fields of the format.");
    }
    if (f.cbSize != 0) return std::string("A PCM format carries no extra format bytes.");
    return std::nullopt;
}

}  // namespace veltrano
