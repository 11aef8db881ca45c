// Measuring media on the throw-away graph: exact lengths, the kinds of
// streams, and files that cannot be opened at all.

#include "media/MediaProbe.h"
#include "formats/Mp3Stream.h"
#include "tests/support/SlowFileSource.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <set>

using namespace veltrano;
using namespace veltrano::test;

namespace {

QTemporaryDir* g_dir = nullptr;
std::string Path(const std::string& name) { return g_dir->filePath(QString::fromStdString(name)).toStdString(); }

bool Launch(const std::string& description) {
    GstElement* p = gst_parse_launch(description.c_str(), nullptr);
    if (!p) return false;
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m) gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    return ok;
}

// Samples the installed decoder puts out for the file's sound.
std::int64_t DecodedFrames(const std::string& path) {
    const std::string out = path + ".decoded.wav";
    if (!Launch("filesrc location=\"" + path + "\" ! decodebin ! audioconvert ! audio/x-raw,format=S16LE ! wavenc ! "
                "filesink location=\"" + out + "\""))
        return -1;
    return std::int64_t(ReadWavFile(out).frames());
}

MediaProbe Probe(const std::string& path) {
    MediaProbe p;
    EXPECT_TRUE(ProbeMedia(path, p).succeeded()) << path;
    return p;
}

class Probing : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g_dir = new QTemporaryDir(); }
    static void TearDownTestSuite() {
        delete g_dir;
        g_dir = nullptr;
    }
};

TEST_F(Probing, LengthsAreExact) {
    const Pcm tone = Tone(2.5, 48000, 2, 440.0);
    ASSERT_TRUE(MakeAudio(Path("a.flac"), AudioKind::Flac, tone));
    ASSERT_TRUE(MakeAudio(Path("a.wav"), AudioKind::Wav, tone));
    ASSERT_TRUE(MakeGaplessMp3(Path("lame.mp3"), tone));
    ASSERT_TRUE(MakeGaplessMp3(Path("lavc.mp3"), tone, nullptr, "Lavc59.37"));
    ASSERT_TRUE(MakeAudio(Path("a.ogg"), AudioKind::OggVorbis, tone));
    for (const char* name : {"a.flac", "a.wav", "lame.mp3", "lavc.mp3"}) {
        const MediaProbe p = Probe(Path(name));
        EXPECT_EQ(p.stopPosition, 25'000'000) << name;
        EXPECT_TRUE(p.hasAudio);
        EXPECT_FALSE(p.hasVideo);
    }
    EXPECT_NEAR(double(Probe(Path("a.ogg")).stopPosition), 25'000'000.0, 10'000.0);
}

// MP3s that do not state their length are measured by their frames: what
// the decoder puts out, to the sample (a bitrate estimate is not).
TEST_F(Probing, Mp3WithoutHeaderIsMeasuredByItsFrames) {
    ASSERT_TRUE(MakeAudio(Path("xing.mp3"), AudioKind::Mp3, Tone(2.5)));
    ASSERT_TRUE(Launch("audiotestsrc wave=ticks num-buffers=120 samplesperbuffer=1000 ! audio/x-raw,rate=44100 ! "
                       "lamemp3enc target=quality quality=0 ! filesink location=\"" + Path("vbr.mp3") + "\""));
    const auto vbr = AnalyzeMp3File(Path("vbr.mp3"));
    ASSERT_TRUE(vbr);
    EXPECT_FALSE(vbr->hasInfoFrame);
    for (const char* name : {"xing.mp3", "vbr.mp3"}) {
        const std::int64_t frames = DecodedFrames(Path(name));
        const int rate = std::string(name) == "vbr.mp3" ? 44100 : 48000;
        ASSERT_GT(frames, 0);
        EXPECT_NEAR(double(Probe(Path(name)).stopPosition), double(frames) * 1e7 / rate, 1.0) << name;
    }
}

TEST_F(Probing, VideosAndStreamKinds) {
    VideoSpec v;
    v.seconds = 2.5;
    v.audio = Noise(2.5);
    ASSERT_TRUE(MakeVideo(Path("v.mp4"), v));
    ASSERT_TRUE(StateAacPriming(Path("v.mp4"), kAacEncoderPriming, 120000));
    v.container = "mkv";
    ASSERT_TRUE(MakeVideo(Path("v.mkv"), v));
    v.withAudio = false;
    ASSERT_TRUE(MakeVideo(Path("silent.mkv"), v));
    // The media's length is the longest stream's: 63 pictures at 25 per second.
    const MediaProbe mp4 = Probe(Path("v.mp4"));
    EXPECT_NEAR(double(mp4.stopPosition), 25'200'000.0, 20'000.0);
    EXPECT_TRUE(mp4.hasAudio && mp4.hasVideo);
    const MediaProbe mkv = Probe(Path("v.mkv"));
    EXPECT_NEAR(double(mkv.stopPosition), 25'200'000.0, 20'000.0);
    EXPECT_TRUE(mkv.hasAudio && mkv.hasVideo);
    const MediaProbe silent = Probe(Path("silent.mkv"));
    EXPECT_FALSE(silent.hasAudio);
    EXPECT_TRUE(silent.hasVideo);
    EXPECT_GT(silent.stopPosition, 0);
}

// A FLAC written as a stream states no length; the parsers run to its end.
TEST_F(Probing, StreamWithoutStatedLengthIsParsedToItsEnd) {
    ASSERT_TRUE(Launch("audiotestsrc num-buffers=100 samplesperbuffer=1200 ! audio/x-raw,rate=48000 ! flacenc ! "
                       "flacparse ! filesink location=\"" + Path("stream.flac") + "\""));
    EXPECT_NEAR(double(Probe(Path("stream.flac")).stopPosition), 25'000'000.0, 1'000'000.0);
}

TEST_F(Probing, UnreadableFilesFailAtRender) {
    ASSERT_TRUE(MakeTextFile(Path("text.mp3")));
    ASSERT_TRUE(MakeZeroByteFile(Path("empty.mp3")));
    ASSERT_TRUE(MakeAudio(Path("whole.m4a"), AudioKind::M4aAac, Tone(1.0)));
    ASSERT_TRUE(MakeTruncatedCopy(Path("whole.m4a"), Path("cut.m4a"), 200));
    for (const char* name : {"text.mp3", "empty.mp3", "missing.flac", "cut.m4a"}) {
        MediaProbe p;
        ProbeStep step = ProbeStep::StopPosition;
        const Result r = ProbeMedia(Path(name), p, &step);
        EXPECT_TRUE(r.failed()) << name;
        EXPECT_EQ(step, ProbeStep::Render) << name;
        EXPECT_FALSE(r.text().empty());
    }
}

TEST_F(Probing, NonAsciiNames) {
    for (const char* name : {"chanson \xC3\xA9t\xC3\xA9.flac", "\xE6\xAD\x8C.flac"}) {
        ASSERT_TRUE(MakeAudio(Path(name), AudioKind::Flac, Tone(1.0)));
        EXPECT_EQ(Probe(Path(name)).stopPosition, 10'000'000) << name;
    }
}

// Collects the answers a prober posts.
class Answers final : public QObject {
public:
    std::vector<std::pair<std::uint64_t, MediaTime>> got;
    std::vector<std::string> failures;
    bool event(QEvent* e) override {
        if (static_cast<int>(e->type()) != kProbeDoneEventType) return QObject::event(e);
        const auto* done = static_cast<ProbeDoneEvent*>(e);
        got.emplace_back(done->ticket, done->probe.stopPosition);
        if (done->result.failed()) failures.push_back(done->path + ": " + done->result.text());
        return true;
    }
};

TEST_F(Probing, AProberAnswersWithAnEventOneFileAtATime) {
    ASSERT_TRUE(MakeAudio(Path("p.flac"), AudioKind::Flac, Tone(1.5)));
    ASSERT_TRUE(MakeTextFile(Path("p.mp3")));
    Answers answers;
    MediaProber prober(&answers);
    const std::uint64_t first = prober.Start(Path("p.flac"));
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.got.empty(); }, 20000));
    EXPECT_EQ(answers.got[0], (std::pair<std::uint64_t, MediaTime>{first, 15'000'000}));
    EXPECT_TRUE(answers.failures.empty());
    const std::uint64_t second = prober.Start(Path("p.mp3"));
    EXPECT_GT(second, first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.got.size() == 2; }, 20000));
    ASSERT_EQ(answers.failures.size(), 1u);
    EXPECT_EQ(answers.failures[0].rfind(Path("p.mp3") + ": ", 0), 0u);
}

TEST_F(Probing, AProberAbandonsAFileThatDoesNotAnswer) {
    ASSERT_TRUE(MakeAudio(Path("held.wav"), AudioKind::Wav, Tone(1.0)));
    SlowFileSource slow;
    slow.Hold(1);
    Answers answers;
    {
        MediaProber prober(&answers);
        ASSERT_NE(prober.Start(Path("held.wav")), 0u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return slow.waiting() > 0; }, 5000));
        EXPECT_TRUE(prober.Busy());
        EXPECT_EQ(prober.Start(Path("held.wav")), 0u) << "one file at a time";
    }  // returns at once, though the file still has not answered
    EXPECT_EQ(slow.waiting(), 0);
    QCoreApplication::sendPostedEvents(&answers);
    EXPECT_TRUE(answers.got.empty()) << "nothing is posted for an abandoned file";
}

}  // namespace
