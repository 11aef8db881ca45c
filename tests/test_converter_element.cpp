// The format converter element as GStreamer runs it: the output is what the
// resampler and the quantizer make of the stream from its start, with the
// quality the output's width calls for (HQ for 8 and 16 bits, VHQ above and
// for float), dither on by default and off by its property, float output
// passed as it is, and a 16-bit source at its own rate and width unchanged.

#include "dsp/Quantizer.h"
#include "dsp/Resampler.h"
#include "media/elements/ConverterElement.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace veltrano;

namespace {

std::vector<float> Tone(std::size_t frames, int channels, int rate) {
    std::vector<float> v(frames * std::size_t(channels));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = float(0.3 * std::sin(2 * M_PI * 997.0 * double(i / std::size_t(channels)) / rate + double(i % 2)));
    return v;
}

// Pushes 'input' (interleaved floats at inRate) through the element in
// buffers of 'piece' frames, asks for 'format' at outRate, and returns the
// bytes that come out.
std::vector<std::uint8_t> RunElement(const std::vector<float>& input, int channels, int inRate, int outRate,
                                     const char* format, int dither = -1, std::size_t piece = 1000) {
    const std::string desc = std::string("appsrc name=src format=time ! ") + kConverterElementName +
                             " name=conv ! capsfilter caps=\"audio/x-raw,format=" + format +
                             ",rate=" + std::to_string(outRate) + ",channels=" + std::to_string(channels) +
                             "\" ! appsink name=sink sync=false";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(desc.c_str(), &error);
    EXPECT_TRUE(pipeline) << (error ? error->message : "");
    if (error) g_error_free(error);
    if (!pipeline) return {};
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstElement* conv = gst_bin_get_by_name(GST_BIN(pipeline), "conv");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    if (dither >= 0) g_object_set(conv, "dither", gboolean(dither), nullptr);
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING,
                                        "interleaved", "rate", G_TYPE_INT, inRate, "channels", G_TYPE_INT, channels,
                                        nullptr);
    if (channels == 2)
        gst_caps_set_simple(caps, "channel-mask", GST_TYPE_BITMASK, gst_audio_channel_get_fallback_mask(2), nullptr);
    gst_app_src_set_caps(GST_APP_SRC(src), caps);
    gst_caps_unref(caps);
    EXPECT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    const std::size_t ch = std::size_t(channels), frames = input.size() / ch;
    for (std::size_t at = 0; at < frames; at += piece) {
        const std::size_t n = std::min(piece, frames - at);
        GstBuffer* buf = gst_buffer_new_memdup(input.data() + at * ch, n * ch * sizeof(float));
        GST_BUFFER_PTS(buf) = gst_util_uint64_scale_int(at, GST_SECOND, inRate);
        EXPECT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), buf), GST_FLOW_OK);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    std::vector<std::uint8_t> out;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        GstMapInfo map;
        GstBuffer* buf = gst_sample_get_buffer(sample);
        gst_buffer_map(buf, &map, GST_MAP_READ);
        out.insert(out.end(), map.data, map.data + map.size);
        gst_buffer_unmap(buf, &map);
        gst_sample_unref(sample);
    }
    EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink)));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(conv);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return out;
}

// What the resampler and the quantizer make of the whole stream.
std::vector<std::uint8_t> Expected(const std::vector<float>& input, int channels, int inRate, int outRate,
                                   ResampleQuality quality, SampleFormat format, Dither dither) {
    Resampler r(inRate, outRate, channels, quality);
    std::vector<float> y;
    EXPECT_TRUE(r.Process(input.data(), input.size() / std::size_t(channels), y));
    EXPECT_TRUE(r.Finish(y));
    std::vector<std::uint8_t> out(y.size() * BytesPerSample(format));
    Quantize(y.data(), y.size(), format, dither, 0, out.data());
    return out;
}

}  // namespace

TEST(ConverterElement, DitherIsAPropertyOnByDefault) {
    GstElement* e = gst_element_factory_make(kConverterElementName, nullptr);
    ASSERT_TRUE(e);
    gboolean dither = FALSE;
    g_object_get(e, "dither", &dither, nullptr);
    EXPECT_TRUE(dither);
    g_object_set(e, "dither", FALSE, nullptr);
    g_object_get(e, "dither", &dither, nullptr);
    EXPECT_FALSE(dither);
    gst_object_unref(gst_object_ref_sink(e));
}

TEST(ConverterElement, OutputIsTheResamplersAndTheQuantizersForEveryFormat) {
    const std::vector<float> input = Tone(48000, 2, 48000);
    struct Case {
        const char* caps;
        ResampleQuality quality;
        SampleFormat format;
    };
    for (const Case c : {Case{"U8", ResampleQuality::High, SampleFormat::U8},
                         Case{"S16LE", ResampleQuality::High, SampleFormat::S16},
                         Case{"S24LE", ResampleQuality::VeryHigh, SampleFormat::S24},
                         Case{"S32LE", ResampleQuality::VeryHigh, SampleFormat::S32},
                         Case{"F32LE", ResampleQuality::VeryHigh, SampleFormat::F32}}) {
        SCOPED_TRACE(c.caps);
        const std::vector<std::uint8_t> dithered = RunElement(input, 2, 48000, 44100, c.caps);
        EXPECT_EQ(dithered.size(), 44100u * 2 * BytesPerSample(c.format));
        EXPECT_TRUE(dithered == Expected(input, 2, 48000, 44100, c.quality, c.format, Dither::Tpdf));
        const std::vector<std::uint8_t> rounded = RunElement(input, 2, 48000, 44100, c.caps, FALSE, 777);
        EXPECT_TRUE(rounded == Expected(input, 2, 48000, 44100, c.quality, c.format, Dither::Off));
        EXPECT_EQ(dithered == rounded, !LosesBits(c.format));
    }
}

// A 16-bit source at its own rate and width comes out as it went in, and
// float at its own rate as it is.
TEST(ConverterElement, SameRateAndWidthPassesUnchanged) {
    std::vector<float> s16(44100 * 2);
    for (std::size_t i = 0; i < s16.size(); ++i)
        s16[i] = float(std::lround(32767 * std::sin(double(i) * 0.01) * std::sin(double(i) * 0.0003))) / 32768.0f;
    const std::vector<std::uint8_t> out = RunElement(s16, 2, 44100, 44100, "S16LE");
    ASSERT_EQ(out.size(), s16.size() * 2);
    for (std::size_t i = 0; i < s16.size(); ++i) {
        std::int16_t v;
        std::memcpy(&v, out.data() + 2 * i, 2);
        ASSERT_EQ(float(v) / 32768.0f, s16[i]) << i;
    }
    const std::vector<float> tone = Tone(44100, 2, 44100);
    const std::vector<std::uint8_t> f32 = RunElement(tone, 2, 44100, 44100, "F32LE");
    ASSERT_EQ(f32.size(), tone.size() * sizeof(float));
    EXPECT_EQ(std::memcmp(f32.data(), tone.data(), f32.size()), 0);
}
