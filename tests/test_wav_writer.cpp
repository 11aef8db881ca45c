// The WAV writer element on real GStreamer streams: byte for byte what wavenc
// wrote for the seed formats, the formats beyond them read back by our
// reader and by ffprobe, tags, RF64, the temporary file and its commit, what
// a failure leaves (the old file, nothing else), symbolic links, special
// files, two writers at once, and writing to a descriptor.

#include "engine/ConversionEngine.h"
#include "formats/WavFinish.h"
#include "media/GstHandles.h"
#include "core/OutputFile.h"
#include "media/elements/WavWriter.h"
#include "tests/support/EngineRun.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>

using namespace veltrano;
using namespace veltrano::test;

namespace {

std::string ReadBytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return bool(out);
}

// A pipeline from a launch line, torn down at the end of the scope.
class Pipeline {
public:
    explicit Pipeline(const std::string& launch) {
        gsth::Error error;
        pipeline_ = gsth::Element::Adopt(gst_parse_launch(launch.c_str(), error.out()));
        if (error) error_ = error->message;
    }
    ~Pipeline() {
        if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    bool ok() const { return pipeline_ && error_.empty(); }
    GstElement* get() const { return pipeline_.get(); }
    // The element named 'name' (held by the pipeline).
    GstElement* operator[](const char* name) const {
        gsth::Element e = gsth::Element::Adopt(gst_bin_get_by_name(GST_BIN(pipeline_.get()), name));
        return e.get();
    }
    GstStateChangeReturn SetState(GstState state) { return gst_element_set_state(pipeline_.get(), state); }
    // Plays to the end: "" on the end of the stream, else the error's text.
    std::string Run() {
        if (SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return ErrorOrDefault("could not start");
        return WaitForEnd();
    }
    std::string WaitForEnd() {
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline_.get()));
        gsth::Message msg = gsth::Message::Adopt(gst_bus_timed_pop_filtered(
            bus.get(), 60 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        std::string text;
        if (!msg) text = "nothing came";
        else if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) text = ErrorText(msg.get());
        SetState(GST_STATE_NULL);
        return text;
    }
    std::string ErrorOrDefault(const char* fallback) {
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline_.get()));
        gsth::Message msg = gsth::Message::Adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        return msg ? ErrorText(msg.get()) : fallback;
    }

private:
    static std::string ErrorText(GstMessage* msg) {
        gsth::Error err;
        gst_message_parse_error(msg, err.out(), nullptr);
        return err ? err->message : "error";
    }
    gsth::Element pipeline_;
    std::string error_;
};

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// What ffprobe makes of a file: its first stream and its format.
struct Probe {
    bool ok = false;
    QJsonObject stream;
    QJsonObject format;
    QString Tag(const char* key) const { return format.value("tags").toObject().value(key).toString(); }
};

Probe FfProbe(const std::string& path) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_streams", "-show_format", "-of", "json", QString::fromStdString(path)});
    Probe probe;
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return probe;
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonArray streams = root.value("streams").toArray();
    if (streams.isEmpty()) return probe;
    probe.stream = streams.first().toObject();
    probe.format = root.value("format").toObject();
    probe.ok = true;
    return probe;
}

bool FfProbeInstalled() {
    QProcess p;
    p.start("ffprobe", {"-version"});
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

class Writer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string Path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    // Files of the folder, by name: a part file left behind shows here.
    QStringList Files() const {
        return QDir(dir_.path()).entryList(QDir::Files | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }

    // A tone into the writer, the same on every channel.
    std::string Write(const std::string& format, int rate, int channels, std::uint32_t mask, const std::string& out) {
        std::string layout = ",rate=" + std::to_string(rate) + ",channels=" + std::to_string(channels);
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", mask);
        if (channels > 1) layout += std::string(",channel-mask=(bitmask)") + hex;
        Pipeline p("audiotestsrc wave=sine volume=0.5 freq=1000 num-buffers=10 samplesperbuffer=4800 ! "
                   "audio/x-raw,format=F32LE" + layout + " ! audioconvert ! audio/x-raw,format=" + format + layout +
                   " ! veltranowavsink name=out location=" + Quoted(out));
        if (!p.ok()) return "launch failed";
        return p.Run();
    }
    std::string WriteStereo(const std::string& out) { return Write("S16LE", 44100, 2, 0x3, out); }

    QTemporaryDir dir_;
};

// ---- byte for byte what wavenc wrote ----

GstPadProbeReturn DropTags(GstPad*, GstPadProbeInfo* info, gpointer) {
    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_TAG ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// The conversion's graph never let a tag reach wavenc; its files had none.
std::string WriteWithWavenc(const std::string& source, const std::string& out) {
    Pipeline p(source + " ! wavenc name=mux ! filesink location=" + Quoted(out));
    if (!p.ok()) return "launch failed";
    gsth::Pad sink = gsth::Pad::Adopt(gst_element_get_static_pad(p["mux"], "sink"));
    gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &DropTags, nullptr, nullptr);
    return p.Run();
}

TEST_F(Writer, SeedFormatsAreWhatWavencWroteByteForByte) {
    int compared = 0;
    for (const char* format : {"U8", "S16LE"}) {
        for (int channels : {1, 2}) {
            for (int rate : {8000, 11025, 22050, 32000, 44100, 48000, 96000}) {
                // An odd count of frames: an odd data size for 8-bit mono.
                const std::string source = "audiotestsrc wave=sine num-buffers=3 samplesperbuffer=1001 ! "
                                           "audio/x-raw,format=" + std::string(format) +
                                           ",rate=" + std::to_string(rate) + ",channels=" + std::to_string(channels);
                const std::string old = Path("old.wav"), ours = Path("ours.wav");
                ASSERT_EQ(WriteWithWavenc(source, old), "");
                Pipeline p(source + " ! veltranowavsink location=" + Quoted(ours));
                ASSERT_EQ(p.Run(), "");
                const std::string a = ReadBytes(old), b = ReadBytes(ours);
                ASSERT_EQ(a.size(), 44u + 3003u * std::size_t(channels) * (format[0] == 'U' ? 1 : 2));
                EXPECT_EQ(a.substr(0, 44), b.substr(0, 44)) << format << " " << channels << " " << rate;
                EXPECT_TRUE(a == b) << format << " " << channels << " " << rate;
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 28);
}

// ---- beyond the seed formats ----

TEST_F(Writer, DeepAndFloatAndSurroundFormatsReadBack) {
    if (!FfProbeInstalled()) GTEST_SKIP() << "ffprobe is not installed";
    struct Case {
        const char* format;
        int channels;
        std::uint32_t mask;
        int rate;
        std::uint16_t tag, sampleType, bits;
        const char* codec;
        const char* layout;
    };
    const Case cases[] = {
        {"S24LE", 2, 0x3, 48000, 0xFFFE, 1, 24, "pcm_s24le", "stereo"},
        {"S24LE", 1, 0, 44100, 0xFFFE, 1, 24, "pcm_s24le", "mono"},
        {"S32LE", 2, 0x3, 96000, 0xFFFE, 1, 32, "pcm_s32le", "stereo"},
        // A plain float header states no speaker positions.
        {"F32LE", 2, 0x3, 48000, 3, 3, 32, "pcm_f32le", ""},
        {"F32LE", 1, 0, 22050, 3, 3, 32, "pcm_f32le", ""},
        {"S16LE", 6, 0x3F, 48000, 0xFFFE, 1, 16, "pcm_s16le", "5.1"},
        {"S24LE", 6, 0x3F, 48000, 0xFFFE, 1, 24, "pcm_s24le", "5.1"},
        {"F32LE", 6, 0x3F, 48000, 0xFFFE, 3, 32, "pcm_f32le", "5.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " x" + std::to_string(c.channels));
        const std::string out = Path("deep.wav");
        ASSERT_EQ(Write(c.format, c.rate, c.channels, c.mask, out), "");
        const WavFile w = ReadWavFile(out);
        ASSERT_TRUE(w.ok) << w.error;
        const std::uint64_t frames = 48000;
        EXPECT_EQ(w.formatTag, c.tag);
        EXPECT_EQ(w.sampleType, c.sampleType);
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(w.sampleRate, std::uint32_t(c.rate));
        EXPECT_EQ(w.bitsPerSample, c.bits);
        EXPECT_EQ(w.blockAlign, c.channels * c.bits / 8);
        EXPECT_EQ(w.byteRate, std::uint32_t(c.rate) * w.blockAlign);
        EXPECT_EQ(w.frames(), frames);
        EXPECT_EQ(w.riffSize, w.fileSize - 8);
        EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
        if (c.tag == 0xFFFE) {
            EXPECT_EQ(w.fmtSize, 40u);
            EXPECT_EQ(w.validBits, c.bits);
            EXPECT_EQ(w.channelMask, c.channels == 1 ? 0x4u : c.mask);
        }
        EXPECT_EQ(w.hasFact, c.sampleType == 3);
        if (w.hasFact) {
            EXPECT_EQ(w.factSamples, frames);
        }
        // Every channel carries the tone, at its level.
        for (int ch = 0; ch < c.channels; ++ch) {
            const std::vector<float> x = w.channel(ch);
            EXPECT_NEAR(ToneFrequency(x, c.rate), 1000.0, 0.5) << "channel " << ch;
            EXPECT_NEAR(*std::max_element(x.begin(), x.end()), 0.5, 0.01) << "channel " << ch;
        }
        const Probe probe = FfProbe(out);
        ASSERT_TRUE(probe.ok);
        EXPECT_EQ(probe.stream.value("codec_name").toString().toStdString(), c.codec);
        EXPECT_EQ(probe.stream.value("channels").toInt(), c.channels);
        EXPECT_EQ(probe.stream.value("sample_rate").toString().toInt(), c.rate);
        EXPECT_EQ(probe.stream.value("channel_layout").toString().toStdString(), c.layout);
        EXPECT_EQ(probe.stream.value("duration_ts").toVariant().toULongLong(), frames);
        EXPECT_EQ(probe.format.value("format_name").toString(), "wav");
    }
}

TEST_F(Writer, TagsGoInAListChunkAheadOfTheData) {
    const std::string tags =
        "title=\"Caf\xC3\xA9 au lait\",artist=\"The Band\",album=Album,genre=Rock,track-number=(uint)7,"
        "comment=\"Two words\",datetime=(GstDateTime)2021-05-04";
    for (const bool write : {true, false}) {
        const std::string out = Path(write ? "tagged.wav" : "untagged.wav");
        Pipeline p("audiotestsrc num-buffers=5 ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
                   "taginject name=tags ! veltranowavsink name=out location=" + Quoted(out));
        ASSERT_TRUE(p.ok());
        g_object_set(p["tags"], "tags", tags.c_str(), nullptr);
        g_object_set(p["out"], "tags", write ? TRUE : FALSE, nullptr);
        ASSERT_EQ(p.Run(), "");
        const WavFile w = ReadWavFile(out);
        ASSERT_TRUE(w.ok) << w.error;
        EXPECT_EQ(w.frames(), 5u * 1024u);
        if (!write) {
            EXPECT_EQ(w.chunkIds, (std::vector<std::string>{"fmt ", "data"}));
            EXPECT_EQ(w.dataOffset, 44u);
            continue;
        }
        EXPECT_EQ(w.chunkIds, (std::vector<std::string>{"fmt ", "LIST", "data"}));
        EXPECT_EQ(w.dataOffset % 2, 0u);
        const std::map<std::string, std::string> expected = {
            {"INAM", "Caf\xC3\xA9 au lait"}, {"IART", "The Band"}, {"IPRD", "Album"}, {"IGNR", "Rock"},
            {"ITRK", "7"},                  {"ICMT", "Two words"}, {"ICRD", "2021-05-04"}};
        EXPECT_EQ(w.info, expected);
        if (!FfProbeInstalled()) continue;
        const Probe probe = FfProbe(out);
        ASSERT_TRUE(probe.ok);
        EXPECT_EQ(probe.Tag("title"), QString::fromUtf8("Caf\xC3\xA9 au lait"));
        EXPECT_EQ(probe.Tag("artist"), "The Band");
        EXPECT_EQ(probe.Tag("album"), "Album");
        EXPECT_EQ(probe.Tag("genre"), "Rock");
        EXPECT_EQ(probe.Tag("track"), "7");
        EXPECT_EQ(probe.Tag("comment"), "Two words");
        EXPECT_EQ(probe.Tag("date"), "2021-05-04");
    }
}

// A stream expected past the RIFF limit is written as RF64 from its first
// byte; ended early, it stays a valid RF64 file with its true sizes.
TEST_F(Writer, ExpectedLengthPastTheRiffLimitMakesRf64) {
    const std::string out = Path("rf64.wav");
    Pipeline p("audiotestsrc wave=sine freq=1000 num-buffers=10 samplesperbuffer=4800 ! "
               "audio/x-raw,format=S16LE,rate=48000,channels=2 ! veltranowavsink name=out location=" + Quoted(out));
    ASSERT_TRUE(p.ok());
    g_object_set(p["out"], "expected-frames", guint64(1) << 31, nullptr);  // 8 GB
    ASSERT_EQ(p.Run(), "");
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(w.rf64);
    EXPECT_EQ(w.chunkIds.front(), "ds64");
    EXPECT_EQ(w.frames(), 48000u);
    EXPECT_EQ(w.ds64Samples, 48000u);
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    EXPECT_NEAR(ToneFrequency(w.channel(1), 48000), 1000.0, 0.5);
    if (!FfProbeInstalled()) return;
    const Probe probe = FfProbe(out);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.format.value("format_name").toString(), "wav");
    EXPECT_EQ(probe.stream.value("duration_ts").toVariant().toULongLong(), 48000u);
}

// ---- the temporary file, failures and the old output ----

TEST_F(Writer, AFailureLeavesTheOldFileAndNothingElse) {
    const std::string out = Path("out.wav");
    const std::string old = "the user's own bytes";
    ASSERT_TRUE(WriteBytes(out, old));
    const std::string stream = "audio/x-raw,format=S16LE,rate=48000,channels=2";
    // A source that fails part way is followed by an end of stream: as the
    // engine does, the file is committed only after an end without an error.
    {
        Pipeline p("audiotestsrc num-buffers=200 samplesperbuffer=4800 ! " + stream +
                   " ! identity error-after=100 ! veltranowavsink name=out location=" + Quoted(out));
        ASSERT_TRUE(p.ok());
        g_object_set(p["out"], "commit-on-eos", FALSE, nullptr);
        ASSERT_NE(p.SetState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(p.get()));
        gsth::Message first = gsth::Message::Adopt(gst_bus_timed_pop_filtered(
            bus.get(), 60 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        ASSERT_TRUE(first);
        EXPECT_EQ(GST_MESSAGE_TYPE(first.get()), GST_MESSAGE_ERROR);
        // The end that follows reaches the writer, which finishes its file but does not commit it.
        gsth::Message eos =
            gsth::Message::Adopt(gst_bus_timed_pop_filtered(bus.get(), 60 * GST_SECOND, GST_MESSAGE_EOS));
        ASSERT_TRUE(eos);
        EXPECT_FALSE(WavWriterCommitted(p["out"]));
        EXPECT_FALSE(WavWriterPartPath(p["out"]).empty());
        EXPECT_EQ(ReadBytes(out), old);
        p.SetState(GST_STATE_NULL);
    }
    EXPECT_EQ(ReadBytes(out), old);
    EXPECT_EQ(Files(), QStringList{"out.wav"});

    // A write that fails (a full disk) stands, though an end of stream follows it.
    {
        Pipeline p("audiotestsrc num-buffers=200 samplesperbuffer=4800 ! " + stream +
                   " ! queue ! veltranowavsink name=out location=" + Quoted(out));
        ASSERT_TRUE(p.ok());
        const ScopedFileSizeLimit diskFull(256 * 1024);
        EXPECT_EQ(p.Run(), "Could not write to resource.");
        EXPECT_FALSE(WavWriterCommitted(p["out"]));
    }
    EXPECT_EQ(ReadBytes(out), old);
    EXPECT_EQ(Files(), QStringList{"out.wav"});

    // Torn down while writing, without an end of stream.
    {
        Pipeline p("audiotestsrc samplesperbuffer=4800 ! " + stream + " ! veltranowavsink name=out location=" +
                   Quoted(out));
        ASSERT_TRUE(p.ok());
        ASSERT_NE(p.SetState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        const std::string part = WavWriterPartPath(p["out"]);
        ASSERT_FALSE(part.empty());
        // Named for what it is, beside the output, never taken for a WAV file.
        const std::string name = QFileInfo(QString::fromStdString(part)).fileName().toStdString();
        EXPECT_EQ(name.rfind("out.wav.part-", 0), 0u) << name;
        EXPECT_EQ(name.size(), std::string("out.wav.part-").size() + kPartSuffixLength);
        struct stat st {};
        ASSERT_TRUE(QTest::qWaitFor([&] { return ::stat(part.c_str(), &st) == 0 && st.st_size > (4 << 20); }, 30000));
        EXPECT_EQ(st.st_mode & 0777, 0600u);  // private while written
        EXPECT_EQ(ReadBytes(out), old);
        p.SetState(GST_STATE_NULL);
        EXPECT_FALSE(WavWriterCommitted(p["out"]));
    }
    EXPECT_EQ(ReadBytes(out), old);
    EXPECT_EQ(Files(), QStringList{"out.wav"});
}

// What the engine does after a stop that could not drain: the part is kept,
// finished, then put in the output's place.
TEST_F(Writer, AKeptPartIsFinishedAndCommitted) {
    const std::string out = Path("kept.wav");
    ASSERT_TRUE(WriteBytes(out, "old"));
    ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
    Pipeline p("audiotestsrc samplesperbuffer=4801 ! audio/x-raw,format=S24LE,rate=48000,channels=2 ! "
               "veltranowavsink name=out location=" + Quoted(out));
    ASSERT_TRUE(p.ok());
    ASSERT_NE(p.SetState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstElement* writer = p["out"];
    const std::string part = WavWriterPartPath(writer);
    ASSERT_FALSE(part.empty());
    struct stat st {};
    ASSERT_TRUE(QTest::qWaitFor([&] { return ::stat(part.c_str(), &st) == 0 && st.st_size > (2 << 20); }, 30000));
    WavWriterKeepPart(writer);
    p.SetState(GST_STATE_NULL);
    EXPECT_EQ(ReadBytes(out), "old");
    ASSERT_EQ(WavWriterPartPath(writer), part);
    ASSERT_TRUE(FinishWavFile(part, MakePcmFormat(48000, 2, 24)));
    std::string error;
    ASSERT_TRUE(WavWriterCommit(writer, error)) << error;
    EXPECT_TRUE(WavWriterCommitted(writer));
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.formatTag, 0xFFFE);
    EXPECT_EQ(w.dataSize % 6, 0u);
    EXPECT_GT(w.frames(), 300000u);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    EXPECT_NEAR(ToneFrequency(w.channel(0), 48000), 440.0, 0.5);
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the permissions of the file it replaced
    EXPECT_EQ(Files(), QStringList{"kept.wav"});
}

TEST_F(Writer, KeptPartsNobodyCommitsAreRemovedWithTheWriter) {
    std::string part;
    {
        Pipeline p("audiotestsrc ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! "
                   "veltranowavsink name=out location=" + Quoted(Path("never.wav")));
        ASSERT_NE(p.SetState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        part = WavWriterPartPath(p["out"]);
        struct stat st {};
        ASSERT_TRUE(QTest::qWaitFor([&] { return ::stat(part.c_str(), &st) == 0 && st.st_size > 0; }, 30000));
        WavWriterKeepPart(p["out"]);
        p.SetState(GST_STATE_NULL);
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(part)));
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(part)));
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(Writer, SymbolicLinksAreWrittenThrough) {
    ASSERT_EQ(::mkdir(Path("music").c_str(), 0755), 0);
    const std::string real = Path("music/real.wav");
    ASSERT_TRUE(WriteBytes(real, "old"));
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0);
    const std::string link = Path("link.wav");
    ASSERT_EQ(::symlink("music/real.wav", link.c_str()), 0);
    ASSERT_EQ(WriteStereo(link), "");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "music/real.wav");
    EXPECT_TRUE(ReadWavFile(real).ok);
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    // The part file was made beside the file written, not beside the link.
    EXPECT_EQ(QDir(QString::fromStdString(Path("music"))).entryList(QDir::Files), QStringList{"real.wav"});

    // A link to nothing yet: the file is made where it points, with the umask's permissions.
    const mode_t mask = ::umask(027);
    const std::string dangling = Path("dangling.wav");
    ASSERT_EQ(::symlink("music/new.wav", dangling.c_str()), 0);
    ASSERT_EQ(WriteStereo(dangling), "");
    ::umask(mask);
    ASSERT_EQ(::lstat(dangling.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(ReadWavFile(Path("music/new.wav")).ok);
    ASSERT_EQ(::stat(Path("music/new.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Links that go round in a loop are refused.
    ASSERT_EQ(::symlink("loop-b.wav", Path("loop-a.wav").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a.wav", Path("loop-b.wav").c_str()), 0);
    EXPECT_EQ(WriteStereo(Path("loop-a.wav")),
              "Cannot write " + Path("loop-a.wav") + ": its symbolic links go round in a loop.");
    EXPECT_EQ(OutputFileRefusal(Path("loop-a.wav")),
              "Cannot write " + Path("loop-a.wav") + ": its symbolic links go round in a loop.");
}

TEST_F(Writer, SpecialFilesAreRefusedWithoutBeingOpened) {
    SpecialOutputs special;
    ASSERT_TRUE(MakeSpecialOutputs(dir_.path().toStdString(), special));
    std::vector<std::pair<std::string, std::string>> refused = special.made;
    const std::string toFifo = Path("to-fifo.wav");
    ASSERT_EQ(::symlink("fifo.wav", toFifo.c_str()), 0);
    refused.emplace_back(toFifo, "a FIFO");
    for (const auto& [path, kind] : refused) {
        const std::string text = "Cannot write " + path + ": it is " + kind + ", not a regular file.";
        EXPECT_EQ(OutputFileRefusal(path), text);
        // Opening a FIFO for writing would wait for a reader: a refusal that returns did not open it.
        EXPECT_EQ(WriteStereo(path), text);
    }
    ExpectSpecialOutputsUntouched(special);
    QStringList names = {"device.wav", "fifo.wav", "folder.wav", "to-fifo.wav"};
    if (!special.HasDevice()) names.removeFirst();
    EXPECT_EQ(Files(), names);
    EXPECT_FALSE(OutputFileRefusal(Path("new.wav")));
    EXPECT_FALSE(OutputFileRefusal(Path("no/such/folder/new.wav")));
    RemoveSpecialOutputs(special);
    ::remove(toFifo.c_str());
}

TEST(PartFiles, NamesFitTheFileSystem) {
    EXPECT_EQ(PartFilePrefix("/music/song.wav"), "/music/song.wav.part-");
    EXPECT_EQ(PartFilePrefix("song.wav"), "song.wav.part-");
    // A name at the limit is shortened on a whole character to leave room for the mark.
    std::string name;
    while (name.size() < 250) name += "\xC3\xA9";
    const std::string prefix = PartFilePrefix("/m/" + name);
    EXPECT_LE(prefix.size() - 3 + kPartSuffixLength, 255u);
    EXPECT_EQ(prefix.substr(prefix.size() - 6), ".part-");
    EXPECT_EQ(prefix.size() % 2, 1u);  // "/m/" and two-byte characters: none cut in half
}

// Two writers at once to one output: each has its own part file, and the
// output ends as one whole file, the one renamed last.
TEST_F(Writer, TwoWritersToOneOutputLeaveOneWholeFile) {
    const std::string out = Path("both.wav");
    const auto launch = [&](double freq, int buffers, const std::string& to) {
        return "audiotestsrc wave=sine freq=" + std::to_string(freq) + " num-buffers=" + std::to_string(buffers) +
               " samplesperbuffer=4800 ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! "
               "veltranowavsink name=out location=" + Quoted(to);
    };
    Pipeline refA(launch(440, 30, Path("a.wav"))), refB(launch(1000, 50, Path("b.wav")));
    ASSERT_EQ(refA.Run(), "");
    ASSERT_EQ(refB.Run(), "");
    const std::string a = ReadBytes(Path("a.wav")), b = ReadBytes(Path("b.wav"));
    ASSERT_NE(a, b);

    for (int round = 0; round < 3; ++round) {
        Pipeline one(launch(440, 30, out)), two(launch(1000, 50, out));
        ASSERT_NE(one.SetState(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        ASSERT_NE(two.SetState(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        const std::string partOne = WavWriterPartPath(one["out"]), partTwo = WavWriterPartPath(two["out"]);
        ASSERT_FALSE(partOne.empty());
        EXPECT_NE(partOne, partTwo);
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(partOne)));
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(partTwo)));
        ASSERT_NE(one.SetState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        ASSERT_NE(two.SetState(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        EXPECT_EQ(one.WaitForEnd(), "");
        EXPECT_EQ(two.WaitForEnd(), "");
        const std::string result = ReadBytes(out);
        EXPECT_TRUE(result == a || result == b) << "round " << round << ": " << result.size() << " bytes";
        EXPECT_EQ(Files(), (QStringList{"a.wav", "b.wav", "both.wav"}));
    }
}

// ---- to a descriptor ----

// Reads a pipe to its end on a thread of its own.
class PipeReader {
public:
    PipeReader() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
        thread_ = std::thread([this] {
            char buf[65536];
            for (ssize_t n; (n = ::read(fds_[0], buf, sizeof buf)) > 0;) bytes_.append(buf, std::size_t(n));
        });
    }
    ~PipeReader() { Finish(); }
    int writeEnd() const { return fds_[1]; }
    // Closes the writing end and waits for the rest.
    const std::string& Finish() {
        if (fds_[1] >= 0) ::close(std::exchange(fds_[1], -1));
        if (thread_.joinable()) thread_.join();
        if (fds_[0] >= 0) ::close(std::exchange(fds_[0], -1));
        return bytes_;
    }

private:
    int fds_[2] = {-1, -1};
    std::thread thread_;
    std::string bytes_;
};

TEST_F(Writer, ADescriptorGetsExactSizesFromTheStart) {
    const std::string caps = "audio/x-raw,format=U8,rate=8000,channels=1";
    const auto launch =
        "audiotestsrc wave=sine num-buffers=1 samplesperbuffer=4800 ! " + caps + " ! veltranowavsink name=out";
    struct Case {
        guint64 expected;
        std::uint64_t padded;
    };
    for (const Case c : {Case{10001, 5201}, Case{3000, 0}, Case{4800, 0}}) {
        PipeReader reader;
        Pipeline p(launch);
        ASSERT_TRUE(p.ok());
        g_object_set(p["out"], "fd", reader.writeEnd(), "expected-frames", c.expected, nullptr);
        ASSERT_EQ(p.Run(), "");
        EXPECT_EQ(WavWriterPaddedFrames(p["out"]), c.padded);
        EXPECT_TRUE(WavWriterCommitted(p["out"]));
        const std::string bytes = reader.Finish();
        ASSERT_EQ(bytes.size(), 44u + c.expected);
        const std::string path = Path("piped.wav");
        ASSERT_TRUE(WriteBytes(path, bytes));
        const WavFile w = ReadWavFile(path);
        ASSERT_TRUE(w.ok) << w.error;
        EXPECT_EQ(w.frames(), c.expected);
        EXPECT_EQ(w.riffSize, w.fileSize - 8);
        // Made up with silence: 8-bit samples are unsigned, silence is 0x80.
        EXPECT_EQ(bytes.substr(44 + c.expected - c.padded), std::string(c.padded, '\x80'));
        EXPECT_NE(bytes.substr(44 + 2900, 100), std::string(100, '\x80'));
    }
    // Without a length before the first sample, the header could not be true.
    PipeReader reader;
    Pipeline p(launch);
    g_object_set(p["out"], "fd", reader.writeEnd(), nullptr);
    EXPECT_EQ(p.Run(), "Writing a WAV stream needs its length before the first sample.");
    EXPECT_EQ(reader.Finish(), "");
}

// ---- through the conversion engine ----

using Outcome = ConversionEngine::Outcome;

struct Converted {
    Outcome outcome = Outcome::Idle;
    std::string failure;
};

ConversionRequest RequestFor(const std::string& src, double seconds, const std::string& out,
                             const OutputWaveFormat& format = {}) {  // 44100 Hz, stereo, 16 bits
    ConversionRequest request;
    request.source.audioCount = 1;
    request.source.audioPath = src;
    request.source.endTime = MediaTime(std::llround(seconds * kUnitsPerSecond));
    request.outputPath = out;
    request.format = format;
    return request;
}

// Runs a conversion to its end; stopAfterMs >= 0 stops it that long after the start.
Converted Convert(const ConversionRequest& request, int stopAfterMs = -1) {
    ConversionEngine engine;
    (void)RunConversion(engine, request, stopAfterMs);
    return {engine.outcome(), engine.failureText()};
}

Converted Convert(const std::string& src, double seconds, const std::string& out) {
    return Convert(RequestFor(src, seconds, out));
}

// The source's tags reach the writer through the front end, from each kind
// of file (and from both branches of a long one decoded in spans).
TEST_F(Writer, ConversionsCarryTheSourcesTags) {
    if (!FfProbeInstalled()) GTEST_SKIP() << "ffprobe is not installed";
    const std::string tags = "title=\"Night Song\",artist=\"The Band\",album=Album,genre=Jazz,track-number=(uint)3,"
                             "comment=Live";
    struct Source {
        const char* name;
        const char* encoder;
        int buffers;
    };
    const Source sources[] = {
        {"tagged.flac", "flacenc", 100},
        {"tagged.ogg", "audioconvert ! vorbisenc ! oggmux", 100},
        {"tagged.mp3", "audioconvert ! lamemp3enc ! id3v2mux", 100},
        {"tagged.m4a", "audioconvert ! avenc_aac ! aacparse ! mp4mux", 100},
        {"long.flac", "flacenc", 40 * 44100 / 1024},  // decoded in two spans side by side
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        const std::string src = Path(s.name);
        Pipeline make("audiotestsrc num-buffers=" + std::to_string(s.buffers) +
                      " ! audio/x-raw,rate=44100,channels=2 ! taginject name=tags ! " + s.encoder +
                      " ! filesink location=" + Quoted(src));
        ASSERT_TRUE(make.ok());
        g_object_set(make["tags"], "tags", tags.c_str(), nullptr);
        ASSERT_EQ(make.Run(), "");
        const std::string out = Path(std::string(s.name) + ".wav");
        const double seconds = s.buffers * 1024.0 / 44100.0 - 0.5;
        const Converted c = Convert(src, seconds, out);
        ASSERT_EQ(c.outcome, Outcome::Done) << c.failure;
        const WavFile w = ReadWavFile(out);
        ASSERT_TRUE(w.ok) << w.error;
        EXPECT_EQ(w.chunkIds, (std::vector<std::string>{"fmt ", "LIST", "data"}));
        const Probe probe = FfProbe(out);
        ASSERT_TRUE(probe.ok);
        EXPECT_EQ(probe.Tag("title"), "Night Song");
        EXPECT_EQ(probe.Tag("artist"), "The Band");
        EXPECT_EQ(probe.Tag("album"), "Album");
        EXPECT_EQ(probe.Tag("genre"), "Jazz");
        EXPECT_EQ(probe.Tag("track"), "3");
        EXPECT_EQ(probe.Tag("comment"), "Live");
    }
}

// Two conversions to one output at once both end converted, and the output
// is one of the two files, whole.
TEST_F(Writer, TwoConversionsToOneOutputLeaveOneWholeFile) {
    const std::string low = Path("low.flac"), high = Path("high.flac");
    ASSERT_TRUE(MakeAudio(low, AudioKind::Flac, Tone(3.0, 44100, 2, 440.0)));
    ASSERT_TRUE(MakeAudio(high, AudioKind::Flac, Tone(4.0, 44100, 2, 1000.0)));
    ASSERT_EQ(Convert(low, 3.0, Path("low.wav")).outcome, Outcome::Done);
    ASSERT_EQ(Convert(high, 4.0, Path("high.wav")).outcome, Outcome::Done);
    const std::string lowBytes = ReadBytes(Path("low.wav")), highBytes = ReadBytes(Path("high.wav"));

    const std::string out = Path("both.wav");
    ConversionEngine first, second;
    QEventLoop loop;
    int ended = 0;
    for (ConversionEngine* e : {&first, &second})
        QObject::connect(e, &ConversionEngine::ended, &loop, [&] {
            if (++ended == 2) loop.quit();
        });
    const auto start = [&](ConversionEngine& e, const std::string& src, double seconds) {
        return e.Start(RequestFor(src, seconds, out));
    };
    ASSERT_EQ(start(first, low, 3.0), Outcome::Running);
    ASSERT_EQ(start(second, high, 4.0), Outcome::Running);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(first.outcome(), Outcome::Done);
    EXPECT_EQ(second.outcome(), Outcome::Done);
    const std::string result = ReadBytes(out);
    EXPECT_TRUE(result == lowBytes || result == highBytes) << result.size() << " bytes";
    EXPECT_EQ(Files(), (QStringList{"both.wav", "high.flac", "high.wav", "low.flac", "low.wav"}));
}

// Stopped as soon as it runs, a conversion still leaves a readable file in
// the output's place (finished by the engine when nothing was drained),
// and no part file.
TEST_F(Writer, AConversionStoppedAtOnceLeavesAReadableFile) {
    const std::string src = Path("tone.flac");
    ASSERT_TRUE(MakeAudio(src, AudioKind::Flac, Tone(20.0, 44100, 2, 440.0)));
    const std::string out = Path("stopped.wav");
    ASSERT_TRUE(WriteBytes(out, "old"));
    const Converted c = Convert(RequestFor(src, 20.0, out), 0);
    EXPECT_EQ(c.outcome, Outcome::Stopped) << c.failure;
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_LE(w.frames(), 20u * 44100u);
    EXPECT_EQ(Files(), (QStringList{"stopped.wav", "tone.flac"}));
}

// A selection whose output would pass 4 GB is written as RF64 from the
// start, and stopped early it is a valid RF64 file. The source is a sparse
// WAV of silence, 6.5 hours at 8 kHz mono, that takes no room on disk.
TEST_F(Writer, ConversionPastFourGigabytesIsWrittenAsRf64) {
    const std::string src = Path("long-silence.wav");
    const double seconds = 6.5 * 3600;
    const auto dataBytes = static_cast<std::uint32_t>(seconds * 8000 * 2);
    {
        Pcm header;
        header.rate = 8000;
        header.channels = 1;
        ASSERT_TRUE(WriteWavFile(src, header));
        std::fstream f(src, std::ios::in | std::ios::out | std::ios::binary);
        const char size[4] = {char(dataBytes), char(dataBytes >> 8), char(dataBytes >> 16), char(dataBytes >> 24)};
        const std::uint32_t riff = dataBytes + 36;
        const char riffSize[4] = {char(riff), char(riff >> 8), char(riff >> 16), char(riff >> 24)};
        f.seekp(4);
        f.write(riffSize, 4);
        f.seekp(40);
        f.write(size, 4);
    }
    ASSERT_EQ(::truncate(src.c_str(), off_t{44} + dataBytes), 0);
    const std::string out = Path("long.wav");
    OutputWaveFormat f48k;  // 48000 Hz stereo 16 bits: 6.5 hours are 4.5 GB
    f48k.nSamplesPerSec = 48000;
    f48k.nAvgBytesPerSec = 192000;
    const Converted c = Convert(RequestFor(src, seconds, out, f48k), 300);
    ASSERT_EQ(c.outcome, Outcome::Stopped) << c.failure;
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(w.rf64);
    EXPECT_GT(w.frames(), 0u);
    EXPECT_EQ(w.ds64Samples, w.frames());
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    ::unlink(src.c_str());
    if (!FfProbeInstalled()) return;
    const Probe probe = FfProbe(out);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.stream.value("duration_ts").toVariant().toULongLong(), w.frames());
}

}  // namespace
