// Our Vorbis and AAC decoders fed damaged packets with the caps a demuxer
// gives them: they decode, skip or fail, never read out of bounds or hang,
// and every buffer they put out holds whole frames of the format they
// declared.
//
// An input is a codec byte (bit 0: AAC, bit 1: ADTS framing), for raw AAC a
// length byte and the codec configuration, then packets, each a 16-bit
// little-endian length and its bytes. scripts/fuzz-seeds.sh makes seeds of
// this form from files the demuxers take apart; feeding packets directly
// keeps Ogg's page checksums from throwing the damage away before the decoder.

#include "fuzz/FuzzSupport.h"
#include "media/GstHandles.h"
#include "media/elements/LibAvDecoders.h"

#include <gst/app/gstappsrc.h>
#include <gst/audio/audio.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace veltrano;
using namespace veltrano::fuzz;

namespace {

constexpr GstClockTime kPacketDuration = 20 * GST_MSECOND;

struct Input {
    const std::uint8_t* p;
    std::size_t left;
    std::size_t Take(std::size_t n) {
        n = std::min(n, left);
        p += n;
        left -= n;
        return n;
    }
};

gsth::Caps CapsOf(std::uint8_t kind, Input& in) {
    if ((kind & 1) == 0) return gsth::Caps::Adopt(gst_caps_new_empty_simple("audio/x-vorbis"));
    const bool adts = (kind & 2) != 0;
    auto caps = gsth::Caps::Adopt(gst_caps_new_simple("audio/mpeg", "mpegversion", G_TYPE_INT, 4, "stream-format",
                                                      G_TYPE_STRING, adts ? "adts" : "raw", "framed", G_TYPE_BOOLEAN,
                                                      TRUE, nullptr));
    if (adts || in.left == 0) return caps;
    const std::size_t length = in.p[0];
    in.Take(1);
    const std::uint8_t* config = in.p;
    const std::size_t got = in.Take(length);
    if (got > 0) {
        GstBuffer* data = gst_buffer_new_memdup(config, got);
        gst_caps_set_simple(caps.get(), "codec_data", GST_TYPE_BUFFER, data, nullptr);
        gst_buffer_unref(data);
    }
    return caps;
}

void PushPackets(GstAppSrc* src, Input& in) {
    for (GstClockTime pts = 0; in.left >= 2; pts += kPacketDuration) {
        const std::size_t length = in.p[0] | (std::size_t{in.p[1]} << 8);
        in.Take(2);
        const std::uint8_t* bytes = in.p;
        const std::size_t got = in.Take(length);
        GstBuffer* buf = got > 0 ? gst_buffer_new_memdup(bytes, got) : gst_buffer_new();
        GST_BUFFER_PTS(buf) = pts;
        GST_BUFFER_DURATION(buf) = kPacketDuration;
        gst_app_src_push_buffer(src, buf);
    }
    gst_app_src_end_of_stream(src);
}

// Every decoded buffer against the format declared before it.
GstPadProbeReturn CheckDecoded(GstPad*, GstPadProbeInfo* info, gpointer data) {
    int& frameBytes = *static_cast<int*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            GstAudioInfo audio;
            Check(gst_audio_info_from_caps(&audio, caps), "the declared format is audio");
            frameBytes = GST_AUDIO_INFO_BPF(&audio);
        }
        return GST_PAD_PROBE_OK;
    }
    const gsize size = gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    Check(frameBytes > 0, "a format is declared before sound");
    Check(size % static_cast<gsize>(frameBytes) == 0, "sound comes in whole frames");
    return GST_PAD_PROBE_OK;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StartMedia();
    Check(VorbisDecoderAvailable() && AacDecoderAvailable(), "libavcodec's decoders load");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Input in{data + 1, size - 1};
    const std::uint8_t kind = data[0];
    const auto caps = CapsOf(kind, in);

    const auto pipeline = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    const auto src = gsth::MakeElement("appsrc");
    const auto decoder = gsth::MakeElement((kind & 1) ? kAacDecoderElementName : kVorbisDecoderElementName);
    const auto sink = gsth::MakeElement("fakesink");
    Check(src && decoder && sink, "the elements are made");
    g_object_set(src.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
    g_object_set(sink.get(), "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), src.get(), decoder.get(), sink.get(), nullptr);
    Check(gst_element_link_many(src.get(), decoder.get(), sink.get(), nullptr), "the decoder links");

    int frameBytes = 0;
    const auto pad = gsth::Pad::Adopt(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_add_probe(pad.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &CheckDecoded, &frameBytes, nullptr);
    PushPackets(GST_APP_SRC(src.get()), in);
    RunToEnd(pipeline.get());
    return 0;
}
