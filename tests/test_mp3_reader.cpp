// The conversion graph's MP3 reader on files made here: every frame comes
// out, stamped by its sample count; after a seek, output starts at the seek
// position (on the frame that holds it, or clipped to it) and is the same to
// the bit as decoding from the start, also for the streams whose decoders carry state furthest (mono,
// low rates, VBR); a damaged frame is silence of its own length.

#include "media/elements/Mp3Reader.h"
#include "formats/Mp3Stream.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace veltrano;
using namespace veltrano::test;

namespace {

std::vector<Mp3FrameRef> FramesOf(std::initializer_list<std::uint32_t> sizes) {
    std::vector<Mp3FrameRef> frames;
    std::uint64_t offset = 0;
    for (std::uint32_t bytes : sizes) {
        frames.push_back({offset, bytes});
        offset += bytes;
    }
    return frames;
}

// The predecessor is decoded whole, and before it at least four frames
// whose main data (what follows header and side information) holds twice the
// largest back reference of its main data.
TEST(Mp3RunIn, CoversThePredecessorsBackReferenceInMainData) {
    const std::vector<Mp3FrameRef> small(60, Mp3FrameRef{0, 100});
    EXPECT_EQ(RunInStart(small, 50, 40, 511), 31u);  // 18 frames of 60 bytes before the predecessor
    EXPECT_EQ(RunInStart(small, 5, 40, 511), 0u);    // as far back as the file goes
    EXPECT_EQ(RunInStart(small, 1, 40, 511), 0u);
    EXPECT_EQ(RunInStart(small, 0, 40, 511), 0u);
    const std::vector<Mp3FrameRef> large(10, Mp3FrameRef{0, 1500});
    EXPECT_EQ(RunInStart(large, 8, 38, 511), 3u);  // large frames: four of them
    const auto mixed = FramesOf({900, 100, 100, 100, 100, 100, 100});
    EXPECT_EQ(RunInStart(mixed, 6, 40, 511), 0u);
    // Low-rate MPEG-2 stereo: a byte of main data in a 24-byte frame.
    const std::vector<Mp3FrameRef> tiny(800, Mp3FrameRef{0, 24});
    EXPECT_EQ(RunInStart(tiny, 700, 23, 255), 189u);
}

struct Read {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
    std::vector<GstClockTime> pts;
    std::vector<std::uint64_t> bufferFrames;
    bool eos = false;
    std::string error;
    std::size_t frames() const { return channels ? samples.size() / std::size_t(channels) : 0; }
};

// Reads a file through the reader; from 'seekTo' seconds when not negative;
// 'whenPaused' runs once the reader has started, before data flows on.
Read ReadFile(const std::string& path, double seekTo = -1, const std::function<void()>& whenPaused = nullptr) {
    const std::string launch = std::string(kMp3ReaderElementName) + " location=\"" + path +
                               "\" ! audioconvert ! audio/x-raw,format=F32LE,layout=interleaved ! "
                               "appsink name=out sync=false";
    Read r;
    GError* err = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
    if (err) {
        r.error = err->message;
        g_error_free(err);
        if (pipeline) gst_object_unref(pipeline);
        return r;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    const bool started = gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND) != GST_STATE_CHANGE_FAILURE;
    if (started && whenPaused) whenPaused();
    if (started && seekTo >= 0) {
        EXPECT_TRUE(gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                            GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                            gint64(seekTo * GST_SECOND)));
    }
    if (started) gst_element_set_state(pipeline, GST_STATE_PLAYING);
    while (GstSample* sample = started ? gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND) : nullptr) {
        GstAudioInfo info;
        gst_audio_info_from_caps(&info, gst_sample_get_caps(sample));
        r.rate = GST_AUDIO_INFO_RATE(&info);
        r.channels = GST_AUDIO_INFO_CHANNELS(&info);
        GstBuffer* buf = gst_sample_get_buffer(sample);
        GstMapInfo map;
        gst_buffer_map(buf, &map, GST_MAP_READ);
        const float* f = reinterpret_cast<const float*>(map.data);
        r.samples.insert(r.samples.end(), f, f + map.size / sizeof(float));
        r.pts.push_back(GST_BUFFER_PTS(buf));
        r.bufferFrames.push_back(map.size / sizeof(float) / std::size_t(r.channels));
        gst_buffer_unmap(buf, &map);
        gst_sample_unref(sample);
    }
    r.eos = gst_app_sink_is_eos(GST_APP_SINK(sink));
    GstBus* bus = gst_element_get_bus(pipeline);
    if (GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError* e = nullptr;
        gst_message_parse_error(msg, &e, nullptr);
        r.error = e ? e->message : "error";
        if (e) g_error_free(e);
        gst_message_unref(msg);
    }
    gst_object_unref(bus);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return r;
}

class Mp3Reader : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(Mp3ReaderAvailable()) << "libavcodec's MP3 decoder could not be loaded";
    }
    std::string Path(const char* name) { return dir_.filePath(name).toStdString(); }
    QTemporaryDir dir_;
};

// Every buffer is stamped where its first sample lies: no drift, no gap.
void ExpectStampedBySampleCount(const Read& r, std::uint64_t firstFrame) {
    std::uint64_t at = firstFrame;
    for (std::size_t i = 0; i < r.pts.size(); ++i) {
        ASSERT_EQ(r.pts[i], gst_util_uint64_scale_int(at, GST_SECOND, r.rate)) << "buffer " << i;
        at += r.bufferFrames[i];
    }
}

TEST_F(Mp3Reader, SeeksLandOnTheFrameAndDecodeAsFromTheStart) {
    struct Case {
        const char* name;
        int rate, channels;
        const char* settings;
    };
    const Case cases[] = {
        {"cbr-48k-stereo.mp3", 48000, 2, "target=bitrate bitrate=192 cbr=true"},
        {"vbr-22k-mono.mp3", 22050, 1, "target=quality quality=4"},
        {"cbr-8k-mono.mp3", 8000, 1, "target=bitrate bitrate=16 cbr=true"},
        {"vbr-44k-mono.mp3", 44100, 1, "target=quality quality=6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path(c.name);
        std::string e;
        ASSERT_TRUE(MakeMp3With(path, Noise(12.0, c.rate, c.channels, 0.3, 3), c.settings, &e)) << e;
        const auto info = AnalyzeMp3File(path);
        ASSERT_TRUE(info);
        const Read whole = ReadFile(path);
        ASSERT_EQ(whole.error, "");
        EXPECT_TRUE(whole.eos);
        EXPECT_EQ(whole.rate, c.rate);
        EXPECT_EQ(whole.channels, c.channels);
        EXPECT_EQ(std::int64_t(whole.frames()), info->DecodedSamples());
        ExpectStampedBySampleCount(whole, 0);
        // Times on every rate's sample grid, so a clip to them cuts whole samples.
        for (double t : {0.9, 2.36, 5.5, 10.02}) {
            SCOPED_TRACE("from " + std::to_string(t));
            const Read part = ReadFile(path, t);
            ASSERT_EQ(part.error, "");
            EXPECT_TRUE(part.eos);
            // From the frame that holds the position, or clipped to it.
            ASSERT_FALSE(part.pts.empty());
            const std::uint64_t first = gst_util_uint64_scale_int_round(part.pts[0], c.rate, GST_SECOND);
            const auto at = std::uint64_t(t * c.rate);
            EXPECT_LE(first, at);
            EXPECT_GT(first + std::uint64_t(info->samplesPerFrame), at);
            ExpectStampedBySampleCount(part, first);
            ASSERT_EQ(part.frames(), whole.frames() - first);
            const float* expected = whole.samples.data() + first * std::uint64_t(c.channels);
            std::size_t differing = 0;
            for (std::size_t i = 0; i < part.samples.size(); ++i) differing += part.samples[i] != expected[i];
            EXPECT_EQ(differing, 0u);
        }
    }
}

// Frames whose bodies are nonsense decode to whatever the codec makes of
// them, or to silence; either way every frame keeps its length and the rest
// of the file is decoded.
TEST_F(Mp3Reader, DamagedFramesKeepTheirLength) {
    const std::string path = Path("damaged.mp3");
    std::string e;
    ASSERT_TRUE(MakeMp3With(path, Tone(6.0, 44100, 2, 440.0, 0.4), "target=bitrate bitrate=128 cbr=true", &e)) << e;
    std::vector<Mp3FrameRef> frames;
    const auto info = AnalyzeMp3File(path, &frames);
    ASSERT_TRUE(info);
    ASSERT_GT(frames.size(), 100u);
    const Read clean = ReadFile(path);
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    for (std::size_t k : {40u, 41u, 90u}) {
        f.seek(qint64(frames[k].offset + 6));  // past the header and the side information's start
        QByteArray junk(int(frames[k].bytes - 6), '\0');
        for (int i = 0; i < junk.size(); ++i) junk[i] = char(0x5A ^ (i * 37));
        f.write(junk);
    }
    f.close();
    const Read damaged = ReadFile(path);
    EXPECT_EQ(damaged.error, "");
    EXPECT_TRUE(damaged.eos);
    EXPECT_EQ(damaged.frames(), clean.frames());
    ExpectStampedBySampleCount(damaged, 0);
    // Well after the damage the sound is the same again.
    const std::size_t from = 100 * std::size_t(info->samplesPerFrame) * 2;
    ASSERT_LT(from, clean.samples.size());
    EXPECT_EQ(std::memcmp(damaged.samples.data() + from, clean.samples.data() + from,
                          (clean.samples.size() - from) * sizeof(float)),
              0);
}

// A file cut short under the reader is an error, not silence.
TEST_F(Mp3Reader, AFileCutShortWhileReadIsAnError) {
    const std::string path = Path("cut.mp3");
    std::string e;
    ASSERT_TRUE(MakeMp3With(path, Noise(30.0, 44100, 2, 0.3, 5), "target=bitrate bitrate=128 cbr=true", &e)) << e;
    const Read r = ReadFile(path, -1, [&] { ASSERT_TRUE(QFile::resize(QString::fromStdString(path), 300 * 1024)); });
    EXPECT_NE(r.error, "");
    EXPECT_LT(r.frames(), std::size_t(20 * 44100));
}

TEST_F(Mp3Reader, WhatIsNotAnMp3IsRefused) {
    const std::string path = Path("text.mp3");
    ASSERT_TRUE(MakeTextFile(path));
    const Read r = ReadFile(path);
    EXPECT_NE(r.error, "");
    EXPECT_EQ(r.frames(), 0u);
    EXPECT_NE(ReadFile(Path("missing.mp3")).error, "");
}

}  // namespace
