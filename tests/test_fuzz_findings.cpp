// Inputs the fuzzers found or that stand for what they look for: damaged
// and hostile files given to our parsers of file bytes and our elements.
// Each one is built here from the bytes that did it, cut to what matters.

#include "core/WaveFormatEx.h"
#include "formats/WavFinish.h"
#include "media/GstHandles.h"
#include "media/elements/LibAvDecoders.h"
#include "tests/support/WavFile.h"

#include <gst/app/gstappsrc.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace veltrano;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutText(Bytes& b, const char* text) { b.insert(b.end(), text, text + std::strlen(text)); }

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}
Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// RIFF, WAVE, the format, a chunk of the given size, then (at the offset
// that size would reach in 32-bit arithmetic) a data chunk with a little sound.
Bytes WaveWithChunkOfSize(std::uint32_t size) {
    Bytes b;
    PutText(b, "RIFF");
    Put32(b, 0);
    PutText(b, "WAVEfmt ");
    Put32(b, 16);
    for (std::uint32_t v : {0x00010001u, 8000u, 16000u, 0x00100002u}) Put32(b, v);  // PCM, mono, 8 kHz, 16 bits
    PutText(b, "junk");
    Put32(b, size);
    PutText(b, "data");
    Put32(b, 0);
    b.resize(b.size() + 64, 0x55);
    return b;
}

// A chunk size near 2^32 made the walk's step wrap in 32 bits: 0xFFFFFFF7
// and 0xFFFFFFF8 to a step of 0, and the walk stood still for ever;
// 0xFFFFFFFC to a step of 4, into the chunk's own header; 0xFFFFFFFF to a
// step of 8, onto bytes inside the chunk, taken for the data chunk and
// rewritten. A chunk reaching past the file leaves no data chunk: the file
// is refused and not touched.
TEST(WavFinishing, ChunkSizesNear4GiBAreWalkedIn64Bits) {
    QTemporaryDir dir;
    for (std::uint32_t size : {0xFFFFFFF7u, 0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFFu}) {
        const std::string path = dir.filePath("chunk.wav").toStdString();
        const Bytes before = WaveWithChunkOfSize(size);
        ASSERT_TRUE(WriteBytes(path, before));
        EXPECT_FALSE(FinishWavFile(path, MakePcmFormat(8000, 1, 16))) << std::hex << size;
        EXPECT_EQ(ReadBytes(path), before) << std::hex << size;
    }
    // The same chunk with an honest size is walked over to the data.
    const std::string path = dir.filePath("honest.wav").toStdString();
    Bytes honest = WaveWithChunkOfSize(0);
    ASSERT_TRUE(WriteBytes(path, honest));
    ASSERT_TRUE(FinishWavFile(path, MakePcmFormat(8000, 1, 16)));
    const Bytes after = ReadBytes(path);
    ASSERT_EQ(after.size(), honest.size());
    EXPECT_EQ(after[48], 64u);  // the data size
    EXPECT_EQ(after[4], honest.size() - 8);
}

// Counts GLib's critical warnings while alive: each is a call that GStreamer
// refused, which our elements must never make.
class CriticalCounter {
public:
    CriticalCounter() { previous_ = g_log_set_default_handler(&Count, this); }
    ~CriticalCounter() { g_log_set_default_handler(previous_, nullptr); }
    CriticalCounter(const CriticalCounter&) = delete;
    CriticalCounter& operator=(const CriticalCounter&) = delete;
    int count() const { return count_.load(); }

private:
    static void Count(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer self) {
        if (level & G_LOG_LEVEL_CRITICAL) ++static_cast<CriticalCounter*>(self)->count_;
        g_log_default_handler(domain, level, message, nullptr);
    }
    GLogFunc previous_ = nullptr;
    std::atomic<int> count_{0};
};

// Plays packets into our AAC decoder with the caps a demuxer gives raw AAC;
// true when the graph ends (end of stream or an error) rather than hangs.
bool DecodeAacPackets(const Bytes& config, const std::vector<Bytes>& packets) {
    auto caps = gsth::Caps::Adopt(gst_caps_new_simple("audio/mpeg", "mpegversion", G_TYPE_INT, 4, "stream-format",
                                                      G_TYPE_STRING, "raw", "framed", G_TYPE_BOOLEAN, TRUE, nullptr));
    GstBuffer* data = gst_buffer_new_memdup(config.data(), config.size());
    gst_caps_set_simple(caps.get(), "codec_data", GST_TYPE_BUFFER, data, nullptr);
    gst_buffer_unref(data);
    const auto pipeline = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    const auto src = gsth::MakeElement("appsrc");
    const auto decoder = gsth::MakeElement(kAacDecoderElementName);
    const auto sink = gsth::MakeElement("fakesink");
    if (!src || !decoder || !sink) return false;
    g_object_set(src.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), src.get(), decoder.get(), sink.get(), nullptr);
    if (!gst_element_link_many(src.get(), decoder.get(), sink.get(), nullptr)) return false;
    GstClockTime pts = 0;
    for (const Bytes& p : packets) {
        GstBuffer* buf = gst_buffer_new_memdup(p.data(), p.size());
        GST_BUFFER_PTS(buf) = pts;
        pts += 20 * GST_MSECOND;
        gst_app_src_push_buffer(GST_APP_SRC(src.get()), buf);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src.get()));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const auto bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline.get()));
    // Generous: the graph takes milliseconds; only a hang gets there.
    const auto end = gsth::Message::Adopt(gst_bus_timed_pop_filtered(
        bus.get(), 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return static_cast<bool>(end);
}

// A damaged AAC configuration (found by the decoder fuzzer) made the decoder
// put out a frame whose format GStreamer refused: the output was declared
// with a critical warning and the stream stopped as not negotiated. Such a
// frame is now dropped as a damaged one.
TEST(AacDecoding, AFrameWithoutAUsableFormatIsDroppedNotDeclared) {
    ASSERT_TRUE(AacDecoderAvailable()) << "libavcodec's AAC decoder could not be loaded";
    CriticalCounter criticals;
    EXPECT_TRUE(DecodeAacPackets({0x89, 0xBF, 0x06, 0x00, 0xD0}, {{0x00}}));
    EXPECT_EQ(criticals.count(), 0);
}

}  // namespace
