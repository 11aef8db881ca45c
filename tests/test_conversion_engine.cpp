// Real conversions of generated media through the engine, read back: header
// fields, frame counts, where the selection's first sample lies, tones, clicks,
// and what becomes of the file when a conversion is stopped or fails.

#include "engine/ConversionEngine.h"
#include "engine/ConvertChecks.h"
#include "media/SourceAnalysis.h"
#include "tests/support/EngineRun.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

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

using Outcome = ConversionEngine::Outcome;

struct Conversion {
    Outcome outcome = Outcome::Idle;
    std::string failure;
    std::vector<std::string> notices;  // the texts of the steps that failed
    std::vector<std::string> reasons;  // and their reasons
    WavFile wav;
};

// Runs one conversion to its end; stopAfterMs >= 0 presses Stop that long
// after the start, or later, once some sound is written: a slower build (with
// sanitizers) may have written nothing yet.
Conversion Convert(const std::string& src, double start, double end, const OutputWaveFormat& format,
                   const std::string& out, int stopAfterMs = -1, int audioCount = 1, int cores = 0,
                   SourceAnalysisRef analysis = nullptr) {
    ConversionEngine engine;
    ConversionRequest request;
    request.analysis = std::move(analysis);
    request.source.audioCount = audioCount;
    request.source.audioPath = src;
    request.source.startTime = Seconds(start);
    request.source.endTime = Seconds(end);
    request.outputPath = out;
    request.format = format;
    request.cores = cores;
    // Only against a hang: under ThreadSanitizer a long conversion takes minutes.
    (void)RunConversion(engine, request, stopAfterMs, true, 900000);
    Conversion c;
    c.outcome = engine.outcome();
    c.failure = engine.failureText();
    for (const ConversionNotice& n : engine.notices()) {
        c.notices.push_back(n.text);
        c.reasons.push_back(n.reason);
    }
    struct stat st {};
    if (::stat(out.c_str(), &st) == 0 && S_ISREG(st.st_mode)) c.wav = ReadWavFile(out);
    return c;
}

std::vector<float> SourceChannel(const Pcm& pcm, int c, std::size_t fromFrame = 0) {
    std::vector<float> out;
    for (std::size_t f = fromFrame; f < pcm.samples.size() / std::size_t(pcm.channels); ++f)
        out.push_back(pcm.samples[f * std::size_t(pcm.channels) + std::size_t(c)]);
    return out;
}

void ExpectHeader(const WavFile& w, const OutputWaveFormat& f) {
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.formatTag, 1);
    EXPECT_EQ(w.channels, f.nChannels);
    EXPECT_EQ(w.sampleRate, f.nSamplesPerSec);
    EXPECT_EQ(w.byteRate, f.nAvgBytesPerSec);
    EXPECT_EQ(w.blockAlign, f.nBlockAlign);
    EXPECT_EQ(w.bitsPerSample, f.wBitsPerSample);
    // Sizes that agree with the file: what any reader needs.
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    EXPECT_EQ(w.dataSize % f.nBlockAlign, 0u);
}

class Engine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        noise_ = Noise(4.0);
        std::string e;
        auto make = [&](const char* name, AudioKind kind, const Pcm& pcm) {
            ASSERT_TRUE(MakeAudio(Path(name), kind, pcm, &e)) << name << ": " << e;
        };
        make("noise.mp3", AudioKind::Mp3, noise_);
        ASSERT_TRUE(MakeGaplessMp3(Path("noise-lame.mp3"), noise_, &e)) << e;
        ASSERT_TRUE(MakeGaplessMp3(Path("noise-lavc.mp3"), noise_, &e, "Lavc59.37")) << e;
        make("noise.ogg", AudioKind::OggVorbis, noise_);
        make("noise.flac", AudioKind::Flac, noise_);
        make("noise.wav", AudioKind::Wav, noise_);
        make("noise.m4a", AudioKind::M4aAac, noise_);
        make("noise-primed.m4a", AudioKind::M4aAac, noise_);
        ASSERT_TRUE(StateAacPriming(Path("noise-primed.m4a"), kAacEncoderPriming, 4 * 48000, &e)) << e;
        VideoSpec v;
        v.seconds = 4.0;
        v.audio = noise_;
        ASSERT_TRUE(MakeVideo(Path("noise.mp4"), v, &e)) << e;
        ASSERT_TRUE(StateAacPriming(Path("noise.mp4"), kAacEncoderPriming, 4 * 48000, &e)) << e;
        v.container = "mkv";
        ASSERT_TRUE(MakeVideo(Path("noise.mkv"), v, &e)) << e;
        make("clicks.flac", AudioKind::Flac, Clicks(4.0, {0.5, 1.25, 2.5, 3.5}));
        make("clicks.wav", AudioKind::Wav, Clicks(4.0, {0.5, 1.25, 2.5, 3.5}));
        make("tone.mp3", AudioKind::Mp3, Tone(3.0, 48000, 2, 440.0));
        make("tone.ogg", AudioKind::OggVorbis, Tone(3.0, 48000, 2, 440.0));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Path(const std::string& name) { return dir_->filePath(QString::fromStdString(name)).toStdString(); }

    static QTemporaryDir* dir_;
    static Pcm noise_;
};

QTemporaryDir* Engine::dir_ = nullptr;
Pcm Engine::noise_;

std::vector<std::int64_t> ClicksIn(const std::vector<float>& x) {
    float peak = 0;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    return ClickFrames(x, peak * 0.5f);
}

// The selection's first sample is the source's sample at the selection start
// (within 1 ms; exact where the container's timestamps are), and the output
// holds exactly the selection, for every format that states its delay; a file
// that does not state it keeps the delay its encoder put in.
TEST_F(Engine, SelectionIsSampleExactAcrossFormats) {
    struct Case {
        const char* file;
        std::int64_t expectedLag;  // output frame i holds source frame start + i + lag
    };
    const Case cases[] = {
        {"noise-lame.mp3", 0}, {"noise-lavc.mp3", 0},       {"noise.ogg", 0}, {"noise.flac", 0},
        {"noise.wav", 0},      {"noise-primed.m4a", 0},     {"noise.mp4", 0}, {"noise.mkv", 0},
        {"noise.mp3", -(kLameEncoderDelay + 529)}, {"noise.m4a", -kAacEncoderPriming},
    };
    const OutputWaveFormat f = Format(48000, 2, 16);
    for (const Case& c : cases) {
        for (const auto& [start, end] : {std::pair{0.0, 4.0}, std::pair{1.0, 3.0}, std::pair{2.25, 2.75}}) {
            SCOPED_TRACE(std::string(c.file) + " from " + std::to_string(start));
            const Conversion r = Convert(Path(c.file), start, end, f, Path("sel.wav"));
            EXPECT_EQ(r.outcome, Outcome::Done) << r.failure;
            ExpectHeader(r.wav, f);
            EXPECT_EQ(r.wav.frames(), std::uint64_t(std::llround((end - start) * 48000)));
            // Compared away from the file's start, where an undeclared delay has nothing to line up with.
            const std::size_t skip = start == 0.0 ? 4800 : 0;
            const auto ref = SourceChannel(noise_, 0, std::size_t(std::llround(start * 48000)) + skip);
            auto y = r.wav.channel(0);
            y.erase(y.begin(), y.begin() + std::ptrdiff_t(std::min<std::size_t>(skip, y.size())));
            y.resize(std::min<std::size_t>(y.size(), 12000));
            const std::int64_t lag = BestLag(ref, y, 1500);
            EXPECT_LE(std::llabs(lag - c.expectedLag), 48) << "lag " << lag;
            std::printf("  %-17s %.2f-%.2f s: %llu frames, first sample off by %lld frames\n", c.file, start, end,
                        static_cast<unsigned long long>(r.wav.frames()), static_cast<long long>(lag - c.expectedLag));
        }
    }
}

// Resampled targets: clicks land at round(t x rate) and a tone keeps its pitch;
// the header states exactly the chosen format.
TEST_F(Engine, ResampledFormatsKeepTimingAndPitch) {
    const OutputWaveFormat formats[] = {Format(44100, 2, 16), Format(8000, 1, 8), Format(37800, 2, 16),
                                        Format(96000, 1, 16)};
    for (const auto& f : formats) {
        SCOPED_TRACE(std::to_string(f.nSamplesPerSec) + "/" + std::to_string(f.nChannels) + "/" +
                     std::to_string(f.wBitsPerSample));
        for (const char* file : {"clicks.flac", "clicks.wav"}) {
            const Conversion r = Convert(Path(file), 1.0, 4.0, f, Path("clicks.out.wav"));
            ExpectHeader(r.wav, f);
            EXPECT_EQ(r.wav.frames(), 3u * f.nSamplesPerSec);
            const auto clicks = ClicksIn(r.wav.channel(0));
            ASSERT_EQ(clicks.size(), 3u) << file;
            const double expected[] = {0.25, 1.5, 2.5};
            for (std::size_t i = 0; i < 3; ++i)
                EXPECT_NEAR(double(clicks[i]), expected[i] * f.nSamplesPerSec, 1.0) << file << " click " << i;
        }
        for (const char* file : {"tone.mp3", "tone.ogg"}) {
            const Conversion r = Convert(Path(file), 0.5, 2.5, f, Path("tone.out.wav"));
            ExpectHeader(r.wav, f);
            EXPECT_EQ(r.wav.frames(), 2u * f.nSamplesPerSec);
            EXPECT_NEAR(ToneFrequency(r.wav.channel(0), int(f.nSamplesPerSec)), 440.0, 0.5) << file;
        }
    }
}

// The end of a selection is as exact as its start: a click just before the
// end is in the output, at its place, and one just after it is not; the
// frame count is exact, resampled or not, for every kind of source.
TEST_F(Engine, TheSelectionEndIsAsExactAsItsStart) {
    const Pcm clicks = Clicks(4.0, {2.0});
    std::string e;
    ASSERT_TRUE(MakeGaplessMp3(Path("end.mp3"), clicks, &e)) << e;
    ASSERT_TRUE(MakeAudio(Path("end.ogg"), AudioKind::OggVorbis, clicks, &e)) << e;
    ASSERT_TRUE(MakeAudio(Path("end.flac"), AudioKind::Flac, clicks, &e)) << e;
    ASSERT_TRUE(MakeAudio(Path("end.m4a"), AudioKind::M4aAac, clicks, &e)) << e;
    ASSERT_TRUE(StateAacPriming(Path("end.m4a"), kAacEncoderPriming, 4 * 48000, &e)) << e;
    VideoSpec v;
    v.seconds = 4.0;
    v.audio = clicks;
    ASSERT_TRUE(MakeVideo(Path("end.mp4"), v, &e)) << e;
    ASSERT_TRUE(StateAacPriming(Path("end.mp4"), kAacEncoderPriming, 4 * 48000, &e)) << e;
    for (const char* file : {"end.mp3", "end.ogg", "end.flac", "end.m4a", "end.mp4"}) {
        for (const OutputWaveFormat& f : {Format(48000, 2, 16), Format(44100, 1, 16)}) {
            SCOPED_TRACE(std::string(file) + " at " + std::to_string(f.nSamplesPerSec));
            const double start = 1.0, margin = 0.03;
            const Conversion in = Convert(Path(file), start, 2.0 + margin, f, Path("end-in.wav"));
            const Conversion out = Convert(Path(file), start, 2.0 - margin, f, Path("end-out.wav"));
            ASSERT_EQ(in.outcome, Outcome::Done) << in.failure;
            ASSERT_EQ(out.outcome, Outcome::Done) << out.failure;
            EXPECT_EQ(in.wav.frames(), std::uint64_t(std::llround((1.0 + margin) * f.nSamplesPerSec)));
            EXPECT_EQ(out.wav.frames(), std::uint64_t(std::llround((1.0 - margin) * f.nSamplesPerSec)));
            const auto withClick = in.wav.channel(0);
            const auto clicksIn = ClicksIn(withClick);
            ASSERT_EQ(clicksIn.size(), 1u);
            EXPECT_NEAR(double(clicksIn[0]), 1.0 * f.nSamplesPerSec, f.nSamplesPerSec / 1000.0);
            float peakIn = 0, peakOut = 0;
            for (float x : withClick) peakIn = std::max(peakIn, std::fabs(x));
            for (float x : out.wav.channel(0)) peakOut = std::max(peakOut, std::fabs(x));
            EXPECT_LT(peakOut, peakIn * 0.2f) << "the click after the end leaked in";
        }
    }
}

// A container that promises a little more than its codec delivers (an AAC
// track's last frame, say) is made up with silence to the exact end; one that
// promises much more has been cut short, and that conversion fails.
TEST_F(Engine, ALittleShortfallAtTheEndIsSilenceAndMoreIsAFailure) {
    std::string e;
    for (const auto& [name, extra, done] : {std::tuple{"promise-a-little.m4a", 2000, true},
                                            std::tuple{"promise-much.m4a", 48000, false}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(MakeAudio(Path(name), AudioKind::M4aAac, noise_, &e)) << e;
        ASSERT_TRUE(StateAacPriming(Path(name), kAacEncoderPriming, 4 * 48000 + extra, &e)) << e;
        const double length = (4 * 48000 + extra) / 48000.0;
        const Conversion r = Convert(Path(name), 0.0, length, Format(48000, 2, 16), Path("promised.wav"));
        if (done) {
            EXPECT_EQ(r.outcome, Outcome::Done) << r.failure;
            EXPECT_EQ(r.wav.frames(), std::uint64_t(4 * 48000 + extra));
        } else {
            EXPECT_EQ(r.outcome, Outcome::Failed);
            EXPECT_NE(r.failure.find("ends after 00:00:04 of the selection's 00:00:05"), std::string::npos) << r.failure;
        }
    }
}

// The resampler sees the sound past the selection's end: the last frames of
// a selection are those of a longer one, not a filter's ring into silence.
TEST_F(Engine, TheLastFramesAreThoseOfALongerSelection) {
    const OutputWaveFormat f = MakeOutputWaveFormat(44100, 2, 32, SampleKind::Float);
    const Conversion shorter = Convert(Path("noise.flac"), 0.5, 2.0, f, Path("shorter.wav"));
    const Conversion longer = Convert(Path("noise.flac"), 0.5, 3.0, f, Path("longer.wav"));
    ASSERT_EQ(shorter.outcome, Outcome::Done) << shorter.failure;
    ASSERT_EQ(longer.outcome, Outcome::Done) << longer.failure;
    const auto a = shorter.wav.channel(0), b = longer.wav.channel(0);
    ASSERT_EQ(a.size(), 66150u);
    double worst = 0;
    for (std::size_t i = a.size() - 400; i < a.size(); ++i) worst = std::max(worst, double(std::fabs(a[i] - b[i])));
    EXPECT_LT(worst, 1e-5);
}

// A format the converter cannot put out ends the build at SetFormat, in one
// notice with its reason; nothing is written in another format than asked.
TEST_F(Engine, RefusedFormatIsNotWrittenInAnother) {
    const std::string out = Path("refused.wav");
    const Conversion r = Convert(Path("clicks.flac"), 0.0, 1.0, Format(1000000, 1, 8), out);
    EXPECT_EQ(r.outcome, Outcome::NotStarted);
    EXPECT_EQ(r.notices, std::vector<std::string>{"can not pASC->SetFormat(pmt)"});
    EXPECT_EQ(r.reasons, std::vector<std::string>{"The converter cannot produce 1000000 samples per second (1 to 768000)."});
    EXPECT_FALSE(FileExists(out));
}

TEST_F(Engine, SurroundIsDownMixedToTheChosenChannels) {
    Pcm six = Tone(2.0, 48000, 6, 440.0, 0.3);
    ASSERT_TRUE(MakeAudio(Path("six.wav"), AudioKind::Wav, six));
    for (std::uint16_t channels : {std::uint16_t(1), std::uint16_t(2)}) {
        const Conversion r = Convert(Path("six.wav"), 0.0, 2.0, Format(44100, channels, 16), Path("mix.wav"));
        ExpectHeader(r.wav, Format(44100, channels, 16));
        EXPECT_EQ(r.wav.frames(), 88200u);
        EXPECT_NEAR(ToneFrequency(r.wav.channel(0), 44100), 440.0, 0.5);
    }
}

// Left stays left through every decoder, whether it puts out its channels
// interleaved or one plane after the other.
TEST_F(Engine, ChannelsKeepTheirSides) {
    Pcm left = Tone(2.0, 48000, 2, 440.0, 0.4);
    for (std::size_t i = 1; i < left.samples.size(); i += 2) left.samples[i] = 0.0f;
    auto rms = [](const std::vector<float>& x) {
        double sum = 0;
        for (float v : x) sum += double(v) * v;
        return std::sqrt(sum / double(std::max<std::size_t>(1, x.size())));
    };
    for (AudioKind kind : {AudioKind::M4aAac, AudioKind::OggVorbis, AudioKind::Flac, AudioKind::Mp3}) {
        const std::string in = Path(std::string("left") + ExtensionOf(kind));
        ASSERT_TRUE(MakeAudio(in, kind, left)) << in;
        const Conversion r = Convert(in, 0.25, 1.75, Format(44100, 2, 16), Path("left.wav"));
        ASSERT_TRUE(r.wav.ok) << in << ": " << r.failure;
        EXPECT_NEAR(rms(r.wav.channel(0)), 0.4 / std::sqrt(2.0), 0.03) << in;
        EXPECT_LT(rms(r.wav.channel(1)), 0.01) << in;
    }
}

// Stereo wanted as mono is each channel at half weight, sample for sample, at
// the source's rate and resampled.
TEST_F(Engine, StereoBecomesMonoAtHalfWeightEach) {
    Pcm lr;
    lr.channels = 2;
    for (int i = 0; i < 48000; ++i) {
        lr.samples.push_back(float(0.5 * std::sin(2 * M_PI * 440.0 * i / 48000)));
        lr.samples.push_back(float(0.3 * std::sin(2 * M_PI * 1250.0 * i / 48000)));
    }
    ASSERT_TRUE(WriteWavFile(Path("lr.wav"), lr));
    const WavFile src = ReadWavFile(Path("lr.wav"));
    const Conversion same = Convert(Path("lr.wav"), 0.0, 1.0, Format(48000, 1, 16), Path("lr-mono.wav"));
    ExpectHeader(same.wav, Format(48000, 1, 16));
    ASSERT_EQ(same.wav.frames(), 48000u);
    for (std::uint64_t i = 0; i < 48000; ++i) {
        // The half-weight sum lies on a 16-bit step, and is kept exactly, or
        // half-way between two, and is dithered to one of them (TPDF dither):
        // within half a step either way, where rounding alone took the even one.
        const double exact = (src.at(i, 0) + src.at(i, 1)) / 2.0 * 32768.0;
        const double got = double(same.wav.at(i, 0)) * 32768.0;
        if (exact == std::nearbyint(exact)) ASSERT_EQ(got, exact) << "frame " << i;
        else ASSERT_LE(std::fabs(got - exact), 0.5) << "frame " << i;
    }
    // Resampled, the two tones keep their levels: 0.25 and 0.15.
    const Conversion low = Convert(Path("lr.wav"), 0.0, 1.0, Format(22050, 1, 16), Path("lr-low.wav"));
    ASSERT_EQ(low.wav.frames(), 22050u);
    double peak = 0;
    for (float v : low.wav.channel(0)) peak = std::max(peak, double(std::fabs(v)));
    EXPECT_NEAR(peak, 0.4, 0.01);
}

// Of several sound streams only the first is converted; pictures are never decoded.
// What measuring an MP3 learned is used by its conversion, so the file is
// scanned once; once the file has changed it is not trusted.
TEST_F(Engine, TheMeasuredMp3FramesAreUsedWhileTheFileIsUnchanged) {
    const std::string src = Path("measured.mp3");
    ASSERT_TRUE(MakeAudio(src, AudioKind::Mp3, Tone(3.0, 48000, 2, 440.0)));
    const SourceAnalysisRef measured = SourceAnalysis::Of(src);
    ASSERT_TRUE(measured && measured->mp3);
    // A table that lists only the first half of the frames: were it used, the
    // conversion would end short of its selection.
    auto half = std::make_shared<SourceAnalysis>(*measured);
    half->mp3Frames.resize(half->mp3Frames.size() / 2);
    half->mp3->audioFrames /= 2;
    const OutputWaveFormat f = Format(44100, 2, 16);
    EXPECT_EQ(Convert(src, 0.0, 2.5, f, Path("measured.wav"), -1, 1, 1, measured).outcome, Outcome::Done);
    EXPECT_EQ(Convert(src, 0.0, 2.5, f, Path("half.wav"), -1, 1, 1, half).outcome, Outcome::Failed);
    // The file written again since: the stale table is set aside, the file read anew.
    ASSERT_TRUE(MakeAudio(src, AudioKind::Mp3, Tone(3.0, 48000, 2, 440.0)));
    struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), later, 0), 0);
    const Conversion again = Convert(src, 0.0, 2.5, f, Path("again.wav"), -1, 1, 1, half);
    EXPECT_EQ(again.outcome, Outcome::Done) << again.failure;
    EXPECT_EQ(again.wav.frames(), 110250u);
}

TEST_F(Engine, OnlyTheFirstSoundStreamIsConverted) {
    const std::string path = Path("two-sounds.mkv");
    const std::string desc =
        "matroskamux name=mux ! filesink location=\"" + path +
        "\" audiotestsrc num-buffers=50 freq=440 samplesperbuffer=960 ! audio/x-raw,rate=48000 ! audioconvert ! "
        "vorbisenc ! mux. audiotestsrc num-buffers=50 freq=1000 samplesperbuffer=960 ! audio/x-raw,rate=48000 ! "
        "audioconvert ! vorbisenc ! mux.";
    GstElement* p = gst_parse_launch(desc.c_str(), nullptr);
    ASSERT_TRUE(p);
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    gst_message_unref(gst_bus_timed_pop_filtered(bus, 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    const Conversion r = Convert(path, 0.0, 0.9, Format(44100, 1, 16), Path("first.wav"));
    ASSERT_TRUE(r.wav.ok) << r.failure;
    EXPECT_NEAR(ToneFrequency(r.wav.channel(0), 44100), 440.0, 1.0);
}

// Stop brings the graph to its end first: the file is complete, with sizes
// that match the samples written, and holds the selection's start.
TEST_F(Engine, StopLeavesACompleteFile) {
    const std::string longInput = Path("long.wav");
    ASSERT_TRUE(WriteWavFile(longInput, Clicks(240.0, {0.5})));
    const OutputWaveFormat f = Format(44100, 2, 16);
    const Conversion r = Convert(longInput, 0.0, 240.0, f, Path("stopped.wav"), 60);
    EXPECT_EQ(r.outcome, Outcome::Stopped);
    ExpectHeader(r.wav, f);
    EXPECT_GT(r.wav.frames(), 0u);
    EXPECT_LT(r.wav.frames(), 240u * 44100u);
    const auto clicks = ClicksIn(r.wav.channel(0));
    if (r.wav.frames() > 30000) {
        ASSERT_FALSE(clicks.empty());
        EXPECT_NEAR(double(clicks[0]), 22050.0, 1.0);
    }
}

// An error while writing ends the conversion as a failure with the system's
// text; an output that cannot be created stops the build at Run.
TEST_F(Engine, WriteFailuresAreReported) {
    {
        const ScopedFileSizeLimit diskFull(64 * 1024);
        const Conversion full = Convert(Path("noise.flac"), 0.0, 4.0, Format(44100, 2, 16), Path("full.wav"));
        EXPECT_EQ(full.outcome, Outcome::Failed);
        // The failure names the file it concerns: here the output.
        EXPECT_EQ(full.failure, Path("full.wav") + ": Could not write to resource. (File too large)");
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("full.wav"))));
    // A device is refused by the writer itself, before anything is written
    // (the null device's numbers: were it ever written, nothing would happen).
    const std::string device = Path("device.wav");
    if (::mknod(device.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0) {
        const Conversion refused = Convert(Path("noise.flac"), 0.0, 1.0, Format(44100, 2, 16), device);
        EXPECT_EQ(refused.outcome, Outcome::NotStarted);
        EXPECT_EQ(refused.notices, std::vector<std::string>{"can not pControl->Run()!!!"});
        EXPECT_EQ(refused.reasons.at(0), "Cannot write " + device + ": it is a character device, not a regular file.");
        ::unlink(device.c_str());
    }
    const std::string ro = Path("read-only");
    ASSERT_EQ(::mkdir(ro.c_str(), 0555), 0);
    if (::geteuid() != 0) {  // root writes anywhere
        const Conversion denied = Convert(Path("noise.flac"), 0.0, 1.0, Format(44100, 2, 16), ro + "/out.wav");
        EXPECT_EQ(denied.outcome, Outcome::NotStarted);
        EXPECT_EQ(denied.notices, std::vector<std::string>{"can not pControl->Run()!!!"});
        EXPECT_NE(denied.reasons.at(0).find("out.wav"), std::string::npos) << denied.reasons.at(0);
    }
    const Conversion missing = Convert(Path("noise.flac"), 0.0, 1.0, Format(44100, 2, 16), Path("no/such/dir/x.wav"));
    EXPECT_EQ(missing.outcome, Outcome::NotStarted);
    EXPECT_EQ(missing.notices, std::vector<std::string>{"can not pControl->Run()!!!"});
    EXPECT_NE(missing.reasons.at(0).find("x.wav"), std::string::npos) << missing.reasons.at(0);
}

TEST_F(Engine, MediaWithoutSoundFailsWithAClearText) {
    VideoSpec silent;
    silent.withAudio = false;
    ASSERT_TRUE(MakeVideo(Path("silent.mp4"), silent));
    const Conversion r = Convert(Path("silent.mp4"), 0.0, 1.0, Format(44100, 2, 16), Path("silent.wav"));
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.failure, Path("silent.mp4") + ": The media file has no sound stream.");
}

TEST_F(Engine, TimelineWithoutGroupStopsAtTheGroupCount) {
    const Conversion r = Convert(Path("noise.flac"), 0.0, 1.0, Format(44100, 2, 16), Path("nogroup.wav"), -1, 0);
    EXPECT_EQ(r.outcome, Outcome::NotStarted);
    EXPECT_EQ(r.notices, std::vector<std::string>{"Could not GetGroupCount( &Groups )"});
}

TEST_F(Engine, MissingSourceIsReportedOnceAndNothingIsBuilt) {
    const Conversion r = Convert(Path("gone.flac"), 0.0, 1.0, Format(44100, 2, 16), Path("gone.wav"));
    EXPECT_EQ(r.outcome, Outcome::NotStarted);
    // One notice: nothing is built on a source that is gone, so no empty file is left.
    EXPECT_EQ(r.notices, std::vector<std::string>{"The media file " + Path("gone.flac") + " can no longer be read."});
    EXPECT_FALSE(FileExists(Path("gone.wav")));
}

}  // namespace

// A long selection in a file that seeks to the sample (a container with a
// sample index, or an MP3 read frame by frame) is decoded in spans side by
// side: the joined output must be the one-branch output, sample for sample,
// and clicks on and around the joins land where they belong.
TEST_F(Engine, SpansDecodedSideBySideJoinWithoutASeam) {
    const std::vector<double> clickTimes = {14.99, 15.0, 16.5, 30.5, 45.0};
    const Pcm clicks = Clicks(50.0, clickTimes, 48000, 2);
    Pcm noisy = Noise(50.0, 48000, 2, 0.1, 7);
    // An AAC decoder fills noise-substituted bands from a random generator of
    // its own, which a seek restarts: AAC is compared on a tone.
    Pcm tonal = Tone(50.0, 48000, 2, 440.0, 0.3);
    for (std::size_t i = 0; i < clicks.samples.size(); ++i) {
        noisy.samples[i] += clicks.samples[i];
        tonal.samples[i] += clicks.samples[i];
    }
    std::string e;
    const OutputWaveFormat f = Format(44100, 2, 16);
    // MP3 also as a low-rate mono VBR stream, whose decoder carries the most
    // from frame to frame, and as an 8 kHz stereo one, whose buffers last
    // longer than a span's run-in.
    ASSERT_TRUE(MakeMp3With(Path("long-mono.mp3"), Noise(50.0, 22050, 1, 0.1, 9), "target=quality quality=6", &e)) << e;
    ASSERT_TRUE(
        MakeMp3With(Path("long-8k.mp3"), Noise(50.0, 8000, 2, 0.1, 11), "target=bitrate bitrate=24 cbr=true", &e))
        << e;
    for (const auto& [name, kind] :
         {std::pair{"long.ogg", AudioKind::OggVorbis}, std::pair{"long.flac", AudioKind::Flac},
          std::pair{"long.m4a", AudioKind::M4aAac}, std::pair{"long.mp3", AudioKind::Mp3},
          std::pair{"long-mono.mp3", AudioKind::Mp3}, std::pair{"long-8k.mp3", AudioKind::Mp3}}) {
        SCOPED_TRACE(name);
        if (kind != AudioKind::Mp3 || std::strcmp(name, "long.mp3") == 0) {
            ASSERT_TRUE(MakeAudio(Path(name), kind, kind == AudioKind::M4aAac ? tonal : noisy, &e)) << e;
        }
        const Conversion spans = Convert(Path(name), 1.5, 48.5, f, Path("spans.wav"), -1, 1, 2);
        const Conversion one = Convert(Path(name), 1.5, 48.5, f, Path("one.wav"), -1, 1, 1);
        ASSERT_EQ(spans.outcome, Outcome::Done) << spans.failure;
        ASSERT_EQ(one.outcome, Outcome::Done) << one.failure;
        ExpectHeader(spans.wav, f);
        EXPECT_EQ(spans.wav.frames(), 47u * 44100u);
        ASSERT_EQ(spans.wav.frames(), one.wav.frames());
        // Both channels: a fault in one plane only shows in that channel.
        std::size_t differing = 0;
        for (std::size_t i = 0; i < spans.wav.samples.size(); ++i)
            differing += spans.wav.samples[i] != one.wav.samples[i];
        EXPECT_EQ(differing, 0u);
        const auto a = spans.wav.channel(0);
        if (kind == AudioKind::Flac) {  // lossless: the clicks are sharp
            const auto found = ClicksIn(a);
            ASSERT_EQ(found.size(), clickTimes.size());
            for (std::size_t k = 0; k < clickTimes.size(); ++k)
                EXPECT_NEAR(double(found[k]), (clickTimes[k] - 1.5) * 44100, 1.0) << k;
        }
    }
    // Stopped in the middle, the spans leave a complete file too.
    ASSERT_TRUE(MakeAudio(Path("longer.flac"), AudioKind::Flac, Clicks(600.0, {0.5}, 48000, 2), &e)) << e;
    // Early, and late when a branch waits for its turn with a full queue.
    // A fast machine may finish before the late stop: then the file is whole.
    for (int stopAfterMs : {50, 250}) {
        const Conversion stopped =
            Convert(Path("longer.flac"), 0.0, 600.0, f, Path("stopped-spans.wav"), stopAfterMs, 1, 2);
        ExpectHeader(stopped.wav, f);
        if (stopAfterMs == 50 || stopped.outcome != Outcome::Done) {
            EXPECT_EQ(stopped.outcome, Outcome::Stopped) << stopAfterMs << " " << stopped.failure;
            EXPECT_LT(stopped.wav.frames(), 600u * 44100u);
        } else {
            EXPECT_EQ(stopped.wav.frames(), 600u * 44100u);
        }
    }
}
