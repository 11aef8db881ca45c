#pragma once
// Float sound (full scale +-1.0) made little-endian PCM in the converter's
// output formats, with TPDF dither where samples lose bits. Free of any media
// framework and of Qt.

#include <cstddef>
#include <cstdint>

namespace veltrano {

enum class SampleFormat {
    U8,   // 8 bits, unsigned
    S16,  // 16 bits
    S24,  // 24 bits in 3 bytes
    S32,  // 32 bits
    F32,  // 32-bit float, passed as it is
};

std::size_t BytesPerSample(SampleFormat format);

// Whether float samples lose bits in this format, so that dither applies:
// 8, 16 and 24 bits. A 32-bit integer holds all of a float's 24-bit
// mantissa, and float output is the float itself.
bool LosesBits(SampleFormat format);

enum class Dither {
    Off,   // round to nearest, ties to even
    Tpdf,  // triangular dither of +-1 step peak before rounding
};

// Writes 'samples' floats of a stream as PCM into 'out'
// (samples * BytesPerSample(format) bytes), rounding to nearest and clipping.
// 'position' is the stream index of the first sample (interleaved samples
// since the stream began). With Dither::Tpdf and a format that loses bits,
// each sample off the output's grid gets dither drawn from a fixed seed and
// its position alone: the output is the same run to run and however the
// stream is cut into calls. A sample already on the grid (silence, a 16-bit
// source written at 16 bits) comes out exactly.
void Quantize(const float* in, std::size_t samples, SampleFormat format, Dither dither, std::uint64_t position,
              std::uint8_t* out);

// Quantize on the instructions every machine of the target has, never the
// wider ones Quantize picks where the processor has them: the same bytes,
// slower. What the faster path is checked against.
void QuantizePortable(const float* in, std::size_t samples, SampleFormat format, Dither dither,
                      std::uint64_t position, std::uint8_t* out);

}  // namespace veltrano
