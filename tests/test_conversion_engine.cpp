// Real conversions of generated media through the engine, read back: header
// fields, frame counts, where the selection's first sample lies, tones and clicks.

#include "convert/ConversionRunner.h"
#include "platform/RecordingUiServices.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace veltrano;
using namespace veltrano::test;

namespace {

OutputWaveFormat Format(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
    OutputWaveFormat f;
    f.nSamplesPerSec = rate;
    f.nChannels = channels;
    f.wBitsPerSample = bits;
    f.nBlockAlign = std::uint16_t(bits / 8 * channels);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    return f;
}

MediaTime Seconds(double s) { return MediaTime(std::llround(s * kUnitsPerSecond)); }

struct Outcome {
    ConversionRunner::Outcome outcome = ConversionRunner::Outcome::Idle;
    std::string failure;
    WavFile wav;
    std::vector<std::string> boxes;
};

Outcome Convert(const std::string& src, double start, double end, const OutputWaveFormat& format, const std::string& out) {
    RecordingMessageBoxes boxes;
    ConversionRunner runner(boxes);
    ConversionSource source;
    source.audioCount = 1;
    source.audioPath = src;
    source.startTime = Seconds(start);
    source.endTime = Seconds(end);
    Outcome run;
    if (runner.Start(source, out, format) == ConversionRunner::Outcome::Running) {
        QEventLoop loop;
        QObject::connect(&runner, &ConversionRunner::ended, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    run.outcome = runner.outcome();
    run.failure = runner.failureText();
    run.boxes = boxes.texts();
    run.wav = ReadWavFile(out);
    return run;
}

class Media : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        noise_ = Noise(4.0);
        clicks_ = Clicks(4.0, {0.5, 1.25, 2.5, 3.5});
        std::string e;
        ASSERT_TRUE(MakeAudio(Path("noise.mp3"), AudioKind::Mp3, noise_, &e)) << e;
        ASSERT_TRUE(MakeGaplessMp3(Path("noise-gapless.mp3"), noise_, &e)) << e;
        ASSERT_TRUE(MakeGaplessMp3(Path("noise-lavc.mp3"), noise_, &e, "Lavc59.37")) << e;
        ASSERT_TRUE(MakeAudio(Path("noise.ogg"), AudioKind::OggVorbis, noise_, &e)) << e;
        ASSERT_TRUE(MakeAudio(Path("noise.flac"), AudioKind::Flac, noise_, &e)) << e;
        ASSERT_TRUE(MakeAudio(Path("noise.wav"), AudioKind::Wav, noise_, &e)) << e;
        ASSERT_TRUE(MakeAudio(Path("noise.m4a"), AudioKind::M4aAac, noise_, &e)) << e;
        ASSERT_TRUE(MakeAudio(Path("noise-primed.m4a"), AudioKind::M4aAac, noise_, &e)) << e;
        ASSERT_TRUE(StateAacPriming(Path("noise-primed.m4a"), kAacEncoderPriming, 4 * 48000, &e)) << e;
        VideoSpec v;
        v.seconds = 4.0;
        v.audio = noise_;
        ASSERT_TRUE(MakeVideo(Path("noise.mp4"), v, &e)) << e;
        ASSERT_TRUE(StateAacPriming(Path("noise.mp4"), kAacEncoderPriming, 4 * 48000, &e)) << e;
        v.container = "mkv";
        ASSERT_TRUE(MakeVideo(Path("noise.mkv"), v, &e)) << e;
        ASSERT_TRUE(MakeAudio(Path("clicks.flac"), AudioKind::Flac, clicks_, &e)) << e;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Path(const std::string& name) { return dir_->filePath(QString::fromStdString(name)).toStdString(); }

    static QTemporaryDir* dir_;
    static Pcm noise_;
    static Pcm clicks_;
};

QTemporaryDir* Media::dir_ = nullptr;
Pcm Media::noise_;
Pcm Media::clicks_;

std::vector<float> SourceChannel(const Pcm& pcm, int c) {
    std::vector<float> out(pcm.samples.size() / std::size_t(pcm.channels));
    for (std::size_t f = 0; f < out.size(); ++f) out[f] = pcm.samples[f * std::size_t(pcm.channels) + std::size_t(c)];
    return out;
}

TEST_F(Media, Probe) {
    const char* only = getenv("ONLY");
    for (const char* name : {"noise.mp3", "noise-gapless.mp3", "noise-lavc.mp3", "noise.ogg", "noise.flac", "noise.wav", "noise.m4a",
                             "noise-primed.m4a", "noise.mp4", "noise.mkv"}) {
        if (only && std::string(only) != name) continue;
        Outcome r = Convert(Path(name), 1.0, 3.0, Format(48000, 2, 16), Path(std::string(name) + ".out.wav"));
        ASSERT_TRUE(r.wav.ok) << name << " " << r.wav.error << " " << r.failure;
        const auto x = SourceChannel(noise_, 0);
        const auto y = r.wav.channel(0);
        // y[i] ~ x[start*48000 + i + lag]
        std::vector<float> ref(x.begin() + 48000, x.end());
        const auto lag = BestLag(ref, y, 2000);
        std::printf("%-20s frames %llu (expect 96000) lag %lld samples (%.3f ms) outcome %d\n", name,
                    static_cast<unsigned long long>(r.wav.frames()), static_cast<long long>(lag), lag / 48.0, int(r.outcome));
    }
}

}  // namespace
