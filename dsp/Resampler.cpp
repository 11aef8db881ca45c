#include "dsp/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace veltrano {

namespace {

// Where the filter cuts, as a share of the lower of the two Nyquist
// frequencies, and how many zero crossings of its sinc each side it keeps:
// flat to 18 kHz at 44.1 kHz, 95 dB down from just past Nyquist.
constexpr double kCutoff = 0.91;
constexpr double kZeroCrossings = 27.0;
constexpr double kKaiserBeta = 9.5;
// Ratios with more phases than this are served by a finer grid of this many
// phases, interpolated linearly between its rows.
constexpr std::int64_t kMaxExactPhases = 4096;
constexpr int kGridPhases = 1024;
constexpr std::size_t kLanes = 8;
// History is trimmed once this many frames lie behind the filter.
constexpr std::int64_t kCompactFrames = 8192;

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// Built twice, for AVX2 machines and the rest, and picked at load time by an
// ifunc: only with GCC on x86-64, as clang 14 refuses these clones and the
// sanitizers' runtimes crash in the ifunc resolver, which runs before them.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__) && !defined(VELTRANO_SANITIZED)
#define VELTRANO_WIDEST_VECTORS __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define VELTRANO_WIDEST_VECTORS
#endif

// Eight floats: one AVX register, or two SSE ones on older machines. The
// helpers are inlined, so no vector crosses a call and the ABI note is moot.
#pragma GCC diagnostic ignored "-Wpsabi"
using V8 = float __attribute__((vector_size(32)));
using V4 = float __attribute__((vector_size(16)));

__attribute__((always_inline)) inline V8 Load8(const float* p) {
    V8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Eight lanes summed, in registers: a store and eight scalar loads per
// frame cost as much as a third of the products.
__attribute__((always_inline)) inline float SumLanes(V8 acc) {
    const V4 half = V4{acc[0], acc[1], acc[2], acc[3]} + V4{acc[4], acc[5], acc[6], acc[7]};
    const float pair0 = half[0] + half[2], pair1 = half[1] + half[3];
    return pair0 + pair1;
}

// One channel of one output frame: the dot product of a coefficient row with
// the channel's input window, over the row's length, padded to whole
// vectors. Two accumulators keep the multiply-adds from waiting on each
// other; more made the loop slower (measured).
__attribute__((always_inline)) inline float DotOne(const float* x, const float* row, std::size_t length) {
    V8 even = {}, odd = {};
    std::size_t i = 0;
    for (; i + 2 * kLanes <= length; i += 2 * kLanes) {
        even += Load8(x + i) * Load8(row + i);
        odd += Load8(x + i + kLanes) * Load8(row + i + kLanes);
    }
    if (i < length) even += Load8(x + i) * Load8(row + i);
    return SumLanes(even + odd);
}

// Both channels of a stereo frame, each coefficient loaded once for the two:
// a quarter fewer loads than running the channels apart.
__attribute__((always_inline)) inline void DotTwo(const float* l, const float* r, const float* row, std::size_t length,
                                                  float* y) {
    V8 l0 = {}, l1 = {}, r0 = {}, r1 = {};
    std::size_t i = 0;
    for (; i + 2 * kLanes <= length; i += 2 * kLanes) {
        const V8 c0 = Load8(row + i), c1 = Load8(row + i + kLanes);
        l0 += Load8(l + i) * c0;
        l1 += Load8(l + i + kLanes) * c1;
        r0 += Load8(r + i) * c0;
        r1 += Load8(r + i + kLanes) * c1;
    }
    if (i < length) {
        const V8 c = Load8(row + i);
        l0 += Load8(l + i) * c;
        r0 += Load8(r + i) * c;
    }
    y[0] = SumLanes(l0 + l1);
    y[1] = SumLanes(r0 + r1);
}

// The history is one plane per channel; every channel uses the same row.
template <int C>
__attribute__((always_inline)) inline void Dot(const float* const* planes, std::size_t offset, const float* row,
                                               std::size_t length, int channels, float* y) {
    if constexpr (C == 2) {
        DotTwo(planes[0] + offset, planes[1] + offset, row, length, y);
    } else {
        const int n = C == 0 ? channels : C;
        for (int c = 0; c < n; ++c) y[c] = DotOne(planes[c] + offset, row, length);
    }
}

// Left and right apart, four frames at a time (one shuffle each on any x86).
void SplitStereo(const float* in, std::size_t frames, float* l, float* r) {
    std::size_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        V4 a, b;
        std::memcpy(&a, in + 2 * i, sizeof a);
        std::memcpy(&b, in + 2 * i + 4, sizeof b);
        const V4 left = __builtin_shufflevector(a, b, 0, 2, 4, 6);
        const V4 right = __builtin_shufflevector(a, b, 1, 3, 5, 7);
        std::memcpy(l + i, &left, sizeof left);
        std::memcpy(r + i, &right, sizeof right);
    }
    for (; i < frames; ++i) {
        l[i] = in[2 * i];
        r[i] = in[2 * i + 1];
    }
}

struct ConvolveJob {
    const float* const* planes;
    std::int64_t historyStart;
    const float* table;
    std::size_t rowLength;
    int channels;
    int half;
    std::int64_t phases, stepInt, stepFrac;
    bool interpolate;
    std::int64_t center, phase;  // in and out
};

// The frame loop for C channels (0: any count) and one way of finding the
// row, both fixed at compile time so that nothing is decided per frame. The
// position lives in locals: stepping it through the job in memory made every
// frame wait on a store it had just made.
template <int C, bool Interpolate>
__attribute__((always_inline)) inline void ConvolveFrames(ConvolveJob& j, std::size_t count, float* y) {
    const auto ch = static_cast<std::size_t>(j.channels);
    const std::size_t rowLength = j.rowLength;
    const std::int64_t phases = j.phases, stepInt = j.stepInt, stepFrac = j.stepFrac;
    const float* const table = j.table;
    const std::int64_t origin = j.historyStart + j.half - 1;  // the center whose window starts the history
    std::int64_t center = j.center, phase = j.phase;
    float second[8];
    for (std::size_t n = 0; n < count; ++n, y += ch) {
        const auto offset = static_cast<std::size_t>(center - origin);
        if constexpr (!Interpolate) {
            Dot<C>(j.planes, offset, table + static_cast<std::size_t>(phase) * rowLength, rowLength, j.channels, y);
        } else {
            const double grid = static_cast<double>(phase) * kGridPhases / static_cast<double>(phases);
            const auto row = static_cast<std::size_t>(grid);
            const auto t = static_cast<float>(grid - static_cast<double>(row));
            Dot<C>(j.planes, offset, table + row * rowLength, rowLength, j.channels, y);
            Dot<C>(j.planes, offset, table + (row + 1) * rowLength, rowLength, j.channels, second);
            for (std::size_t c = 0; c < ch; ++c) y[c] += t * (second[c] - y[c]);
        }
        phase += stepFrac;
        const std::int64_t wrap = phase >= phases ? 1 : 0;
        phase -= wrap * phases;
        center += stepInt + wrap;
    }
    j.center = center;
    j.phase = phase;
}

template <int C>
__attribute__((always_inline)) inline void ConvolveChannels(ConvolveJob& j, std::size_t count, float* y) {
    if (j.interpolate) ConvolveFrames<C, true>(j, count, y);
    else ConvolveFrames<C, false>(j, count, y);
}

// Puts out 'count' frames into y; built for the machine's widest vectors.
VELTRANO_WIDEST_VECTORS void Convolve(ConvolveJob& j, std::size_t count, float* y) {
    switch (j.channels) {
    case 1: return ConvolveChannels<1>(j, count, y);
    case 2: return ConvolveChannels<2>(j, count, y);
    default: return ConvolveChannels<0>(j, count, y);
    }
}

}  // namespace

SincResampler::SincResampler(int inRate, int outRate, int channels)
    : inRate_(std::max(1, inRate)), outRate_(std::max(1, outRate)), channels_(std::clamp(channels, 1, 8)) {
    if (Passthrough()) return;
    const std::int64_t g = std::gcd(static_cast<std::int64_t>(inRate_), static_cast<std::int64_t>(outRate_));
    phases_ = outRate_ / g;
    const std::int64_t step = inRate_ / g;
    stepInt_ = step / phases_;
    stepFrac_ = step % phases_;
    BuildTable();
    // Silence before the first frame, so the first output sees a full window.
    historyStart_ = -half_;
    historyFrames_ = half_;
    history_.assign(static_cast<std::size_t>(channels_),
                    std::vector<float>(static_cast<std::size_t>(historyFrames_) + kLanes, 0.0f));
}

void SincResampler::BuildTable() {
    const double band = kCutoff * std::min(1.0, static_cast<double>(outRate_) / inRate_);
    half_ = static_cast<int>(std::ceil(kZeroCrossings / band));
    taps_ = 2 * half_;
    rowLength_ = (static_cast<std::size_t>(taps_) + kLanes - 1) / kLanes * kLanes;
    interpolate_ = phases_ > kMaxExactPhases;
    tableRows_ = interpolate_ ? kGridPhases + 1 : static_cast<int>(phases_);
    table_.assign(static_cast<std::size_t>(tableRows_) * rowLength_, 0.0f);
    const double i0beta = BesselI0(kKaiserBeta);
    std::vector<double> h(static_cast<std::size_t>(taps_));
    for (int r = 0; r < tableRows_; ++r) {
        const double frac = interpolate_ ? static_cast<double>(r) / kGridPhases : static_cast<double>(r) / phases_;
        double sum = 0.0;
        for (int k = 0; k < taps_; ++k) {
            const double x = k - half_ + 1 - frac;  // distance from the output instant, in input frames
            const double u = band * x;
            const double sinc = std::abs(u) < 1e-12 ? 1.0 : std::sin(M_PI * u) / (M_PI * u);
            const double w = x / half_;
            const double window = std::abs(w) >= 1.0 ? 0.0 : BesselI0(kKaiserBeta * std::sqrt(1.0 - w * w)) / i0beta;
            h[static_cast<std::size_t>(k)] = band * sinc * window;
            sum += h[static_cast<std::size_t>(k)];
        }
        // Unity gain at DC for every phase: a constant stays exactly constant.
        float* row = table_.data() + static_cast<std::size_t>(r) * rowLength_;
        for (int k = 0; k < taps_; ++k)
            row[static_cast<std::size_t>(k)] = static_cast<float>(h[static_cast<std::size_t>(k)] / sum);
    }
}

void SincResampler::Process(const float* in, std::size_t frames, std::vector<float>& out) {
    if (finished_ || frames == 0) return;
    const auto ch = static_cast<std::size_t>(channels_);
    inputFrames_ += static_cast<std::int64_t>(frames);
    if (Passthrough()) {
        out.insert(out.end(), in, in + frames * ch);
        produced_ += frames;
        return;
    }
    // Split into the channels' planes, each followed by a vector of zeros
    // for the last window's padded read.
    const auto kept = static_cast<std::size_t>(historyFrames_);
    for (std::vector<float>& plane : history_) {
        plane.resize(kept + frames + kLanes);
        std::fill_n(plane.data() + kept + frames, kLanes, 0.0f);
    }
    if (ch == 1) {
        std::memcpy(history_[0].data() + kept, in, frames * sizeof(float));
    } else if (ch == 2) {
        SplitStereo(in, frames, history_[0].data() + kept, history_[1].data() + kept);
    } else {
        for (std::size_t c = 0; c < ch; ++c)
            for (std::size_t i = 0; i < frames; ++i) history_[c][kept + i] = in[i * ch + c];
    }
    historyFrames_ += static_cast<std::int64_t>(frames);
    Produce(out, historyStart_ + historyFrames_ - 1);
    Compact();
}

void SincResampler::Finish(std::vector<float>& out) {
    if (finished_) return;
    finished_ = true;
    if (Passthrough()) return;
    // Every output instant before the end of the input.
    const std::int64_t whole = inputFrames_ / inRate_, rest = inputFrames_ % inRate_;
    const auto total = static_cast<std::uint64_t>(whole * outRate_ + (rest * outRate_ + inRate_ - 1) / inRate_);
    if (produced_ >= total) return;
    // Silence after the end, for the last windows.
    const auto frames = static_cast<std::size_t>(historyFrames_ + half_);
    for (std::vector<float>& plane : history_) plane.resize(frames + kLanes, 0.0f);
    historyFrames_ += half_;
    Emit(out, static_cast<std::size_t>(total - produced_));
}

void SincResampler::Produce(std::vector<float>& out, std::int64_t lastUsable) {
    // Frames whose window ends inside the history, counted without stepping.
    const std::int64_t lastCenter = lastUsable - half_;
    if (center_ > lastCenter) return;
    // Output frames n >= 0 from now have centers center_ + floor((phase_ + n*step)/phases_).
    const std::int64_t step = stepInt_ * phases_ + stepFrac_;
    const std::int64_t reach = (lastCenter - center_) * phases_ + (phases_ - 1 - phase_);
    Emit(out, static_cast<std::size_t>(reach / step + 1));
}

void SincResampler::Emit(std::vector<float>& out, std::size_t count) {
    const std::size_t at = out.size();
    out.resize(at + count * static_cast<std::size_t>(channels_));
    const float* planes[8];
    for (std::size_t c = 0; c < history_.size(); ++c) planes[c] = history_[c].data();
    ConvolveJob j{planes,    historyStart_, table_.data(), rowLength_, channels_, half_, phases_,
                  stepInt_, stepFrac_,     interpolate_,  center_,    phase_};
    Convolve(j, count, out.data() + at);
    center_ = j.center;
    phase_ = j.phase;
    produced_ += count;
}

void SincResampler::Compact() {
    const std::int64_t firstNeeded = center_ - half_ + 1;
    const std::int64_t drop = firstNeeded - historyStart_;
    if (drop < kCompactFrames || drop * 2 < historyFrames_) return;
    for (std::vector<float>& plane : history_)
        plane.erase(plane.begin(), plane.begin() + static_cast<std::ptrdiff_t>(drop));
    historyStart_ += drop;
    historyFrames_ -= drop;
}

// Round to nearest (ties to even) for |v| < 2^22, in plain arithmetic the
// compiler vectorizes, where a rounding call per sample would not be.
template <typename T>
__attribute__((always_inline)) inline T RoundSmall(T v) {
    constexpr float kMagic = 12582912.0f;  // 1.5 * 2^23
    return (v + kMagic) - kMagic;
}

// Eight samples at a time to 8 or 16 bits, by the same arithmetic as one at
// a time: scale, clip, round, and narrow a value that is already whole.
using V8i = int __attribute__((vector_size(32)));
using V8s = short __attribute__((vector_size(16)));
using V8b = unsigned char __attribute__((vector_size(8)));

__attribute__((always_inline)) inline V8i QuantizeEight(const float* in, float scale, float lo, float hi) {
    V8 v = Load8(in) * scale;
    v = v < lo ? lo : v;
    v = v > hi ? hi : v;
    return __builtin_convertvector(RoundSmall(v), V8i);
}

// Returns how many leading samples were done; the rest go one at a time.
VELTRANO_WIDEST_VECTORS std::size_t QuantizeVector(const float* in, std::size_t samples, int bits,
                                                   std::uint8_t* out) {
    std::size_t i = 0;
    if (bits == 16) {
        for (; i + kLanes <= samples; i += kLanes) {
            const V8s s = __builtin_convertvector(QuantizeEight(in + i, 32768.0f, -32768.0f, 32767.0f), V8s);
            std::memcpy(out + 2 * i, &s, sizeof s);  // little-endian machine
        }
    } else if (bits == 8) {
        for (; i + kLanes <= samples; i += kLanes) {
            const V8b b = __builtin_convertvector(QuantizeEight(in + i, 128.0f, -128.0f, 127.0f) + 128, V8b);
            std::memcpy(out + i, &b, sizeof b);
        }
    }
    return i;
}

void QuantizeSamples(const float* in, std::size_t samples, int bits, std::uint8_t* out) {
    const std::size_t done = QuantizeVector(in, samples, bits, out);
    in += done;
    samples -= done;
    out += done * static_cast<std::size_t>(bits / 8);
    switch (bits) {
    case 8:
        for (std::size_t i = 0; i < samples; ++i) {
            const float v = RoundSmall(std::clamp(in[i] * 128.0f, -128.0f, 127.0f));
            out[i] = static_cast<std::uint8_t>(static_cast<int>(v) + 128);
        }
        break;
    case 16:
        for (std::size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<std::int16_t>(RoundSmall(std::clamp(in[i] * 32768.0f, -32768.0f, 32767.0f)));
            std::memcpy(out + 2 * i, &v, 2);  // little-endian machine
        }
        break;
    case 24:
        for (std::size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<std::int32_t>(
                std::clamp(std::nearbyint(static_cast<double>(in[i]) * 8388608.0), -8388608.0, 8388607.0));
            out[3 * i] = static_cast<std::uint8_t>(v);
            out[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            out[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
        }
        break;
    default:
        for (std::size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<std::int32_t>(
                std::clamp(std::nearbyint(static_cast<double>(in[i]) * 2147483648.0), -2147483648.0, 2147483647.0));
            std::memcpy(out + 4 * i, &v, 4);
        }
        break;
    }
}

}  // namespace veltrano
