// The MP3 reader element on a damaged file: it decodes to the end, or fails
// with an error, from the start or after a seek; every buffer holds whole
// frames of the announced format, in order, and a run from the start puts
// out every frame the analysis found.

#include "formats/Mp3Stream.h"
#include "fuzz/FuzzSupport.h"
#include "media/GstHandles.h"
#include "media/elements/Mp3Reader.h"

#include <gst/audio/audio.h>

#include <cstddef>
#include <cstdint>
#include <span>

using namespace veltrano;
using namespace veltrano::fuzz;

namespace {

struct Output {
    std::uint64_t samples = 0;
    std::uint64_t nextOffset = 0;
    bool first = true;
    int channels = 0;
};

// Counts from the start, or from the flush of the last seek.
GstPadProbeReturn CountSamples(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& out = *static_cast<Output*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_FLUSH) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP)
            out = Output{0, 0, true, out.channels};
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
    const std::uint64_t frames = GST_BUFFER_OFFSET_END(buf) - GST_BUFFER_OFFSET(buf);
    Check(GST_BUFFER_OFFSET_END(buf) > GST_BUFFER_OFFSET(buf), "a buffer holds samples");
    Check(gst_buffer_get_size(buf) == frames * static_cast<std::uint64_t>(out.channels) * sizeof(float),
          "a buffer's size matches its samples");
    Check(out.first || GST_BUFFER_OFFSET(buf) == out.nextOffset, "buffers follow each other");
    out.first = false;
    out.nextOffset = GST_BUFFER_OFFSET_END(buf);
    out.samples += frames;
    return GST_PAD_PROBE_OK;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StartMedia();
    Check(Mp3ReaderAvailable(), "libavcodec's MP3 decoder loads");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto info = AnalyzeMp3Stream(std::span<const std::uint8_t>(data, size));
    if (!info || info->layer != 3) return 0;  // the reader is never given anything else
    const std::string path = WriteInputFile(data, size, "input.mp3");

    const auto pipeline = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    const auto reader = gsth::MakeElement(kMp3ReaderElementName);
    const auto sink = gsth::MakeElement("fakesink");
    Check(reader && sink, "the elements are made");
    g_object_set(reader.get(), "location", path.c_str(), nullptr);
    g_object_set(sink.get(), "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), reader.get(), sink.get(), nullptr);
    Check(gst_element_link(reader.get(), sink.get()), "the reader links");

    Output out;
    out.channels = info->channels;
    const auto pad = gsth::Pad::Adopt(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_add_probe(pad.get(), static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      &CountSamples, &out, nullptr);

    // A fifth of the inputs play whole; the others seek to a quarter, a
    // half, three quarters or the end first.
    const std::uint64_t total = static_cast<std::uint64_t>(info->DecodedSamples());
    const std::size_t quarter = size % 5;
    bool ok = Preroll(pipeline.get());
    if (ok && quarter > 0) {
        const GstClockTime at = gst_util_uint64_scale(total * quarter / 4, GST_SECOND, info->sampleRate);
        ok = SeekTo(pipeline.get(), at);
    }
    if (!ok) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return 0;
    }
    const RunEnd end = RunToEnd(pipeline.get());
    Check(out.samples <= total, "no more samples than frames");
    Check(out.samples % static_cast<std::uint64_t>(info->samplesPerFrame) == 0, "whole frames come out");
    if (end == RunEnd::Eos && quarter == 0) Check(out.samples == total, "every frame comes out");
    return 0;
}
