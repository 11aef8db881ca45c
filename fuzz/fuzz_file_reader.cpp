// The file reader element on any file and any pattern of pulls: what it
// hands out is the file's bytes at the asked offset, as many as asked or up
// to the end, and end of stream past it. First pulls steered by the input's
// last bytes (offsets across the blocks, lengths below and above a block),
// then the pulls of the demuxer the file's type calls for, every buffer
// checked the same way. The demuxer is chosen here, not by parsebin: when a
// demuxer it plugged fails on a damaged MP4, parsebin swallows the error and
// the graph neither ends nor fails (seen with GStreamer's own filesrc too).

#include "fuzz/FuzzSupport.h"
#include "media/GstHandles.h"
#include "media/elements/FileReader.h"

#include <gst/base/gsttypefindhelper.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

using namespace veltrano;
using namespace veltrano::fuzz;

namespace {

constexpr std::size_t kPulls = 6;
constexpr std::size_t kPullRecord = 8;
// Reaches a little past the end of the file, and lengths past a 256 KB block.
constexpr std::uint64_t kOffsetReach = 300 * 1024;
constexpr std::uint32_t kMaxLength = 600 * 1024;

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

void CheckBuffer(std::span<const std::uint8_t> file, GstBuffer* buf, std::uint64_t offset, std::uint64_t asked) {
    Check(offset < file.size(), "data only before the end");
    const std::uint64_t expected = std::min<std::uint64_t>(asked, file.size() - offset);
    GstMapInfo map;
    Check(gst_buffer_map(buf, &map, GST_MAP_READ), "a buffer maps");
    const bool same = map.size == expected && (map.size == 0 || std::memcmp(map.data, file.data() + offset, map.size) == 0);
    gst_buffer_unmap(buf, &map);
    Check(same, "a buffer holds the file's bytes at its offset");
    // GstBaseSrc answers a pull of nothing with an empty buffer of its own.
    if (expected == 0) return;
    Check(GST_BUFFER_OFFSET(buf) == offset && GST_BUFFER_OFFSET_END(buf) == offset + expected,
          "a buffer is marked with its place");
}

void PullDirectly(std::span<const std::uint8_t> file, const std::string& path) {
    const auto reader = gsth::MakeElement(kFileReaderElementName);
    Check(static_cast<bool>(reader), "the reader is made");
    g_object_set(reader.get(), "location", path.c_str(), nullptr);
    const auto pad = gsth::Pad::Adopt(gst_element_get_static_pad(reader.get(), "src"));
    Check(gst_pad_activate_mode(pad.get(), GST_PAD_MODE_PULL, TRUE), "the reader starts in pull mode");
    const std::size_t records = std::min(kPulls, file.size() / kPullRecord);
    const std::uint8_t* schedule = file.data() + file.size() - records * kPullRecord;
    for (std::size_t i = 0; i < records; ++i) {
        const std::uint64_t offset = Le32(schedule + i * kPullRecord) % (file.size() + kOffsetReach);
        const std::uint32_t length = Le32(schedule + i * kPullRecord + 4) % kMaxLength + 1;
        GstBuffer* buf = nullptr;
        const GstFlowReturn ret = gst_pad_get_range(pad.get(), offset, length, &buf);
        if (offset >= file.size()) {
            Check(ret == GST_FLOW_EOS, "end of stream past the end");
            continue;
        }
        Check(ret == GST_FLOW_OK && buf != nullptr, "a pull inside the file succeeds");
        CheckBuffer(file, buf, offset, length);
        gst_buffer_unref(buf);
    }
    Check(gst_pad_activate_mode(pad.get(), GST_PAD_MODE_PULL, FALSE), "the reader stops");
}

struct Seen {
    std::span<const std::uint8_t> file;
};

GstPadProbeReturn CheckPulled(GstPad*, GstPadProbeInfo* info, gpointer data) {
    const auto& seen = *static_cast<Seen*>(data);
    GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buf) return GST_PAD_PROBE_OK;
    // A pulled buffer is checked against the pull; a pushed one was asked
    // for with the block size, so only its bytes are checked.
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_PULL)
        CheckBuffer(seen.file, buf, GST_PAD_PROBE_INFO_OFFSET(info), GST_PAD_PROBE_INFO_SIZE(info));
    else
        CheckBuffer(seen.file, buf, GST_BUFFER_OFFSET(buf), gst_buffer_get_size(buf));
    return GST_PAD_PROBE_OK;
}

// The demuxer's first stream goes to the sink that is in the graph from the
// start; a file of ours has one stream.
void LinkToSink(GstElement*, GstPad* pad, gpointer sink) {
    const auto sinkPad = gsth::Pad::Adopt(gst_element_get_static_pad(static_cast<GstElement*>(sink), "sink"));
    if (!gst_pad_is_linked(sinkPad.get())) gst_pad_link(pad, sinkPad.get());
}

// Pads the demuxer has already: on a fuzzed WAV header (49409 channels)
// wavparse's source pad was there without a pad-added reaching us, and the
// graph waited for ever.
void LinkExistingPads(GstElement* demuxer, GstElement* sink) {
    GstIterator* pads = gst_element_iterate_src_pads(demuxer);
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
        LinkToSink(demuxer, GST_PAD(g_value_get_object(&item)), sink);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(pads);
}

// The demuxer for the file's type, as the conversion graph's decodebin would pick it.
const char* DemuxerFor(std::span<const std::uint8_t> file) {
    const auto caps = gsth::Caps::Adopt(gst_type_find_helper_for_data(nullptr, file.data(), file.size(), nullptr));
    if (!caps || gst_caps_is_empty(caps.get())) return nullptr;
    const char* type = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    const std::pair<const char*, const char*> kDemuxers[] = {{"video/quicktime", "qtdemux"},
                                                             {"audio/x-m4a", "qtdemux"},
                                                             {"application/ogg", "oggdemux"},
                                                             {"audio/x-wav", "wavparse"},
                                                             {"application/x-id3", "id3demux"}};
    for (const auto& [name, demuxer] : kDemuxers)
        if (std::strcmp(type, name) == 0) return demuxer;
    return nullptr;
}

void ParseThrough(std::span<const std::uint8_t> file, const std::string& path) {
    const char* demuxer = DemuxerFor(file);
    if (!demuxer) return;
    const auto pipeline = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    const auto reader = gsth::MakeElement(kFileReaderElementName);
    const auto parser = gsth::MakeElement(demuxer);
    const auto sink = gsth::MakeElement("fakesink");
    Check(reader && parser && sink, "the elements are made");
    g_object_set(reader.get(), "location", path.c_str(), nullptr);
    g_object_set(sink.get(), "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), reader.get(), parser.get(), sink.get(), nullptr);
    Check(gst_element_link(reader.get(), parser.get()), "the reader links");
    g_signal_connect(parser.get(), "pad-added", G_CALLBACK(&LinkToSink), sink.get());
    LinkExistingPads(parser.get(), sink.get());
    Seen seen{file};
    const auto pad = gsth::Pad::Adopt(gst_element_get_static_pad(reader.get(), "src"));
    gst_pad_add_probe(pad.get(), static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_PUSH |
                                                              GST_PAD_PROBE_TYPE_PULL),
                      &CheckPulled, &seen, nullptr);
    RunToEnd(pipeline.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StartMedia();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // a pull of an empty file is end of stream; the element test covers it
    const std::span<const std::uint8_t> file(data, size);
    const std::string path = WriteInputFile(data, size, "input.bin");
    PullDirectly(file, path);
    ParseThrough(file, path);
    return 0;
}
