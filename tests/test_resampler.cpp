// The converter's arithmetic: resampling exact in length and timing,
// independent of how the input is cut into buffers, clean in and beyond the
// passband; quantization rounding and clipping.

#include "dsp/Resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace veltrano;

namespace {

std::vector<float> Tone(int rate, int channels, double hz, double amplitude, std::size_t frames) {
    std::vector<float> v(frames * static_cast<std::size_t>(channels));
    for (std::size_t n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c)
            v[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(n) / rate + c));
    return v;
}

std::vector<float> Convert(int in, int out, int channels, const std::vector<float>& input, std::size_t chunk) {
    SincResampler r(in, out, channels);
    std::vector<float> result;
    const auto ch = static_cast<std::size_t>(channels);
    for (std::size_t at = 0; at < input.size(); at += chunk * ch)
        r.Process(input.data() + at, std::min(chunk, (input.size() - at) / ch), result);
    r.Finish(result);
    EXPECT_EQ(r.Produced(), result.size() / ch);
    return result;
}

// Level in dB (relative to 1.0) of what is left of 'output' (channel 0) once
// the ideal tone is taken away, over the frames away from both ends.
double ResidualDb(const std::vector<float>& output, int channels, int rate, double hz, double amplitude) {
    double err = 0;
    std::size_t count = 0;
    const std::size_t frames = output.size() / static_cast<std::size_t>(channels);
    for (std::size_t n = 200; n + 200 < frames; ++n, ++count) {
        const double ideal = amplitude * std::sin(2 * M_PI * hz * static_cast<double>(n) / rate);
        const double d = output[n * static_cast<std::size_t>(channels)] - ideal;
        err += d * d;
    }
    return 10 * std::log10(err / static_cast<double>(count) + 1e-30);
}

}  // namespace

TEST(Resampler, LengthTimingAndBufferingDoNotChangeTheResult) {
    struct Case {
        int in, out, channels;
    };
    // Down, up, a ratio with many phases (interpolated table), and channel
    // counts on the vector and the plain paths.
    for (const Case c : {Case{48000, 44100, 2}, Case{48000, 22050, 1}, Case{22050, 48000, 2}, Case{44100, 44099, 1},
                         Case{48000, 32000, 6}, Case{32000, 44100, 4}}) {
        SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out) + " x" + std::to_string(c.channels));
        const std::size_t frames = static_cast<std::size_t>(c.in) / 2 + 7;
        const std::vector<float> input = Tone(c.in, c.channels, 440.0, 0.5, frames);
        const std::vector<float> whole = Convert(c.in, c.out, c.channels, input, frames);
        // Every output instant before the input's end, no more.
        const auto expected = static_cast<std::size_t>(
            (static_cast<unsigned long long>(frames) * static_cast<unsigned>(c.out) + static_cast<unsigned>(c.in) - 1) /
            static_cast<unsigned>(c.in));
        EXPECT_EQ(whole.size(), expected * static_cast<std::size_t>(c.channels));
        for (std::size_t chunk : {std::size_t{1}, std::size_t{37}, std::size_t{1152}}) {
            const std::vector<float> pieces = Convert(c.in, c.out, c.channels, input, chunk);
            ASSERT_EQ(pieces.size(), whole.size()) << chunk;
            EXPECT_EQ(std::memcmp(pieces.data(), whole.data(), whole.size() * sizeof(float)), 0) << chunk;
        }
        // No delay: every channel follows its own tone from the first frame on.
        EXPECT_LT(ResidualDb(whole, c.channels, c.out, 440.0, 0.5), -90.0);
    }
}

TEST(Resampler, ConstantStaysConstantAndEqualRatesPassUntouched) {
    std::vector<float> dc(20000, 0.25f);
    const std::vector<float> out = Convert(48000, 44100, 1, dc, 999);
    for (std::size_t n = 100; n + 100 < out.size(); ++n) ASSERT_NEAR(out[n], 0.25f, 1e-6f) << n;

    const std::vector<float> input = Tone(44100, 2, 1000.0, 0.9, 5000);
    EXPECT_EQ(Convert(44100, 44100, 2, input, 300), input);
}

TEST(Resampler, TonesInThePassbandAreCleanAndAboveItAreRemoved) {
    // A 1 kHz tone at -3 dBFS, 48 kHz to 44.1 kHz and 22.05 kHz: the error
    // stays below what 16 bits can carry.
    const double a = std::pow(10.0, -3.0 / 20);
    const std::vector<float> tone = Tone(48000, 1, 1000.0, a, 48000);
    EXPECT_LT(ResidualDb(Convert(48000, 44100, 1, tone, 4096), 1, 44100, 1000.0, a), -105.0);
    EXPECT_LT(ResidualDb(Convert(48000, 22050, 1, tone, 4096), 1, 22050, 1000.0, a), -105.0);
    // 20 kHz cannot be held at 22.05 kHz: nothing of it may fold back.
    const std::vector<float> high = Convert(48000, 22050, 1, Tone(48000, 1, 20000.0, a, 48000), 4096);
    EXPECT_LT(ResidualDb(high, 1, 22050, 0.0, 0.0), -95.0);
    // 18 kHz at 44.1 kHz is still in the passband, within 0.1 dB.
    const std::vector<float> top = Convert(48000, 44100, 1, Tone(48000, 1, 18000.0, 0.5, 48000), 4096);
    double peak = 0;
    for (std::size_t n = 200; n + 200 < top.size(); ++n) peak = std::max(peak, std::abs(double{top[n]}));
    EXPECT_NEAR(20 * std::log10(peak / 0.5), 0.0, 0.1);
}

// Long runs go eight samples at a time: every sample, in the runs and in the
// tail, comes out as one rounded alone would, ties to even.
TEST(Quantize, RunsMatchSampleBySampleRounding) {
    std::vector<float> in;
    for (int k = -70000; k <= 70000; k += 7) in.push_back(float(k) / 65536.0f);  // halves and clipping
    in.push_back(-0.0f);
    ASSERT_NE(in.size() % 8, 0u);
    for (int bits : {8, 16}) {
        std::vector<std::uint8_t> out(in.size() * 2);
        QuantizeSamples(in.data(), in.size(), bits, out.data());
        const double scale = bits == 8 ? 128.0 : 32768.0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const long want = std::lround(std::clamp(std::nearbyint(double(in[i]) * scale), -scale, scale - 1));
            long got = 0;
            if (bits == 8) {
                got = long(out[i]) - 128;
            } else {
                std::int16_t v;
                std::memcpy(&v, out.data() + 2 * i, 2);
                got = v;
            }
            ASSERT_EQ(got, want) << bits << " bits, sample " << i << " = " << in[i];
        }
    }
}

TEST(Quantize, RoundsToNearestAndClipsInEveryWidth) {
    const std::vector<float> in = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -2.0f, 1.4f / 32768.0f, 1.6f / 32768.0f};
    std::vector<std::uint8_t> out(in.size() * 4);

    QuantizeSamples(in.data(), in.size(), 16, out.data());
    std::vector<std::int16_t> s16(in.size());
    std::memcpy(s16.data(), out.data(), s16.size() * 2);
    EXPECT_EQ(s16, (std::vector<std::int16_t>{0, 16384, -16384, 32767, -32768, 32767, -32768, 1, 2}));

    QuantizeSamples(in.data(), in.size(), 8, out.data());
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 7),
              (std::vector<std::uint8_t>{128, 192, 64, 255, 0, 255, 0}));

    QuantizeSamples(in.data(), 5, 24, out.data());
    auto s24 = [&](int i) {
        const std::int32_t v = out[3 * i] | (out[3 * i + 1] << 8) | (out[3 * i + 2] << 16);
        return v >= 0x800000 ? v - 0x1000000 : v;
    };
    EXPECT_EQ(s24(1), 4194304);
    EXPECT_EQ(s24(3), 8388607);
    EXPECT_EQ(s24(4), -8388608);

    QuantizeSamples(in.data(), 5, 32, out.data());
    std::int32_t s32[5];
    std::memcpy(s32, out.data(), sizeof s32);
    EXPECT_EQ(s32[1], 1073741824);
    EXPECT_EQ(s32[3], 2147483647);
    EXPECT_EQ(s32[4], -2147483647 - 1);
}
