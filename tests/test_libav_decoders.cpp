// The conversion graph's Vorbis and AAC decoders against the installed ones,
// on files made here: the same frames at the same times, channel by channel,
// from the start and after a seek; a damaged packet does not stop the stream;
// and Vorbis's headers reach the codec as it reads them.

#include "media/elements/LibAvDecoders.h"
#include "tests/support/TestMedia.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace veltrano;
using namespace veltrano::test;

namespace {

TEST(VorbisHeaders, AreRecognisedByTypeAndMagic) {
    auto packet = [](std::uint8_t type, const char* magic) {
        const std::string bytes = std::string(1, char(type)) + magic + '\0';
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    };
    for (auto [type, index] : {std::pair{1, 0}, std::pair{3, 1}, std::pair{5, 2}}) {
        const auto p = packet(std::uint8_t(type), "vorbis");
        EXPECT_EQ(VorbisHeaderIndex(p.data(), p.size()), index) << type;
    }
    for (const auto& p : {packet(0, "vorbis"), packet(7, "vorbis"), packet(1, "vorbiz"), packet(2, "vorbis")})
        EXPECT_EQ(VorbisHeaderIndex(p.data(), p.size()), -1) << int(p[0]);
    const std::uint8_t shortPacket[] = {1, 'v', 'o'};
    EXPECT_EQ(VorbisHeaderIndex(shortPacket, sizeof shortPacket), -1);
}

// Lengths of 255 and more take runs of 255; exactly 255 needs a closing 0.
TEST(VorbisHeaders, ArePackedWithXiphLacing) {
    struct Case {
        std::size_t first, second;
        std::vector<std::uint8_t> lacing;
    };
    for (const Case& c : {Case{30, 7, {30, 7}}, Case{255, 254, {255, 0, 254}}, Case{600, 510, {255, 255, 90, 255, 255, 0}}}) {
        std::array<std::vector<std::uint8_t>, 3> h{std::vector<std::uint8_t>(c.first, 0xA1),
                                                   std::vector<std::uint8_t>(c.second, 0xB2),
                                                   std::vector<std::uint8_t>(40, 0xC3)};
        const auto out = XiphExtradata(h);
        ASSERT_EQ(out.size(), 1 + c.lacing.size() + c.first + c.second + 40);
        EXPECT_EQ(out[0], 2);
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 1, out.begin() + 1 + long(c.lacing.size())), c.lacing);
        const std::size_t body = 1 + c.lacing.size();
        EXPECT_EQ(out[body], 0xA1);
        EXPECT_EQ(out[body + c.first], 0xB2);
        EXPECT_EQ(out[body + c.first + c.second], 0xC3);
        EXPECT_EQ(out.back(), 0xC3);
    }
}

// What a decoder made of a file: per channel position, the samples, and the
// time of the first.
struct Decoded {
    int rate = 0;
    std::map<GstAudioChannelPosition, std::vector<float>> channels;
    GstClockTime firstPts = GST_CLOCK_TIME_NONE;
    std::size_t frames() const { return channels.empty() ? 0 : channels.begin()->second.size(); }
};

// A packet's bytes made nonsense, as a damaged file would give them.
GstPadProbeReturn DamagePacket(GstPad*, GstPadProbeInfo* info, gpointer data) {
    int& countdown = *static_cast<int*>(data);
    if (--countdown != 0) return GST_PAD_PROBE_OK;
    GstBuffer* buf = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buf;
    GstMapInfo map;
    gst_buffer_map(buf, &map, GST_MAP_WRITE);
    for (gsize i = 0; i < map.size; ++i) map.data[i] = std::uint8_t(0x5A ^ (i * 37));
    map.data[0] &= 0xFE;  // still an audio packet
    gst_buffer_unmap(buf, &map);
    return GST_PAD_PROBE_OK;
}

// Decodes with the named decoder behind the given demuxer (and parser);
// from 'seekTo' seconds when not negative; damages the n-th packet into the
// decoder when damage > 0.
Decoded Decode(const std::string& path, const char* decoder, double seekTo = -1, int damage = 0,
               const std::string& demux = "oggdemux") {
    const std::string launch = "filesrc location=\"" + path + "\" ! " + demux + " ! " + decoder +
                               " name=dec ! audioconvert ! audio/x-raw,format=F32LE,layout=interleaved ! "
                               "appsink name=out sync=false";
    GError* err = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
    Decoded d;
    if (err) {
        ADD_FAILURE() << err->message;
        g_error_free(err);
        return d;
    }
    GstElement* dec = gst_bin_get_by_name(GST_BIN(pipeline), "dec");
    GstPad* decSink = gst_element_get_static_pad(dec, "sink");
    if (damage > 0) gst_pad_add_probe(decSink, GST_PAD_PROBE_TYPE_BUFFER, &DamagePacket, &damage, nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    EXPECT_NE(gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_FAILURE);
    if (seekTo >= 0) {
        EXPECT_TRUE(gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                            GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                            gint64(seekTo * GST_SECOND)));
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        GstAudioInfo info;
        gst_audio_info_from_caps(&info, gst_sample_get_caps(sample));
        d.rate = GST_AUDIO_INFO_RATE(&info);
        const int n = GST_AUDIO_INFO_CHANNELS(&info);
        GstBuffer* buf = gst_sample_get_buffer(sample);
        if (!GST_CLOCK_TIME_IS_VALID(d.firstPts)) d.firstPts = GST_BUFFER_PTS(buf);
        GstMapInfo map;
        gst_buffer_map(buf, &map, GST_MAP_READ);
        const float* f = reinterpret_cast<const float*>(map.data);
        const std::size_t frames = map.size / sizeof(float) / std::size_t(n);
        for (int c = 0; c < n; ++c) {
            auto& ch = d.channels[info.position[c]];
            for (std::size_t i = 0; i < frames; ++i) ch.push_back(f[i * std::size_t(n) + std::size_t(c)]);
        }
        gst_buffer_unmap(buf, &map);
        gst_sample_unref(sample);
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    if (GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError* e = nullptr;
        gst_message_parse_error(msg, &e, nullptr);
        ADD_FAILURE() << decoder << ": " << (e ? e->message : "error");
        if (e) g_error_free(e);
        gst_message_unref(msg);
    }
    EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink))) << decoder;
    gst_object_unref(bus);
    gst_object_unref(decSink);
    gst_object_unref(dec);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return d;
}

float MaxDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

// Each channel a tone of its own, so that a channel in the wrong place shows.
Pcm DistinctChannels(double seconds, int rate, int channels) {
    Pcm pcm;
    pcm.rate = rate;
    pcm.channels = channels;
    const std::size_t frames = std::size_t(seconds * rate);
    pcm.samples.resize(frames * std::size_t(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            pcm.samples[i * std::size_t(channels) + std::size_t(c)] =
                float(0.4 * std::sin(2 * 3.14159265358979 * (300.0 + 170.0 * c) * double(i) / rate));
    return pcm;
}

class LibAvDecoders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(VorbisDecoderAvailable()) << "libavcodec's Vorbis decoder could not be loaded";
    }
    std::string Make(const char* name, const Pcm& pcm, AudioKind kind = AudioKind::OggVorbis) {
        const std::string path = dir_.filePath(name).toStdString();
        std::string error;
        EXPECT_TRUE(MakeAudio(path, kind, pcm, &error)) << error;
        return path;
    }
    QTemporaryDir dir_;
};

void ExpectSameAsInstalled(const Decoded& ours, const Decoded& theirs, const char* what) {
    ASSERT_GT(theirs.frames(), 0u) << what;
    EXPECT_EQ(ours.rate, theirs.rate) << what;
    EXPECT_EQ(ours.frames(), theirs.frames()) << what;
    EXPECT_EQ(ours.firstPts, theirs.firstPts) << what;
    ASSERT_EQ(ours.channels.size(), theirs.channels.size()) << what;
    for (const auto& [position, samples] : theirs.channels) {
        ASSERT_TRUE(ours.channels.count(position)) << what << ": no channel at position " << position;
        EXPECT_LT(MaxDifference(ours.channels.at(position), samples), 1e-4f) << what << ", position " << position;
    }
}

TEST_F(LibAvDecoders, VorbisDecodesAsTheInstalledDecoderDoes) {
    for (auto [rate, channels] : {std::pair{48000, 2}, std::pair{22050, 1}, std::pair{44100, 6}}) {
        const std::string name = std::to_string(rate) + "-" + std::to_string(channels) + ".ogg";
        const std::string path = Make(name.c_str(), DistinctChannels(2.5, rate, channels));
        ExpectSameAsInstalled(Decode(path, kVorbisDecoderElementName), Decode(path, "vorbisdec"), name.c_str());
        // After a seek the first packet only primes the decoder again.
        ExpectSameAsInstalled(Decode(path, kVorbisDecoderElementName, 1.3), Decode(path, "vorbisdec", 1.3),
                              (name + " from 1.3 s").c_str());
    }
}

TEST_F(LibAvDecoders, DamagedVorbisPacketDoesNotStopTheStream) {
    const std::string path = Make("damaged.ogg", DistinctChannels(3.0, 48000, 2));
    const Decoded whole = Decode(path, kVorbisDecoderElementName);
    const Decoded damaged = Decode(path, kVorbisDecoderElementName, -1, 40);
    // At most the damaged packet's own samples (one long block) are lost.
    EXPECT_GE(damaged.frames() + 2048, whole.frames());
    EXPECT_LE(damaged.frames(), whole.frames() + 2048);
}

// The same library as the installed AAC decoder: the same samples exactly,
// from the start and after a seek, mono, stereo and 5.1.
TEST_F(LibAvDecoders, AacDecodesAsTheInstalledDecoderDoes) {
    ASSERT_TRUE(AacDecoderAvailable()) << "libavcodec's AAC decoder could not be loaded";
    const std::string demux = "qtdemux ! aacparse";
    for (auto [rate, channels] : {std::pair{48000, 2}, std::pair{22050, 1}, std::pair{44100, 6}}) {
        const std::string name = std::to_string(rate) + "-" + std::to_string(channels) + ".m4a";
        const std::string path = Make(name.c_str(), DistinctChannels(2.5, rate, channels), AudioKind::M4aAac);
        for (double from : {-1.0, 1.3}) {
            const Decoded ours = Decode(path, kAacDecoderElementName, from, 0, demux);
            const Decoded theirs = Decode(path, "avdec_aac", from, 0, demux);
            const std::string what = name + (from < 0 ? "" : " from 1.3 s");
            ExpectSameAsInstalled(ours, theirs, what.c_str());
            for (const auto& [position, samples] : theirs.channels) {
                if (ours.channels.count(position)) {
                    EXPECT_EQ(ours.channels.at(position), samples) << what;
                }
            }
        }
    }
}

TEST_F(LibAvDecoders, DamagedAacFrameDoesNotStopTheStream) {
    const std::string path = Make("damaged.m4a", DistinctChannels(3.0, 48000, 2), AudioKind::M4aAac);
    const Decoded whole = Decode(path, kAacDecoderElementName, -1, 0, "qtdemux ! aacparse");
    const Decoded damaged = Decode(path, kAacDecoderElementName, -1, 40, "qtdemux ! aacparse");
    EXPECT_GE(damaged.frames() + 1024, whole.frames());
    EXPECT_LE(damaged.frames(), whole.frames() + 1024);
}

}  // namespace
