// Every output format through the whole conversion, from generated media, read
// back: header fields, frame counts, each channel's tone and level, and the
// speaker positions of surround sources kept with the source's channels;
// one read back by ffprobe as well.

#include "engine/ConversionEngine.h"
#include "tests/support/EngineRun.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

using namespace veltrano;
using namespace veltrano::test;

namespace {

constexpr double kPi = 3.14159265358979323846;

using Outcome = ConversionEngine::Outcome;

struct Conversion {
    Outcome outcome = Outcome::Idle;
    std::string failure;
    WaveFormatEx written;  // what the engine says it wrote, after the release
    WavFile wav;
};

Conversion Convert(const std::string& src, double seconds, const OutputWaveFormat& format, const std::string& out,
                   int stopAfterMs = -1) {
    ConversionEngine engine;
    ConversionRequest request;
    request.source.audioCount = 1;
    request.source.audioPath = src;
    request.source.endTime = MediaTime(std::llround(seconds * kUnitsPerSecond));
    request.outputPath = out;
    request.format = format;
    Conversion c;
    if (!RunConversion(engine, request, stopAfterMs) && !engine.notices().empty()) {
        c.failure = engine.notices().front().text + ": " + engine.notices().front().reason;
    }
    c.outcome = engine.outcome();
    if (c.failure.empty()) c.failure = engine.failureText();
    c.written = engine.WrittenFormat();
    c.wav = ReadWavFile(out);
    return c;
}

// The amplitude of the sinusoid of 'frequency' in x (a single-bin DFT).
double ToneLevel(const std::vector<float>& x, int rate, double frequency) {
    double re = 0, im = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double phase = 2 * kPi * frequency * double(n) / rate;
        re += x[n] * std::cos(phase);
        im += x[n] * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / double(std::max<std::size_t>(1, x.size()));
}

// A tone of its own on each channel, 'level' each.
Pcm ChannelTones(double seconds, int rate, const std::vector<double>& frequencies, double level) {
    Pcm pcm;
    pcm.rate = rate;
    pcm.channels = int(frequencies.size());
    const auto frames = std::size_t(std::llround(seconds * rate));
    for (std::size_t f = 0; f < frames; ++f)
        for (double hz : frequencies) pcm.samples.push_back(float(level * std::sin(2 * kPi * hz * double(f) / rate)));
    return pcm;
}

void Put(std::string& to, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) to.push_back(char((v >> (8 * i)) & 0xFF));
}

// A 16-bit extensible WAV file stating 'mask', a tone of its own on each
// channel: GStreamer reads its positions from it (wavenc would write none,
// flacenc takes no other 6-channel layout than 5.1 with rear speakers).
bool WriteSurroundWav(const std::string& path, double seconds, const std::vector<double>& frequencies, double level,
                      std::uint32_t mask) {
    const std::uint32_t rate = 48000;
    const auto channels = std::uint16_t(frequencies.size());
    const auto frames = std::uint64_t(std::llround(seconds * rate));
    const std::uint64_t dataBytes = frames * channels * 2;
    std::string head = "RIFF";
    Put(head, 4 + 8 + 40 + 8 + dataBytes, 4);
    head += "WAVEfmt ";
    Put(head, 40, 4);
    Put(head, 0xFFFE, 2);
    Put(head, channels, 2);
    Put(head, rate, 4);
    Put(head, rate * channels * 2, 4);
    Put(head, channels * 2u, 2);
    Put(head, 16, 2);
    Put(head, 22, 2);
    Put(head, 16, 2);
    Put(head, mask, 4);
    head += std::string("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);  // PCM
    head += "data";
    Put(head, dataBytes, 4);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << head;
    std::string frame;
    for (std::uint64_t n = 0; n < frames; ++n) {
        frame.clear();
        for (double hz : frequencies)
            Put(frame, std::uint16_t(std::lround(level * 32767.0 * std::sin(2 * kPi * hz * double(n) / rate))), 2);
        out << frame;
    }
    return bool(out);
}

QJsonObject FfProbeStream(const std::string& path) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_streams", "-of", "json", QString::fromStdString(path)});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
    const QJsonArray streams = QJsonDocument::fromJson(p.readAllStandardOutput()).object().value("streams").toArray();
    return streams.isEmpty() ? QJsonObject() : streams.first().toObject();
}

bool FfProbeInstalled() {
    QProcess p;
    p.start("ffprobe", {"-version"});
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

std::string Describe(const OutputWaveFormat& f) {
    return std::to_string(f.nSamplesPerSec) + " Hz, " +
           (f.SourceChannels() ? std::string("source's") : std::to_string(f.nChannels)) + " channels, " +
           std::to_string(f.wBitsPerSample) + (f.kind == SampleKind::Float ? " float" : " bits");
}

// What the header must say for the format, with 'channels' written.
void ExpectHeader(const WavFile& w, const OutputWaveFormat& f, int channels, std::uint32_t mask) {
    ASSERT_TRUE(w.ok) << w.error;
    const bool isFloat = f.kind == SampleKind::Float;
    const bool plain = channels <= 2 && (f.wBitsPerSample <= 16 || isFloat);
    EXPECT_EQ(w.formatTag, plain ? (isFloat ? 3 : 1) : 0xFFFE);
    EXPECT_EQ(w.sampleType, isFloat ? 3 : 1);
    EXPECT_EQ(w.channels, channels);
    EXPECT_EQ(w.sampleRate, f.nSamplesPerSec);
    EXPECT_EQ(w.bitsPerSample, f.wBitsPerSample);
    EXPECT_EQ(w.blockAlign, channels * f.wBitsPerSample / 8);
    EXPECT_EQ(w.byteRate, f.nSamplesPerSec * w.blockAlign);
    if (!plain) {
        EXPECT_EQ(w.validBits, f.wBitsPerSample);
        EXPECT_EQ(w.channelMask, mask);
    }
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
}

class OutputFormats : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        EnsureGstInitialized();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Path(const std::string& name) {
        return dir_->filePath(QString::fromStdString(name)).toStdString();
    }
    static QTemporaryDir* dir_;
};

QTemporaryDir* OutputFormats::dir_ = nullptr;

const std::vector<double> k51Tones = {200, 300, 500, 700, 1100, 1300};
const std::vector<double> k71Tones = {200, 300, 500, 700, 1100, 1300, 1700, 1900};

// A stereo source (440 Hz left, 1000 Hz right) in every width, as stereo,
// mono and its own channels, at its rate and resampled.
TEST_F(OutputFormats, EveryWidthAndChannelChoiceReadsBack) {
    const std::string src = Path("lr.flac");
    ASSERT_TRUE(MakeAudio(src, AudioKind::Flac, ChannelTones(2.0, 48000, {440.0, 1000.0}, 0.5)));
    struct Width {
        std::uint16_t bits;
        SampleKind kind;
        double tolerance;  // of a level: 8 bits are dithered at 1/128
    } widths[] = {{8, SampleKind::Integer, 0.01},
                  {16, SampleKind::Integer, 0.002},
                  {24, SampleKind::Integer, 0.002},
                  {32, SampleKind::Integer, 0.002},
                  {32, SampleKind::Float, 0.002}};
    for (std::uint32_t rate : {48000u, 44100u}) {
        for (const Width& width : widths) {
            QByteArray stereoBytes;
            for (std::uint16_t channels : {std::uint16_t(2), std::uint16_t(1), kSourceChannels}) {
                const OutputWaveFormat f = MakeOutputWaveFormat(rate, channels, width.bits, width.kind);
                SCOPED_TRACE(Describe(f));
                const std::string out = Path("lr.wav");
                const Conversion c = Convert(src, 2.0, f, out);
                ASSERT_EQ(c.outcome, Outcome::Done) << c.failure;
                const int written = channels == 1 ? 1 : 2;
                ExpectHeader(c.wav, f, written, written == 1 ? 0x4 : 0x3);
                EXPECT_EQ(c.wav.frames(), 2u * rate);
                EXPECT_EQ(c.written.nChannels, written);
                EXPECT_EQ(c.written.nBlockAlign, c.wav.blockAlign);
                if (written == 1) {
                    // Left and right at half weight each.
                    EXPECT_NEAR(ToneLevel(c.wav.channel(0), int(rate), 440.0), 0.25, width.tolerance);
                    EXPECT_NEAR(ToneLevel(c.wav.channel(0), int(rate), 1000.0), 0.25, width.tolerance);
                    continue;
                }
                EXPECT_NEAR(ToneFrequency(c.wav.channel(0), int(rate)), 440.0, 0.5);
                EXPECT_NEAR(ToneFrequency(c.wav.channel(1), int(rate)), 1000.0, 0.5);
                EXPECT_NEAR(ToneLevel(c.wav.channel(0), int(rate), 440.0), 0.5, width.tolerance);
                EXPECT_NEAR(ToneLevel(c.wav.channel(1), int(rate), 1000.0), 0.5, width.tolerance);
                EXPECT_LT(ToneLevel(c.wav.channel(0), int(rate), 1000.0), width.tolerance);
                // A stereo source kept as it is, is what stereo makes of it, byte for byte.
                QFile file(QString::fromStdString(out));
                ASSERT_TRUE(file.open(QIODevice::ReadOnly));
                const QByteArray bytes = file.readAll();
                if (channels == 2) {
                    stereoBytes = bytes;
                } else {
                    EXPECT_TRUE(bytes == stereoBytes) << "the source's stereo differs from stereo";
                }
            }
        }
    }
}

// A 5.1 source keeps its six channels in their places, each with its own tone,
// in the widths the mask matters for; ffprobe reads the layout back.
TEST_F(OutputFormats, SurroundSourceKeepsItsChannelsAndPositions) {
    const std::string src = Path("five-one.flac");
    ASSERT_TRUE(MakeAudio(src, AudioKind::Flac, ChannelTones(1.5, 48000, k51Tones, 0.3)));
    const OutputWaveFormat formats[] = {
        MakeOutputWaveFormat(48000, kSourceChannels, 16), MakeOutputWaveFormat(44100, kSourceChannels, 24),
        MakeOutputWaveFormat(96000, kSourceChannels, 32),
        MakeOutputWaveFormat(48000, kSourceChannels, 32, SampleKind::Float)};
    const bool ffprobe = FfProbeInstalled();
    for (const OutputWaveFormat& f : formats) {
        SCOPED_TRACE(Describe(f));
        const std::string out = Path("five-one.wav");
        const Conversion c = Convert(src, 1.5, f, out);
        ASSERT_EQ(c.outcome, Outcome::Done) << c.failure;
        ExpectHeader(c.wav, f, 6, 0x3F);
        EXPECT_EQ(c.wav.frames(), std::uint64_t(f.nSamplesPerSec) * 3 / 2);
        EXPECT_EQ(c.written.nChannels, 6);
        EXPECT_EQ(c.written.nAvgBytesPerSec, c.wav.byteRate);
        for (int ch = 0; ch < 6; ++ch) {
            const auto x = c.wav.channel(ch);
            EXPECT_NEAR(ToneFrequency(x, int(f.nSamplesPerSec)), k51Tones[std::size_t(ch)], 0.5) << "channel " << ch;
            EXPECT_NEAR(ToneLevel(x, int(f.nSamplesPerSec), k51Tones[std::size_t(ch)]), 0.3, 0.002) << "channel " << ch;
        }
        if (!ffprobe) continue;
        const QJsonObject s = FfProbeStream(out);
        ASSERT_FALSE(s.isEmpty());
        EXPECT_EQ(s.value("channels").toInt(), 6);
        EXPECT_EQ(s.value("channel_layout").toString(), "5.1");
        EXPECT_EQ(s.value("sample_rate").toString().toUInt(), f.nSamplesPerSec);
        EXPECT_EQ(s.value("duration_ts").toVariant().toULongLong(), c.wav.frames());
        const char* codec = f.kind == SampleKind::Float ? "pcm_f32le"
                            : f.wBitsPerSample == 16    ? "pcm_s16le"
                            : f.wBitsPerSample == 24    ? "pcm_s24le"
                                                        : "pcm_s32le";
        EXPECT_EQ(s.value("codec_name").toString(), codec);
    }
    // Fewer channels than the source: mixed down, as stereo always was.
    const Conversion stereo = Convert(src, 1.5, MakeOutputWaveFormat(48000, 2, 24), Path("mixed.wav"));
    ASSERT_EQ(stereo.outcome, Outcome::Done) << stereo.failure;
    ExpectHeader(stereo.wav, MakeOutputWaveFormat(48000, 2, 24), 2, 0x3);
    EXPECT_GT(ToneLevel(stereo.wav.channel(0), 48000, 200.0), 0.05);  // front left
    EXPECT_LT(ToneLevel(stereo.wav.channel(0), 48000, 300.0), 0.01);  // front right
}

// Layouts other than the common 5.1 keep their own speakers: side 5.1 and 7.1.
TEST_F(OutputFormats, OtherLayoutsKeepTheirOwnMask) {
    struct Case {
        const char* name;
        std::vector<double> tones;
        std::uint32_t mask;
        const char* layout;
    } cases[] = {{"side.wav", k51Tones, 0x60F, "5.1(side)"}, {"seven-one.wav", k71Tones, 0x63F, "7.1"}};
    const bool ffprobe = FfProbeInstalled();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string src = Path(k.name);
        ASSERT_TRUE(WriteSurroundWav(src, 1.0, k.tones, 0.3, k.mask));
        const OutputWaveFormat f = MakeOutputWaveFormat(44100, kSourceChannels, 24);
        const std::string out = Path(std::string("out-") + k.name);
        const Conversion c = Convert(src, 1.0, f, out);
        ASSERT_EQ(c.outcome, Outcome::Done) << c.failure;
        const int channels = int(k.tones.size());
        ExpectHeader(c.wav, f, channels, k.mask);
        EXPECT_EQ(c.wav.frames(), 44100u);
        for (int ch = 0; ch < channels; ++ch) {
            const auto x = c.wav.channel(ch);
            EXPECT_NEAR(ToneFrequency(x, 44100), k.tones[std::size_t(ch)], 0.5) << "channel " << ch;
            EXPECT_NEAR(ToneLevel(x, 44100, k.tones[std::size_t(ch)]), 0.3, 0.002) << "channel " << ch;
        }
        if (ffprobe) {
            EXPECT_EQ(FfProbeStream(out).value("channel_layout").toString(), k.layout);
        }
    }
}

// More than 8 channels are refused by name before GStreamer's float
// conversion sees them (it crashed on some counts), even with positions.
TEST_F(OutputFormats, MoreThanEightChannelsAreRefused) {
    const std::string src = Path("ten.wav");
    const std::vector<double> tones = {200, 300, 500, 700, 1100, 1300, 1700, 1900, 2300, 2900};
    ASSERT_TRUE(WriteSurroundWav(src, 1.0, tones, 0.3, 0x6FF));
    const OutputWaveFormat f = MakeOutputWaveFormat(48000, kSourceChannels, 32, SampleKind::Float);
    const Conversion c = Convert(src, 1.0, f, Path("seven-one-of-ten.wav"));
    EXPECT_EQ(c.outcome, Outcome::Failed);
    EXPECT_NE(c.failure.find("has 10 channels; at most 8 can be converted"), std::string::npos) << c.failure;
}

// Stopped, a conversion that kept the source's channels leaves a complete
// file, and the engine still says how many it wrote.
TEST_F(OutputFormats, StoppedSurroundConversionIsComplete) {
    const std::string src = Path("long-six.wav");
    ASSERT_TRUE(WriteSurroundWav(src, 120.0, k51Tones, 0.3, 0x3F));
    const OutputWaveFormat f = MakeOutputWaveFormat(48000, kSourceChannels, 24);
    // At once, before the sound may have arrived, and once it is flowing.
    for (int stopAfterMs : {0, 200}) {
        SCOPED_TRACE(stopAfterMs);
        const Conversion c = Convert(src, 120.0, f, Path("stopped.wav"), stopAfterMs);
        ASSERT_EQ(c.outcome, Outcome::Stopped) << c.failure;
        ASSERT_TRUE(c.wav.ok) << c.wav.error;
        EXPECT_EQ(c.wav.riffSize, c.wav.fileSize - 8);
        EXPECT_EQ(c.wav.dataOffset + c.wav.dataSize, c.wav.fileSize);
        // A fast machine may have converted everything before the stop came.
        EXPECT_LE(c.wav.frames(), 120u * 48000u);
        std::printf("  stopped after %d ms: %llu frames\n", stopAfterMs,
                    static_cast<unsigned long long>(c.wav.frames()));
        if (c.wav.frames() == 0) continue;  // stopped before the first sample: any header will do
        ExpectHeader(c.wav, f, 6, 0x3F);
        EXPECT_EQ(c.written.nChannels, 6);
        EXPECT_EQ(c.written.nBlockAlign, 18);
        EXPECT_NEAR(ToneFrequency(c.wav.channel(5), 48000), 1300.0, 1.0);
    }
}

}  // namespace
