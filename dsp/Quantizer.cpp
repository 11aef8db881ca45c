#include "dsp/Quantizer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace veltrano {

static_assert(std::endian::native == std::endian::little, "samples are stored as the machine holds them");

namespace {

// Four lanes of GCC/Clang vector extensions, the width every 64-bit target
// has natively (SSE2, NEON); eight samples a step are two of them. (Wider
// generic vectors without the instructions for them are split lane by lane.)
// Every helper is inlined, so no vector crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"
#define VELTRANO_INLINE __attribute__((always_inline)) inline
using V4 = float __attribute__((vector_size(16)));
using V4i = std::int32_t __attribute__((vector_size(16)));
using V4u = std::uint32_t __attribute__((vector_size(16)));
using V4s = std::int16_t __attribute__((vector_size(8)));
using V8s = std::int16_t __attribute__((vector_size(16)));
using V4b = std::uint8_t __attribute__((vector_size(4)));
using V8b = std::uint8_t __attribute__((vector_size(8)));
constexpr std::size_t kLanes = 8;

// The dither's generator is counter-based: a sample's two random numbers
// are a hash of its position in the stream, so they do not depend on what
// came before in this call or another, and a fixed seed makes every run the
// same. The hash is Chris Wellons' "lowbias32": consecutive inputs come out
// uncorrelated, in two multiplies that vectorize.
constexpr std::uint32_t kDitherSeed = 0x7ea5c0deu;

template <typename U>
VELTRANO_INLINE U Hash(U x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

// Positions are 64-bit; the hash takes their low 32 bits, salted by a key
// from the high ones, which the caller holds for every 2^32 samples.
VELTRANO_INLINE std::uint32_t KeyFor(std::uint64_t position) {
    return Hash(static_cast<std::uint32_t>(position >> 32) ^ kDitherSeed);
}

// TPDF in steps from one hash: the difference of its two 16-bit halves, two
// independent uniform randoms, is triangular on (-1, 1) with mean zero.
constexpr float kHalfScale = 1.0f / 65536.0f;

VELTRANO_INLINE V4 DitherFour(std::uint32_t low, std::uint32_t key) {
    const V4u h = Hash((low + V4u{0, 1, 2, 3}) ^ key);
    const V4i d = __builtin_convertvector(h & 0xffffu, V4i) - __builtin_convertvector(h >> 16, V4i);
    return __builtin_convertvector(d, V4) * kHalfScale;
}

VELTRANO_INLINE double DitherOne(std::uint32_t low, std::uint32_t key) {
    const std::uint32_t h = Hash(low ^ key);
    return (static_cast<double>(h & 0xffffu) - static_cast<double>(h >> 16)) * kHalfScale;
}

// Round to nearest (ties to even) in plain arithmetic that vectorizes:
// exact for |v| < 2^22 in float, 2^51 in double.
VELTRANO_INLINE V4 RoundSmall(V4 v) {
    constexpr float kMagic = 12582912.0f;  // 1.5 * 2^23
    return (v + kMagic) - kMagic;
}
VELTRANO_INLINE double RoundSmall(double v) {
    constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52
    return (v + kMagic) - kMagic;
}

// Bounds as whole vectors: against a scalar, GCC goes lane by lane.
VELTRANO_INLINE V4 Clamp(V4 v, float lo, float hi) {
    const V4 low = V4{} + lo, high = V4{} + hi;
    v = v < low ? low : v;
    return v > high ? high : v;
}

// A sample already exactly on the output's grid is not dithered. Rounding
// leaves it as it is: there is no error to decorrelate from the signal, and
// dither would only add noise. So digital silence stays digital silence and
// a 16-bit source written at its own rate and width stays bit-exact, and
// the rule looks at the sample alone, never at its neighbours or at where a
// buffer ends. It is sound because TPDF's promise holds for every sample
// that is rounded (an error of mean zero and of a variance that does not
// depend on the signal: no distortion); a sample on the grid just has no
// error at all. Sound that was resampled is nearly never on the grid; where
// part of it is (two 16-bit channels at half weight each), those samples
// are exact and the others dithered, unbiased either way.
VELTRANO_INLINE V4i Level(V4 v, float lo, float hi, bool dither, std::uint32_t low, std::uint32_t key) {
    if (dither) {
        v = Clamp(v, lo, hi);  // so that the rounding below is exact
        const V4 r = RoundSmall(v);
        // The dither is added to the part that rounding drops, which is
        // exact (|f| <= 1/2): added to the whole sample, it would be cut to
        // the sample's own precision, 1/256 step at full scale.
        const V4 f = v - r;
        v = r + RoundSmall(f + (f == V4{} ? V4{} : DitherFour(low, key)));
    } else {
        v = RoundSmall(v);  // far beyond the rails coarse, but clipped all the same
    }
    return __builtin_convertvector(Clamp(v, lo, hi), V4i);
}

// Eight samples to 8 or 16 bits. A tail shorter than eight goes through the
// same code from a padded copy, so every sample gets the same arithmetic
// wherever a buffer ends.
template <int Bits>
VELTRANO_INLINE void QuantizeEight(const float* in, bool dither, std::uint32_t low, std::uint32_t key,
                                   std::uint8_t* out, std::size_t count = kLanes) {
    constexpr float scale = Bits == 8 ? 128.0f : 32768.0f;
    float v[kLanes];
    if (count == kLanes) {
        std::memcpy(v, in, sizeof v);
    } else {
        std::fill(std::copy(in, in + count, v), v + kLanes, 0.0f);
    }
    V4 a, b;
    std::memcpy(&a, v, sizeof a);
    std::memcpy(&b, v + 4, sizeof b);
    const V4i qa = Level(a * scale, -scale, scale - 1.0f, dither, low, key);
    const V4i qb = Level(b * scale, -scale, scale - 1.0f, dither, low + 4, key);
    if constexpr (Bits == 8) {
        const V4b ba = __builtin_convertvector(qa + 128, V4b), bb = __builtin_convertvector(qb + 128, V4b);
        const V8b bytes = __builtin_shufflevector(ba, bb, 0, 1, 2, 3, 4, 5, 6, 7);
        std::memcpy(out, &bytes, count);
    } else {
        const V4s sa = __builtin_convertvector(qa, V4s), sb = __builtin_convertvector(qb, V4s);
        const V8s shorts = __builtin_shufflevector(sa, sb, 0, 1, 2, 3, 4, 5, 6, 7);
        std::memcpy(out, &shorts, count * 2);
    }
}

template <int Bits>
VELTRANO_INLINE void QuantizeShortInline(const float* in, std::size_t samples, bool dither, std::uint32_t low,
                                         std::uint32_t key, std::uint8_t* out) {
    constexpr std::size_t bytes = Bits / 8;
    std::size_t i = 0;
    for (; i + kLanes <= samples; i += kLanes)
        QuantizeEight<Bits>(in + i, dither, low + static_cast<std::uint32_t>(i), key, out + i * bytes);
    if (i < samples)
        QuantizeEight<Bits>(in + i, dither, low + static_cast<std::uint32_t>(i), key, out + i * bytes, samples - i);
}

using ShortKernel = void (*)(const float*, std::size_t, bool, std::uint32_t, std::uint32_t, std::uint8_t*);

template <int Bits>
void QuantizeShortPortable(const float* in, std::size_t samples, bool dither, std::uint32_t low, std::uint32_t key,
                           std::uint8_t* out) {
    QuantizeShortInline<Bits>(in, samples, dither, low, key, out);
}

// The same code built for AVX2, chosen at run time: baseline x86-64 has no
// multiply of four 32-bit lanes, which the dither's hash needs, and emulates
// it. Integer lanes and exact float steps only (no FMA is enabled), so both
// builds give the same bytes; a test holds them to it.
#if defined(__x86_64__) || defined(__i386__)
#define VELTRANO_WIDE_KERNEL 1
template <int Bits>
__attribute__((target("avx2"))) void QuantizeShortAvx2(const float* in, std::size_t samples, bool dither,
                                                        std::uint32_t low, std::uint32_t key, std::uint8_t* out) {
    QuantizeShortInline<Bits>(in, samples, dither, low, key, out);
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

template <int Bits>
ShortKernel ShortKernelFor(bool portable) {
#ifdef VELTRANO_WIDE_KERNEL
    if (!portable && HasAvx2()) return &QuantizeShortAvx2<Bits>;
#endif
    (void)portable;
    return &QuantizeShortPortable<Bits>;
}

// 24 bits in double: a float scaled to 2^23 needs more than float's mantissa
// once dither is added.
void Quantize24(const float* in, std::size_t samples, bool dither, std::uint32_t low, std::uint32_t key,
                std::uint8_t* out) {
    constexpr double lo = -8388608.0, hi = 8388607.0;
    for (std::size_t i = 0; i < samples; ++i) {
        double v = std::clamp(static_cast<double>(in[i]) * 8388608.0, lo, hi);
        if (dither && RoundSmall(v) != v) v += DitherOne(low + static_cast<std::uint32_t>(i), key);
        const auto s = static_cast<std::int32_t>(std::clamp(RoundSmall(v), lo, hi));
        out[3 * i] = static_cast<std::uint8_t>(s);
        out[3 * i + 1] = static_cast<std::uint8_t>(s >> 8);
        out[3 * i + 2] = static_cast<std::uint8_t>(s >> 16);
    }
}

void Quantize32(const float* in, std::size_t samples, std::uint8_t* out) {
    for (std::size_t i = 0; i < samples; ++i) {
        const auto s = static_cast<std::int32_t>(
            RoundSmall(std::clamp(static_cast<double>(in[i]) * 2147483648.0, -2147483648.0, 2147483647.0)));
        std::memcpy(out + 4 * i, &s, 4);
    }
}

}  // namespace

std::size_t BytesPerSample(SampleFormat format) {
    switch (format) {
    case SampleFormat::U8: return 1;
    case SampleFormat::S16: return 2;
    case SampleFormat::S24: return 3;
    case SampleFormat::S32:
    case SampleFormat::F32: return 4;
    }
    return 4;
}

bool LosesBits(SampleFormat format) {
    return format == SampleFormat::U8 || format == SampleFormat::S16 || format == SampleFormat::S24;
}

namespace {

void QuantizeWith(bool portable, const float* in, std::size_t samples, SampleFormat format, Dither dither,
                  std::uint64_t position, std::uint8_t* out) {
    if (format == SampleFormat::F32) {
        std::memcpy(out, in, samples * sizeof(float));
        return;
    }
    if (format == SampleFormat::S32) {
        Quantize32(in, samples, out);
        return;
    }
    const bool dithered = dither == Dither::Tpdf;
    const std::size_t bytes = BytesPerSample(format);
    // In runs that share the high half of their positions, and so one key.
    while (samples > 0) {
        const auto low = static_cast<std::uint32_t>(position);
        const std::size_t run = std::min<std::uint64_t>(samples, (std::uint64_t{1} << 32) - low);
        const std::uint32_t key = KeyFor(position);
        switch (format) {
        case SampleFormat::U8: ShortKernelFor<8>(portable)(in, run, dithered, low, key, out); break;
        case SampleFormat::S16: ShortKernelFor<16>(portable)(in, run, dithered, low, key, out); break;
        default: Quantize24(in, run, dithered, low, key, out); break;
        }
        in += run;
        out += run * bytes;
        samples -= run;
        position += run;
    }
}

}  // namespace

void Quantize(const float* in, std::size_t samples, SampleFormat format, Dither dither, std::uint64_t position,
              std::uint8_t* out) {
    QuantizeWith(false, in, samples, format, dither, position, out);
}

void QuantizePortable(const float* in, std::size_t samples, SampleFormat format, Dither dither,
                      std::uint64_t position, std::uint8_t* out) {
    QuantizeWith(true, in, samples, format, dither, position, out);
}

}  // namespace veltrano
