// The converter's arithmetic: resampling by libsoxr, exact in length and
// timing, independent of how the input is cut into buffers, flat to 20 kHz
// and clean beyond; quantization rounding, clipping and dithering, with
// silence and on-step samples kept exactly.

#include "dsp/Quantizer.h"
#include "dsp/Resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace veltrano;

namespace {

constexpr ResampleQuality kQualities[] = {ResampleQuality::High, ResampleQuality::VeryHigh};

const char* Name(ResampleQuality q) { return q == ResampleQuality::High ? "HQ" : "VHQ"; }

std::vector<float> Tone(int rate, int channels, double hz, double amplitude, std::size_t frames) {
    std::vector<float> v(frames * static_cast<std::size_t>(channels));
    for (std::size_t n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c)
            v[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(n) / rate + c));
    return v;
}

// Feeds 'input' in pieces of the given lengths, taken in turn.
std::vector<float> Convert(int in, int out, int channels, ResampleQuality quality, const std::vector<float>& input,
                           const std::vector<std::size_t>& pieces) {
    Resampler r(in, out, channels, quality);
    EXPECT_STREQ(r.Error(), "");
    std::vector<float> result;
    const auto ch = static_cast<std::size_t>(channels);
    const std::size_t frames = input.size() / ch;
    std::size_t at = 0;
    for (std::size_t k = 0; at < frames; ++k) {
        const std::size_t n = std::min(pieces[k % pieces.size()], frames - at);
        EXPECT_TRUE(r.Process(input.data() + at * ch, n, result));
        at += n;
    }
    EXPECT_TRUE(r.Finish(result));
    EXPECT_EQ(r.Produced(), result.size() / ch);
    return result;
}

std::vector<float> Convert(int in, int out, int channels, ResampleQuality quality, const std::vector<float>& input) {
    return Convert(in, out, channels, quality, input, {4096});
}

// Frames left out at both ends of a measurement: the filters ring there, on
// the tone's abrupt start and end.
constexpr std::size_t kEdge = 4096;

// Amplitude of the sine at 'hz' that best fits channel 0 of 'x' away from
// its ends (least squares, with a constant term), and the power left over.
struct Fit {
    double amplitude = 0, residual = 0;
};

Fit FitSine(const std::vector<float>& x, int channels, int rate, double hz) {
    const auto ch = static_cast<std::size_t>(channels);
    const std::size_t frames = x.size() / ch;
    double ss = 0, cc = 0, sc = 0, s1 = 0, c1 = 0, xs = 0, xc = 0, x1 = 0, n = 0;
    const double w = 2 * M_PI * hz / rate;
    for (std::size_t i = kEdge; i + kEdge < frames; ++i, ++n) {
        const double s = std::sin(w * double(i)), c = std::cos(w * double(i)), v = x[i * ch];
        ss += s * s, cc += c * c, sc += s * c, s1 += s, c1 += c, xs += v * s, xc += v * c, x1 += v;
    }
    const double A[3][3] = {{ss, sc, s1}, {sc, cc, c1}, {s1, c1, n}}, B[3] = {xs, xc, x1};
    auto det = [](const double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    double coef[3];
    for (int k = 0; k < 3; ++k) {
        double M[3][3];
        std::memcpy(M, A, sizeof M);
        for (int r = 0; r < 3; ++r) M[r][k] = B[r];
        coef[k] = det(M) / det(A);
    }
    Fit f;
    f.amplitude = std::hypot(coef[0], coef[1]);
    for (std::size_t i = kEdge; i + kEdge < frames; ++i) {
        const double d = x[i * ch] - (coef[0] * std::sin(w * double(i)) + coef[1] * std::cos(w * double(i)) + coef[2]);
        f.residual += d * d;
    }
    f.residual /= n;
    return f;
}

// Power of channel 0 away from the ends.
double Power(const std::vector<float>& x, int channels) {
    const auto ch = static_cast<std::size_t>(channels);
    const std::size_t frames = x.size() / ch;
    double sum = 0;
    for (std::size_t i = kEdge; i + kEdge < frames; ++i) sum += double(x[i * ch]) * x[i * ch];
    return sum / double(frames - 2 * kEdge);
}

double Db(double powerRatio) { return 10 * std::log10(std::max(powerRatio, 1e-30)); }

// What is left once the ideal tone, at its exact time and level, is taken
// away from channel 0: any delay, gain error, noise or distortion counts.
double SnrDb(const std::vector<float>& x, int channels, int rate, double hz, double amplitude) {
    const auto ch = static_cast<std::size_t>(channels);
    const std::size_t frames = x.size() / ch;
    double err = 0, n = 0;
    for (std::size_t i = kEdge; i + kEdge < frames; ++i, ++n) {
        const double d = x[i * ch] - amplitude * std::sin(2 * M_PI * hz * double(i) / rate);
        err += d * d;
    }
    return Db(amplitude * amplitude / 2 / (err / n));
}

// A single-sample click at each of 'at', in an otherwise silent mono input.
std::vector<float> Clicks(std::size_t frames, const std::vector<std::size_t>& at) {
    std::vector<float> v(frames, 0.0f);
    for (std::size_t k : at) v[k] = 0.9f;
    return v;
}

std::size_t PeakNear(const std::vector<float>& x, std::size_t around, std::size_t span) {
    std::size_t best = around;
    for (std::size_t i = around > span ? around - span : 0; i < std::min(x.size(), around + span + 1); ++i)
        if (std::fabs(x[i]) > std::fabs(x[best])) best = i;
    return best;
}

std::vector<std::uint8_t> Quantized(const std::vector<float>& in, SampleFormat format, Dither dither,
                                    std::uint64_t position = 0) {
    std::vector<std::uint8_t> out(in.size() * BytesPerSample(format));
    Quantize(in.data(), in.size(), format, dither, position, out.data());
    return out;
}

std::int32_t S24At(const std::vector<std::uint8_t>& out, std::size_t i) {
    const std::int32_t v = out[3 * i] | (out[3 * i + 1] << 8) | (out[3 * i + 2] << 16);
    return v >= 0x800000 ? v - 0x1000000 : v;
}

std::int16_t S16At(const std::vector<std::uint8_t>& out, std::size_t i) {
    std::int16_t v;
    std::memcpy(&v, out.data() + 2 * i, 2);
    return v;
}

// Level in dB of the component at 'hz' in 8-bit unsigned mono samples,
// over whole periods of 1 Hz ('frames' a multiple of the rate), away from the start.
double LevelAt(const std::vector<std::uint8_t>& pcm, int rate, std::size_t from, std::size_t frames, double hz) {
    double re = 0, im = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double v = (double(pcm[from + i]) - 128) / 128;
        re += v * std::cos(2 * M_PI * hz * double(i) / rate);
        im += v * std::sin(2 * M_PI * hz * double(i) / rate);
    }
    return 20 * std::log10(std::hypot(re, im) * 2 / double(frames) + 1e-30);
}

}  // namespace

// Output frame n lies at input time n x in / out: a click at input frame k
// peaks at output frame round(k x out / in), a click at the first frame in
// the first output frame; every output instant before the input's end is
// put out, within one, and the result is the same to the bit however the
// input is cut into buffers.
TEST(Resampler, LengthTimingAndBufferingDoNotChangeTheResult) {
    struct Case {
        int in, out, channels;
    };
    // Down, up, a ratio close to one, channel counts from one to six.
    for (const ResampleQuality q : kQualities) {
        for (const Case c : {Case{48000, 44100, 2}, Case{48000, 22050, 1}, Case{22050, 48000, 2},
                             Case{44100, 44099, 1}, Case{48000, 32000, 6}, Case{32000, 44100, 4}}) {
            SCOPED_TRACE(std::string(Name(q)) + " " + std::to_string(c.in) + " -> " + std::to_string(c.out) + " x" +
                         std::to_string(c.channels));
            const std::size_t frames = static_cast<std::size_t>(c.in) / 2 + 7;
            const std::vector<float> input = Tone(c.in, c.channels, 440.0, 0.5, frames);
            const std::vector<float> whole = Convert(c.in, c.out, c.channels, q, input, {frames});
            const double exact = double(frames) * c.out / c.in;
            EXPECT_LE(std::fabs(double(whole.size() / std::size_t(c.channels)) - exact), 1.0);
            for (const std::vector<std::size_t>& pieces :
                 {std::vector<std::size_t>{1}, {37}, {1152}, {4096, 1, 300, 8191, 2}}) {
                const std::vector<float> cut = Convert(c.in, c.out, c.channels, q, input, pieces);
                ASSERT_EQ(cut.size(), whole.size()) << pieces[0];
                EXPECT_EQ(std::memcmp(cut.data(), whole.data(), whole.size() * sizeof(float)), 0) << pieces[0];
            }
            // Every channel follows its own tone at its own time.
            for (int ch = 0; ch < c.channels; ++ch) {
                std::vector<float> one;
                for (std::size_t i = std::size_t(ch); i < whole.size(); i += std::size_t(c.channels))
                    one.push_back(whole[i]);
                double err = 0;
                for (std::size_t n = 1000; n + 1000 < one.size(); ++n) {
                    const double d = one[n] - 0.5 * std::sin(2 * M_PI * 440.0 * double(n) / c.out + ch);
                    err += d * d;
                }
                EXPECT_LT(Db(err / double(one.size() - 2000)), -110.0) << "channel " << ch;
            }

            const std::vector<std::size_t> at = {0, 1000, 2001, 4567, frames - 3000};
            const std::vector<float> clicks = Convert(c.in, c.out, 1, q, Clicks(frames, at));
            for (std::size_t k : at) {
                const auto expected = static_cast<std::size_t>(std::llround(double(k) * c.out / c.in));
                EXPECT_EQ(PeakNear(clicks, expected, 20), expected) << "click at input frame " << k;
            }
        }
    }
}

TEST(Resampler, ConstantStaysConstantAndEqualRatesPassUntouched) {
    for (const ResampleQuality q : kQualities) {
        const std::vector<float> out = Convert(48000, 44100, 1, q, std::vector<float>(48000, 0.25f), {999});
        for (std::size_t n = kEdge; n + kEdge < out.size(); ++n) ASSERT_NEAR(out[n], 0.25f, 1e-6f) << Name(q) << n;

        const std::vector<float> input = Tone(44100, 2, 1000.0, 0.9, 5000);
        Resampler same(44100, 44100, 2, q);
        EXPECT_TRUE(same.Passthrough());
        EXPECT_EQ(Convert(44100, 44100, 2, q, input, {300}), input);
    }
}

// Flat within 0.1 dB to 20 kHz at 44.1 kHz and to 10 kHz at 22.05 kHz.
TEST(Resampler, PassbandIsFlatTo20kHz) {
    struct Case {
        int out;
        double hz;
    };
    for (const ResampleQuality q : kQualities) {
        for (const Case c : {Case{44100, 1000}, Case{44100, 10000}, Case{44100, 15000}, Case{44100, 19500},
                             Case{44100, 20000}, Case{22050, 1000}, Case{22050, 5000}, Case{22050, 9500},
                             Case{22050, 10000}}) {
            const std::vector<float> y = Convert(48000, c.out, 1, q, Tone(48000, 1, c.hz, 0.5, 48000));
            const double gain = 20 * std::log10(FitSine(y, 1, c.out, c.hz).amplitude / 0.5);
            std::printf("  %s %5.0f Hz to %d Hz: gain %+.4f dB\n", Name(q), c.hz, c.out, gain);
            EXPECT_NEAR(gain, 0.0, 0.1) << Name(q) << " " << c.hz << " Hz to " << c.out;
        }
    }
}

// Tones the output cannot hold are removed: what folds back into the output
// (23 kHz into 44.1 kHz, 12 kHz into 22.05 kHz) stays 120 dB below the tone
// with VHQ (float output) and 110 dB below with HQ (8 and 16 bits).
TEST(Resampler, NothingFoldsBack) {
    struct Case {
        int out;
        double hz;
    };
    for (const ResampleQuality q : kQualities) {
        for (const Case c : {Case{44100, 23000}, Case{22050, 12000}, Case{22050, 20000}}) {
            const std::vector<float> y = Convert(48000, c.out, 1, q, Tone(48000, 1, c.hz, 0.5, 96000));
            const double level = Db(Power(y, 1) / (0.5 * 0.5 / 2));
            std::printf("  %s %5.0f Hz to %d Hz: %.1f dB folds back\n", Name(q), c.hz, c.out, level);
            EXPECT_LT(level, q == ResampleQuality::VeryHigh ? -120.0 : -110.0) << Name(q) << " " << c.hz;
        }
    }
}

// A 1 kHz tone at -3 dBFS comes out at its exact time and level: SNR at least
// 130 dB with VHQ (float output), 120 dB with HQ.
TEST(Resampler, OneKilohertzKeeps130dB) {
    const double a = std::pow(10.0, -3.0 / 20);
    const std::vector<float> tone = Tone(48000, 1, 1000.0, a, 96000);
    for (const ResampleQuality q : kQualities) {
        for (int out : {44100, 22050}) {
            const double snr = SnrDb(Convert(48000, out, 1, q, tone), 1, out, 1000.0, a);
            std::printf("  %s 1 kHz to %d Hz: SNR %.1f dB\n", Name(q), out, snr);
            EXPECT_GT(snr, q == ResampleQuality::VeryHigh ? 130.0 : 120.0) << Name(q) << " " << out;
        }
    }
}

TEST(ResampleAndQuantize, SilenceStaysSilence) {
    const std::vector<float> silence(2 * 48000, 0.0f);
    for (const ResampleQuality q : kQualities) {
        for (int out : {44100, 22050, 48000, 96000}) {
            const std::vector<float> y = Convert(48000, out, 2, q, silence, {1000});
            ASSERT_FALSE(y.empty());
            EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float v) { return v == 0.0f; })) << Name(q) << out;
            for (SampleFormat f : {SampleFormat::U8, SampleFormat::S16, SampleFormat::S24}) {
                const std::vector<std::uint8_t> pcm = Quantized(y, f, Dither::Tpdf);
                const std::uint8_t zero = f == SampleFormat::U8 ? 128 : 0;
                EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [&](std::uint8_t b) { return b == zero; }))
                    << Name(q) << " " << out << " format " << int(f);
            }
        }
    }
}

// Samples already on the output's steps pass exactly, dither or not: every
// 16-bit value at 16 bits (a 16-bit source at its own rate, through the
// resampler's pass-through), every 8-bit value at 8 bits, and 24-bit values
// at 24 bits.
TEST(ResampleAndQuantize, SamplesOnTheStepsAreKeptExactly) {
    std::vector<float> s16;
    for (int k = -32768; k <= 32767; ++k) s16.push_back(float(k) / 32768.0f);
    std::vector<float> through;
    Resampler same(44100, 44100, 2, ResampleQuality::High);
    ASSERT_TRUE(same.Process(s16.data(), s16.size() / 2, through));
    ASSERT_TRUE(same.Finish(through));
    ASSERT_EQ(through, s16);
    const std::vector<std::uint8_t> out = Quantized(through, SampleFormat::S16, Dither::Tpdf, 12345);
    for (std::size_t i = 0; i < s16.size(); ++i) ASSERT_EQ(S16At(out, i), int(i) - 32768) << i;

    std::vector<float> s8;
    for (int k = -128; k <= 127; ++k) s8.push_back(float(k) / 128.0f);
    const std::vector<std::uint8_t> out8 = Quantized(s8, SampleFormat::U8, Dither::Tpdf);
    for (std::size_t i = 0; i < s8.size(); ++i) ASSERT_EQ(out8[i], i) << i;

    std::vector<float> s24;
    for (int k = -8388608; k < 8388608; k += 997) s24.push_back(float(k) / 8388608.0f);
    const std::vector<std::uint8_t> out24 = Quantized(s24, SampleFormat::S24, Dither::Tpdf);
    for (std::size_t i = 0; i < s24.size(); ++i) ASSERT_EQ(S24At(out24, i), -8388608 + 997 * int(i)) << i;
}

// A -40 dBFS 1 kHz tone from 48 kHz written at 22.05 kHz and 8 bits: with
// dither its harmonics stay at least 35 dB below it; rounded alone, it
// comes out as a distorted square.
TEST(ResampleAndQuantize, DitherKeepsAQuietToneFreeOfHarmonics) {
    const double a = 0.01;
    const std::vector<float> y = Convert(48000, 22050, 1, ResampleQuality::High, Tone(48000, 1, 1000.0, a, 5 * 48000));
    const std::size_t from = 22050 / 2, frames = 4 * 22050;
    ASSERT_GE(y.size(), from + frames);
    double worst[2] = {-1000, -1000};
    for (const Dither d : {Dither::Tpdf, Dither::Off}) {
        const std::vector<std::uint8_t> pcm = Quantized(y, SampleFormat::U8, d);
        const double tone = LevelAt(pcm, 22050, from, frames, 1000.0);
        EXPECT_NEAR(tone, 20 * std::log10(a), 1.0);
        double& w = worst[d == Dither::Tpdf ? 0 : 1];
        for (int k = 2; k <= 11; ++k) w = std::max(w, LevelAt(pcm, 22050, from, frames, 1000.0 * k) - tone);
        std::printf("  8 bits, dither %s: tone %.1f dBFS, strongest harmonic %.1f dB below it\n",
                    d == Dither::Tpdf ? "on" : "off", tone, -w);
    }
    EXPECT_LT(worst[0], -35.0);
    EXPECT_GT(worst[1], -25.0);  // the test can tell: without dither it fails
}

// The dither is triangular with a peak of one step and mean zero: the error
// of off-step samples has mean 0 and power 1/4 step^2 (rounding's 1/12 and
// the dither's 2/12), never reaching 1.5 steps, at 8, 16 and 24 bits.
TEST(Quantize, DitherIsTriangularOfOneStep) {
    std::vector<float> in;
    for (int i = 0; i < 200000; ++i) in.push_back(float(0.6 * std::sin(i * 0.001234) + 0.3 * std::sin(i * 0.0713)));
    struct Case {
        SampleFormat format;
        double scale;
    };
    for (const Case c : {Case{SampleFormat::U8, 128.0}, Case{SampleFormat::S16, 32768.0},
                         Case{SampleFormat::S24, 8388608.0}}) {
        const std::vector<std::uint8_t> out = Quantized(in, c.format, Dither::Tpdf, 777);
        double sum = 0, power = 0, peak = 0, n = 0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const double exact = double(in[i]) * c.scale;
            if (exact == std::nearbyint(exact)) continue;  // on a step: kept as it is
            ++n;
            const double got = c.format == SampleFormat::U8    ? double(out[i]) - 128
                               : c.format == SampleFormat::S16 ? double(S16At(out, i))
                                                               : double(S24At(out, i));
            const double e = got - exact;
            sum += e, power += e * e, peak = std::max(peak, std::fabs(e));
        }
        EXPECT_GT(n, 0.5 * double(in.size())) << int(c.format);
        EXPECT_NEAR(sum / n, 0.0, 0.01) << int(c.format);
        EXPECT_NEAR(power / n, 0.25, 0.01) << int(c.format);
        EXPECT_LT(peak, 1.5) << int(c.format);
        // Rounded alone, the error is a third of that.
        const std::vector<std::uint8_t> plain = Quantized(in, c.format, Dither::Off);
        EXPECT_NE(plain, out);
    }
}

// The dither of a sample depends on its place in the stream alone: the
// stream cut anyhow comes out the same, run to run, also where the
// position's upper half changes; another place gets other dither.
TEST(Quantize, DitherDependsOnThePositionAlone) {
    std::vector<float> in;
    for (int i = 0; i < 5000; ++i) in.push_back(float(0.4 * std::sin(i * 0.05)));
    for (const SampleFormat f : {SampleFormat::U8, SampleFormat::S16, SampleFormat::S24}) {
        for (const std::uint64_t start : {std::uint64_t{0}, (std::uint64_t{1} << 32) - 2500}) {
            const std::vector<std::uint8_t> whole = Quantized(in, f, Dither::Tpdf, start);
            EXPECT_EQ(Quantized(in, f, Dither::Tpdf, start), whole);
            EXPECT_NE(Quantized(in, f, Dither::Tpdf, start + 1), whole);
            for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{13}, std::size_t{1000}}) {
                std::vector<std::uint8_t> cut(whole.size());
                const std::size_t bytes = BytesPerSample(f);
                for (std::size_t at = 0; at < in.size(); at += piece) {
                    const std::size_t n = std::min(piece, in.size() - at);
                    Quantize(in.data() + at, n, f, Dither::Tpdf, start + at, cut.data() + at * bytes);
                }
                EXPECT_EQ(cut, whole) << int(f) << " in pieces of " << piece;
            }
        }
    }
}

// Where the processor has wider instructions, Quantize takes them: the
// bytes are the portable code's, for every format, with and without dither,
// in the runs and the tail, beyond the rails, on the steps and where the
// position's upper half changes.
TEST(Quantize, FastPathGivesThePortableBytes) {
    std::vector<float> in;
    std::uint32_t x = 12345;
    for (int i = 0; i < 100003; ++i) {
        x = x * 1664525u + 1013904223u;
        const float noise = float(x >> 8) / float(1 << 24) * 2.4f - 1.2f;  // some beyond +-1
        in.push_back(i % 5 == 0 ? float(i % 256 - 128) / 128.0f : noise);
    }
    for (const SampleFormat f : {SampleFormat::U8, SampleFormat::S16, SampleFormat::S24}) {
        for (const Dither d : {Dither::Tpdf, Dither::Off}) {
            for (const std::uint64_t start : {std::uint64_t{3}, (std::uint64_t{1} << 32) - 50001}) {
                std::vector<std::uint8_t> fast(in.size() * BytesPerSample(f)), portable(fast.size());
                Quantize(in.data(), in.size(), f, d, start, fast.data());
                QuantizePortable(in.data(), in.size(), f, d, start, portable.data());
                EXPECT_EQ(fast, portable) << int(f) << " dither " << int(d) << " from " << start;
            }
        }
    }
}

// Resampled and dithered twice, the same bytes.
TEST(ResampleAndQuantize, OutputIsReproducible) {
    const std::vector<float> input = Tone(48000, 2, 997.0, 0.3, 48000);
    std::vector<std::vector<std::uint8_t>> runs;
    for (int run = 0; run < 2; ++run)
        runs.push_back(Quantized(Convert(48000, 44100, 2, ResampleQuality::High, input, {1234}), SampleFormat::S16,
                                 Dither::Tpdf));
    EXPECT_EQ(runs[0], runs[1]);
}

// Without dither, long runs go eight samples at a time: every sample, in the
// runs and in the tail, comes out as one rounded alone would, ties to even.
TEST(Quantize, RunsMatchSampleBySampleRounding) {
    std::vector<float> in;
    for (int k = -70000; k <= 70000; k += 7) in.push_back(float(k) / 65536.0f);  // halves and clipping
    in.push_back(-0.0f);
    ASSERT_NE(in.size() % 8, 0u);
    for (const SampleFormat f : {SampleFormat::U8, SampleFormat::S16}) {
        const std::vector<std::uint8_t> out = Quantized(in, f, Dither::Off);
        const double scale = f == SampleFormat::U8 ? 128.0 : 32768.0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const long want = std::lround(std::clamp(std::nearbyint(double(in[i]) * scale), -scale, scale - 1));
            const long got = f == SampleFormat::U8 ? long(out[i]) - 128 : long(S16At(out, i));
            ASSERT_EQ(got, want) << scale << " scale, sample " << i << " = " << in[i];
        }
    }
}

TEST(Quantize, RoundsToNearestAndClipsInEveryWidth) {
    const std::vector<float> in = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -2.0f, 1.4f / 32768.0f, 1.6f / 32768.0f};
    for (const Dither d : {Dither::Off, Dither::Tpdf}) {
        // Dithered, the on-step samples and the clipped ones are the same.
        const std::size_t exact = d == Dither::Off ? in.size() : 7;
        const std::vector<std::uint8_t> s16 = Quantized(in, SampleFormat::S16, d);
        const std::int16_t want16[] = {0, 16384, -16384, 32767, -32768, 32767, -32768, 1, 2};
        for (std::size_t i = 0; i < exact; ++i) EXPECT_EQ(S16At(s16, i), want16[i]) << i;

        const std::vector<std::uint8_t> u8 = Quantized(in, SampleFormat::U8, d);
        EXPECT_EQ(std::vector<std::uint8_t>(u8.begin(), u8.begin() + 7),
                  (std::vector<std::uint8_t>{128, 192, 64, 255, 0, 255, 0}));

        const std::vector<std::uint8_t> s24 = Quantized(in, SampleFormat::S24, d);
        EXPECT_EQ(S24At(s24, 1), 4194304);
        EXPECT_EQ(S24At(s24, 3), 8388607);
        EXPECT_EQ(S24At(s24, 4), -8388608);

        // 32 bits hold every float sample's mantissa: never dithered.
        const std::vector<std::uint8_t> s32 = Quantized(in, SampleFormat::S32, d);
        std::int32_t v[9];
        std::memcpy(v, s32.data(), sizeof v);
        EXPECT_EQ(v[1], 1073741824);
        EXPECT_EQ(v[3], 2147483647);
        EXPECT_EQ(v[4], -2147483647 - 1);
        EXPECT_EQ(v[7], std::lround(1.4 * 65536));

        // Float passes as it is.
        const std::vector<std::uint8_t> f32 = Quantized(in, SampleFormat::F32, d);
        EXPECT_EQ(std::memcmp(f32.data(), in.data(), f32.size()), 0);
    }
}
