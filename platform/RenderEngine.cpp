#include "platform/RenderEngine.h"

#include "platform/FileReader.h"
#include "platform/FilterGraphGst.h"
#include "platform/LibAvDecoders.h"
#include "platform/Logging.h"
#include "platform/Mp3Reader.h"
#include "platform/Mp3Stream.h"
#include "platform/RecycledBuffers.h"
#include "platform/SampleWindow.h"
#include "platform/SpanJoiner.h"

#include <gst/audio/audio.h>
#include <gst/base/gsttypefindhelper.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>

namespace veltrano {

namespace {

// Decoding starts this far before the selection, so that every decoder has
// its history (overlap, bit reservoir) when the first kept sample comes.
constexpr GstClockTime kPreroll = GST_SECOND;
// And ends this far after it, so the stream stops soon after the selection.
constexpr GstClockTime kPostroll = GST_SECOND / 2;
// Input beyond the selection's end that the resampler sees as context; the
// converter cuts its output to the exact length.
constexpr std::int64_t kResamplerTailFrames = 64;
// A source that ends this little before the selection (a codec's last frame
// that its demuxer does not deliver) is made up with silence.
constexpr GstClockTime kMaxPadding = GST_SECOND / 4;
// A long selection in a container that seeks to the exact sample is decoded
// in spans of this length by two branches side by side, on two cores; the
// joiner puts the spans back in order. Later spans need less run-in: these
// codecs settle within a frame or two.
constexpr int kSpanSeconds = 15;
constexpr GstClockTime kSpanPreroll = GST_SECOND / 2;
constexpr int kMaxBranches = 2;
// Decoders put out a few milliseconds at a time; the front end hands on
// batches of this many frames, so the threads behind it wake seldom.
constexpr std::int64_t kBatchFrames = 8192;

// One branch of a group's front end: file, parser, decoder of the first
// sound stream, float conversion and a queue. One branch alone is the
// group's pin; two are joined in span order. The state is shared by the
// streaming threads' callbacks; the elements belong to the graph.
struct GroupFrontEnd {
    GstElement* bin = nullptr;
    GstElement* convert = nullptr;
    GstElement* floats = nullptr;
    GstElement* queue = nullptr;
    GstElement* joiner = nullptr;  // with two branches
    GstPad* floatSrc = nullptr;   // where the selection is cut
    GstPad* queueSink = nullptr;  // where an early end goes in

    GstClockTime selectionStart = 0;  // media time of the selection, ns
    GstClockTime length = 0;          // ns
    std::optional<Mp3StreamInfo> mp3;
    std::shared_ptr<const Mp3FrameTable> mp3Table;  // when our reader reads it

    std::mutex linkMutex;
    bool linked = false;
    bool sawAudio = false;
    bool reportedNoSound = false;
    // What the file says lies before its sound (an MP3's encoder and decoder
    // delay), and whether the parser already removes it.
    std::int64_t statedLeading = 0;
    std::atomic<bool> parserTrims{false};
    int inspected = 0;

    gulong blockId = 0;
    std::atomic<bool> seekStarted{false};
    std::atomic<bool> seekDone{false};
    std::atomic<bool> endRequested{false};

    // The cut, on the decoding thread only.
    GstSegment inSegment{};
    int rate = 0;
    int bpf = 0;          // of the batches: interleaved floats
    bool shorts = false;  // the decoder gives 16-bit integers, made floats in the copy
    int channels = 0;
    bool planar = false;  // the decoder's channels come one after the other
    bool windowKnown = false;
    std::int64_t windowStart = 0;
    std::int64_t need = 0;
    std::int64_t passed = 0;
    bool haveExpected = false;
    std::int64_t expected = 0;
    bool finished = false;
    bool eosPassed = false;

    // Spans: this branch decodes spans branch, branch + branches, ...; 'need'
    // and 'passed' count the current one, which starts 'base' frames into
    // the selection. One branch has one span, the whole selection.
    int branch = 0;
    int branches = 1;
    std::int64_t totalNeed = 0;
    std::int64_t spanFrames = 0;
    std::int64_t span = 0;
    std::int64_t base = 0;
    // The seek to the next span waits for the next buffer: the span's last
    // one must be in the queue before the seek's flush passes.
    bool spanSeekDue = false;
    // The batch being filled, mapped for writing, and the timeline frame of
    // its first frame.
    GstBuffer* batch = nullptr;
    GstMapInfo batchMap{};
    std::int64_t batchFrames = 0;
    std::int64_t batchFirst = 0;
    RecycledBuffers batchBuffers;

    GroupFrontEnd() = default;
    GroupFrontEnd(const GroupFrontEnd&) = delete;
    GroupFrontEnd& operator=(const GroupFrontEnd&) = delete;
    ~GroupFrontEnd() {
        if (!batch) return;
        gst_buffer_unmap(batch, &batchMap);
        gst_buffer_unref(batch);
    }
    bool LastSpan() const { return base + static_cast<std::int64_t>(branches) * spanFrames >= totalNeed; }
};

using FrontEndRef = std::shared_ptr<GroupFrontEnd>;

gpointer NewRef(const FrontEndRef& fe) { return new FrontEndRef(fe); }
void DeleteRef(gpointer p) { delete static_cast<FrontEndRef*>(p); }
void DeleteRefClosure(gpointer p, GClosure*) { DeleteRef(p); }
GroupFrontEnd& Of(gpointer p) { return **static_cast<FrontEndRef*>(p); }

void PostStreamError(GroupFrontEnd& fe, gint code, const std::string& text) {
    GError* err = g_error_new_literal(GST_STREAM_ERROR, code, text.c_str());
    gst_element_post_message(fe.bin, gst_message_new_error(GST_OBJECT(fe.bin), err, nullptr));
    g_error_free(err);
}

// Decoders, and the float conversion passing planes through, clip a planar
// buffer by describing the kept part in its audio meta only; such buffers
// are rewritten compactly before the cut, which reads planes by size.
GstPadProbeReturn CompactPlanes(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
    GstAudioMeta* meta = gst_buffer_get_audio_meta(buf);
    if (!meta || GST_AUDIO_INFO_LAYOUT(&meta->info) != GST_AUDIO_LAYOUT_NON_INTERLEAVED) return GST_PAD_PROBE_OK;
    const gsize bps = static_cast<gsize>(GST_AUDIO_INFO_BPS(&meta->info));
    const gint channels = GST_AUDIO_INFO_CHANNELS(&meta->info);
    const gsize plane = meta->samples * bps;
    bool compact = gst_buffer_get_size(buf) == plane * static_cast<gsize>(channels);
    for (gint c = 0; compact && c < channels; ++c)
        compact = meta->offsets[c] == static_cast<gsize>(c) * plane;
    if (compact) return GST_PAD_PROBE_OK;

    GstAudioBuffer in;
    if (!gst_audio_buffer_map(&in, &meta->info, buf, GST_MAP_READ)) return GST_PAD_PROBE_OK;
    GstBuffer* out = gst_buffer_new_allocate(nullptr, plane * static_cast<gsize>(channels), nullptr);
    GstMapInfo map;
    gst_buffer_map(out, &map, GST_MAP_WRITE);
    for (gint c = 0; c < channels; ++c) std::memcpy(map.data + static_cast<gsize>(c) * plane, in.planes[c], plane);
    gst_buffer_unmap(out, &map);
    gst_buffer_copy_into(out, buf, GstBufferCopyFlags(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS), 0,
                         static_cast<gsize>(-1));
    gst_buffer_add_audio_meta(out, &meta->info, meta->samples, nullptr);
    gst_audio_buffer_unmap(&in);
    gst_buffer_unref(buf);
    GST_PAD_PROBE_INFO_DATA(info) = out;
    return GST_PAD_PROBE_OK;
}

// The installed decoders for the stream, best first; for Vorbis and AAC,
// ours first when its library loads (they are not ranked, so playback keeps
// the installed ones).
GList* DecodersFor(GstCaps* caps) {
    GList* fitting =
        gsth::FactoriesTaking(GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, caps);
    for (auto [name, available] : {std::pair{kVorbisDecoderElementName, &VorbisDecoderAvailable},
                                   std::pair{kAacDecoderElementName, &AacDecoderAvailable}}) {
        GstElementFactory* own = gst_element_factory_find(name);
        if (!own) continue;
        if (gst_element_factory_can_sink_all_caps(own, caps) && available()) return g_list_prepend(fitting, own);
        gst_object_unref(own);
    }
    return fitting;
}

GstElement* LinkDecoder(GroupFrontEnd& fe, GstPad* pad, GstCaps* caps) {
    GList* fitting = DecodersFor(caps);
    GstElement* chosen = nullptr;
    for (GList* l = fitting; l && !chosen; l = l->next) {
        GstElement* dec = gst_element_factory_create(GST_ELEMENT_FACTORY(l->data), nullptr);
        if (!dec) continue;
        gst_bin_add(GST_BIN(fe.bin), dec);
        gsth::Pad sink = gsth::Pad::Adopt(gst_element_get_static_pad(dec, "sink"));
        if (sink && gst_pad_link(pad, sink.get()) == GST_PAD_LINK_OK && gst_element_link(dec, fe.convert)) {
            chosen = dec;
        } else {
            gst_element_set_state(dec, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(fe.bin), dec);
        }
    }
    gst_plugin_feature_list_free(fitting);
    if (!chosen) return nullptr;
    gst_element_sync_state_with_parent(chosen);
    return chosen;
}

// A parser that applies the stated delay itself marks the first frames with
// what the decoder is to clip; then nothing is left to compensate here.
GstPadProbeReturn NoteParserTrimming(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    if (gst_buffer_get_audio_clipping_meta(GST_PAD_PROBE_INFO_BUFFER(info))) fe.parserTrims.store(true);
    return ++fe.inspected >= 4 ? GST_PAD_PROBE_REMOVE : GST_PAD_PROBE_OK;
}

std::int64_t LeadingSamples(const GroupFrontEnd& fe) { return fe.parserTrims.load() ? 0 : fe.statedLeading; }

void PostNoSound(GroupFrontEnd& fe) {
    if (fe.sawAudio)
        PostStreamError(fe, GST_STREAM_ERROR_CODEC_NOT_FOUND,
                        "No decoder is installed for the sound of this file. Install the GStreamer plugins for "
                        "its format.");
    else
        PostStreamError(fe, GST_STREAM_ERROR_WRONG_TYPE, "The media file has no sound stream.");
}

// The parser lets data flow only once it has exposed every stream: data on a
// stream left aside, with no sound stream taken, means there is none to take.
GstPadProbeReturn CheckSoundTaken(GstPad*, GstPadProbeInfo*, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    std::lock_guard lock(fe.linkMutex);
    if (!fe.linked && !fe.reportedNoSound) {
        fe.reportedNoSound = true;
        PostNoSound(fe);
    }
    return GST_PAD_PROBE_REMOVE;
}

// The bin starts its elements in an order of its own: the parser may stream
// before the elements behind it are active, and a buffer pushed into an
// inactive pad stops the branch without an error. They are made active
// before the sound stream is linked, from the joiner back.
void ActivateConsumers(GroupFrontEnd& fe) {
    for (GstElement* e : {fe.joiner, fe.queue, fe.floats, fe.convert}) {
        if (!e) continue;
        GstState state = GST_STATE_NULL;
        gst_element_get_state(e, &state, nullptr, 0);
        if (state < GST_STATE_PAUSED) gst_element_sync_state_with_parent(e);
    }
}

// The parser exposes its streams; the first sound stream is decoded, every
// other stream is left unconnected and so is never decoded.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    gsth::Caps caps = gsth::Caps::Adopt(gst_pad_get_current_caps(pad));
    if (!caps) caps = gsth::Caps::Adopt(gst_pad_query_caps(pad, nullptr));
    const GstStructure* s = caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    const char* name = s ? gst_structure_get_name(s) : "";
    std::lock_guard lock(fe.linkMutex);
    const bool sound = g_str_has_prefix(name, "audio/");
    bool taken = false;
    if (!fe.linked && sound) {
        ActivateConsumers(fe);
        fe.sawAudio = true;
        if (g_str_has_prefix(name, "audio/x-raw")) {
            gsth::Pad sink = gsth::Pad::Adopt(gst_element_get_static_pad(fe.convert, "sink"));
            taken = gst_pad_link(pad, sink.get()) == GST_PAD_LINK_OK;
        } else {
            taken = LinkDecoder(fe, pad, caps.get()) != nullptr;
        }
    }
    if (!taken) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &CheckSoundTaken, NewRef(*static_cast<FrontEndRef*>(data)),
                          &DeleteRef);
        return;
    }
    int mpegVersion = 0;
    if (fe.mp3 && std::strcmp(name, "audio/mpeg") == 0 && gst_structure_get_int(s, "mpegversion", &mpegVersion) &&
        mpegVersion == 1 && fe.mp3->LeadingSamples() > 0) {
        fe.statedLeading = fe.mp3->LeadingSamples();
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &NoteParserTrimming, NewRef(*static_cast<FrontEndRef*>(data)),
                          &DeleteRef);
    }
    fe.linked = true;
}

// The selection's first sample in the decoded stream.
std::int64_t WindowStart(const GroupFrontEnd& fe) {
    return FramesForDuration(static_cast<std::int64_t>(fe.selectionStart), fe.rate) + LeadingSamples(fe);
}

// Runs off the streaming threads: a flushing, accurate seek to just before
// the selection, then the held-back first buffer is let go (the flush has
// dropped it; what comes now starts at the seek position). The seek lands on
// a sample boundary, so that a decoder clipping to it keeps whole samples.
void SeekToSelection(GstElement*, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    const std::int64_t first = WindowStart(fe) + fe.base;
    const GstClockTime runIn = fe.span < fe.branches ? kPreroll : kSpanPreroll;
    const std::int64_t preroll = static_cast<std::int64_t>(gst_util_uint64_scale_int(runIn, fe.rate, GST_SECOND));
    // The start is put on a frame whose instant is a whole nanosecond, so a
    // decoder clipping its first buffer to it cuts a whole number of frames
    // and the timestamps after it stay exact.
    const std::int64_t exact = fe.rate / static_cast<std::int64_t>(std::gcd<std::int64_t>(fe.rate, GST_SECOND));
    const auto from = static_cast<guint64>(std::max<std::int64_t>(0, first - preroll) / exact * exact);
    const auto to = static_cast<guint64>(first + fe.need);
    const GstClockTime start = gst_util_uint64_scale_int_ceil(from, GST_SECOND, fe.rate);
    const GstClockTime stop = gst_util_uint64_scale_int_ceil(to, GST_SECOND, fe.rate) + kPostroll;
    // Only a branch's last span may stop the stream: earlier ones go on to
    // the next seek, which an end of stream would pre-empt.
    const bool last = fe.LastSpan();
    GstEvent* seek = gst_event_new_seek(1.0, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                        GST_SEEK_TYPE_SET, static_cast<gint64>(start),
                                        last ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE,
                                        last ? static_cast<gint64>(stop) : -1);
    // Without a seek (a stream that cannot seek) the cut still finds the
    // selection by position; it only takes longer.
    if (!gst_pad_send_event(fe.floatSrc, seek)) {
        qCInfo(lcPlatform) << "front end: the source did not seek";
        // A branch that cannot reach its next span ends where it is.
        if (fe.span >= fe.branches) gst_pad_send_event(fe.queueSink, gst_event_new_eos());
    }
    fe.seekDone.store(true);
    if (fe.blockId) {
        gst_pad_remove_probe(fe.floatSrc, fe.blockId);
        fe.blockId = 0;
    }
}

// Holds the first buffer until the seek has been made.
GstPadProbeReturn HoldFirstBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    if (fe.rate <= 0) return GST_PAD_PROBE_PASS;  // no format yet: the cut drops it
    if (!fe.seekStarted.exchange(true))
        gst_element_call_async(fe.bin, &SeekToSelection, NewRef(*static_cast<FrontEndRef*>(data)), &DeleteRef);
    return GST_PAD_PROBE_OK;
}

// The group's output in timeline time from 0. The segment stays open so that
// no element drops the resampler's context beyond the end; the length goes in
// its duration, where the converter reads how much to put out.
GstEvent* TimelineSegment(const GroupFrontEnd& fe) {
    GstSegment seg;
    gst_segment_init(&seg, GST_FORMAT_TIME);
    seg.duration = fe.length;
    return gst_event_new_segment(&seg);
}

void StampFrames(const GroupFrontEnd& fe, GstBuffer* out, std::int64_t first, std::int64_t frames) {
    const auto from = static_cast<guint64>(first);
    const auto to = static_cast<guint64>(first + frames);
    GST_BUFFER_PTS(out) = gst_util_uint64_scale_int(from, GST_SECOND, fe.rate);
    GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(out) = gst_util_uint64_scale_int(to, GST_SECOND, fe.rate) - GST_BUFFER_PTS(out);
    GST_BUFFER_OFFSET(out) = from;
    GST_BUFFER_OFFSET_END(out) = to;
    if (first == 0) GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DISCONT);
    else GST_BUFFER_FLAG_UNSET(out, GST_BUFFER_FLAG_DISCONT);
}

// Hands the batch to the queue, marked as its span's last when asked.
GstFlowReturn SendBatch(GroupFrontEnd& fe, bool lastOfSpan) {
    if (!fe.batch) return GST_FLOW_OK;
    GstBuffer* out = fe.batch;
    fe.batch = nullptr;
    gst_buffer_unmap(out, &fe.batchMap);
    gst_buffer_resize(out, 0, static_cast<gssize>(fe.batchFrames * fe.bpf));
    StampFrames(fe, out, fe.batchFirst, fe.batchFrames);
    if (lastOfSpan) GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_MARKER);
    return gst_pad_chain(fe.queueSink, out);
}

// Where kept frames come from: interleaved, or in planes of one channel each
// (as some decoders put them out), which are interleaved on the way into the
// batch; no data is silence.
struct FrameSource {
    const guint8* data = nullptr;
    gsize planeBytes = 0;  // 0: interleaved
    std::int64_t frame = 0;
};

// Bytes per frame of what the decoder gives.
gsize SourceFrameBytes(const GroupFrontEnd& fe) {
    return fe.shorts ? sizeof(gint16) * static_cast<gsize>(fe.channels) : static_cast<gsize>(fe.bpf);
}

// The same value as the float conversion's: a power-of-two scale is exact.
// Eight at a time, which the compiler does not do for this loop by itself.
void ShortsToFloats(const gint16* in, std::size_t samples, float* out) {
    using Shorts8 = short __attribute__((vector_size(16)));
    using Floats8 = float __attribute__((vector_size(32)));
    std::size_t i = 0;
    for (; i + 8 <= samples; i += 8) {
        Shorts8 v;
        std::memcpy(&v, in + i, sizeof v);
        const Floats8 f = __builtin_convertvector(v, Floats8) * (1.0f / 32768.0f);
        std::memcpy(out + i, &f, sizeof f);
    }
    for (; i < samples; ++i) out[i] = static_cast<float>(in[i]) * (1.0f / 32768.0f);
}

void CopyFrames(const GroupFrontEnd& fe, FrameSource& src, std::int64_t n, guint8* dst) {
    const auto bpf = static_cast<gsize>(fe.bpf);
    if (!src.data) {
        std::memset(dst, 0, static_cast<gsize>(n) * bpf);  // float zero is all-zero bytes
    } else if (fe.shorts) {
        const auto ch = static_cast<std::size_t>(fe.channels);
        ShortsToFloats(reinterpret_cast<const gint16*>(src.data) + static_cast<std::size_t>(src.frame) * ch,
                       static_cast<std::size_t>(n) * ch, reinterpret_cast<float*>(dst));
    } else if (src.planeBytes == 0) {
        std::memcpy(dst, src.data + static_cast<gsize>(src.frame) * bpf, static_cast<gsize>(n) * bpf);
    } else {
        const auto ch = static_cast<std::size_t>(fe.channels);
        for (std::size_t c = 0; c < ch; ++c) {
            const float* plane = reinterpret_cast<const float*>(src.data + c * src.planeBytes) + src.frame;
            float* out = reinterpret_cast<float*>(dst) + c;
            for (std::int64_t i = 0; i < n; ++i, out += ch) *out = plane[i];
        }
    }
    src.frame += n;
}

// Appends 'frames' frames to the window's output. A full batch goes out only
// when more follows, so the span's last frames always sit in a batch that
// can still be marked.
GstFlowReturn AppendFrames(GroupFrontEnd& fe, FrameSource src, std::int64_t frames) {
    const auto bpf = static_cast<gsize>(fe.bpf);
    while (frames > 0) {
        if (fe.batch && fe.batchFrames == kBatchFrames)
            if (GstFlowReturn ret = SendBatch(fe, false); ret != GST_FLOW_OK) return ret;
        if (!fe.batch) {
            const gsize bytes = static_cast<gsize>(kBatchFrames) * bpf;
            fe.batch = fe.batchBuffers.Acquire(bytes, bytes);
            gst_buffer_map(fe.batch, &fe.batchMap, GST_MAP_WRITE);
            fe.batchFrames = 0;
            fe.batchFirst = fe.base + fe.passed;
        }
        const std::int64_t n = std::min(frames, kBatchFrames - fe.batchFrames);
        CopyFrames(fe, src, n, fe.batchMap.data + static_cast<gsize>(fe.batchFrames) * bpf);
        fe.batchFrames += n;
        fe.passed += n;
        frames -= n;
    }
    return GST_FLOW_OK;
}

GstFlowReturn AppendKept(GroupFrontEnd& fe, GstBuffer* buf, const TrimDecision& d) {
    GstFlowReturn ret = AppendFrames(fe, FrameSource{}, d.silenceBefore);
    if (ret != GST_FLOW_OK || d.keepCount == 0) return ret;
    GstMapInfo map;
    if (!gst_buffer_map(buf, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
    // Planes are whole and in order: a clipped buffer was made compact before the cut.
    const gsize planeBytes = fe.planar ? map.size / static_cast<gsize>(fe.channels) : 0;
    ret = AppendFrames(fe, FrameSource{map.data, planeBytes, d.keepOffset}, d.keepCount);
    gst_buffer_unmap(buf, &map);
    return ret;
}

void SetSpan(GroupFrontEnd& fe, std::int64_t span) {
    fe.span = span;
    fe.base = span * fe.spanFrames;
    fe.need = std::max<std::int64_t>(0, std::min(fe.spanFrames, fe.totalNeed - fe.base));
    fe.passed = 0;
    fe.haveExpected = false;
}

// The plan is made on the first format; a decoder repeating it after a seek
// changes nothing.
void OnCaps(GroupFrontEnd& fe, GstEvent* e) {
    GstCaps* caps = nullptr;
    gst_event_parse_caps(e, &caps);
    GstAudioInfo ai;
    if (!gst_audio_info_from_caps(&ai, caps)) return;
    fe.planar = GST_AUDIO_INFO_LAYOUT(&ai) == GST_AUDIO_LAYOUT_NON_INTERLEAVED;
    fe.shorts = GST_AUDIO_INFO_FORMAT(&ai) == GST_AUDIO_FORMAT_S16LE;
    fe.channels = GST_AUDIO_INFO_CHANNELS(&ai);
    const int bpf = static_cast<int>(sizeof(float)) * fe.channels;
    if (fe.rate == GST_AUDIO_INFO_RATE(&ai) && fe.bpf == bpf) return;
    fe.rate = GST_AUDIO_INFO_RATE(&ai);
    fe.bpf = bpf;
    fe.totalNeed = static_cast<std::int64_t>(gst_util_uint64_scale_int_ceil(fe.length, fe.rate, GST_SECOND)) +
                   kResamplerTailFrames;
    fe.spanFrames = fe.branches > 1 ? static_cast<std::int64_t>(fe.rate) * kSpanSeconds : fe.totalNeed;
    SetSpan(fe, fe.branch);
    if (fe.need == 0) fe.finished = true;  // a second branch with nothing to do
    if (fe.branches > 1 && fe.queue)
        // Room for a whole span, so a branch decodes on while the other's span goes out.
        g_object_set(fe.queue, "max-size-bytes", static_cast<guint>(std::min<std::int64_t>(
                                                     G_MAXUINT, fe.bpf * (fe.spanFrames + fe.rate))),
                     "max-size-buffers", 0u, "max-size-time", guint64{0}, nullptr);
}

// Pushes silence for what the source did not deliver at its end, when that
// is little; a stream cut short by more stays short.
void PadShortEnd(GroupFrontEnd& fe) {
    if (fe.rate <= 0 || fe.bpf <= 0 || fe.endRequested.load() || fe.passed >= fe.need) return;
    const std::int64_t missing = fe.need - fe.passed;
    if (static_cast<guint64>(missing) > gst_util_uint64_scale_int(kMaxPadding, fe.rate, GST_SECOND)) return;
    // The pad is marked ended before its end-of-stream probes run, so the
    // silence goes straight to the queue, ahead of the end of stream.
    if (AppendFrames(fe, FrameSource{}, missing) == GST_FLOW_OK) SendBatch(fe, false);
}

void StartSpanSeek(GroupFrontEnd& fe, gpointer data);

GstPadProbeReturn OnEvent(GroupFrontEnd& fe, GstPadProbeInfo* info, gpointer data) {
    GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(e)) {
    case GST_EVENT_CAPS:
        OnCaps(fe, e);
        if (fe.planar || fe.shorts) {
            // What goes on is interleaved floats, made so in the batches.
            GstCaps* caps = nullptr;
            gst_event_parse_caps(e, &caps);
            gsth::Caps floats = gsth::Caps::Adopt(gst_caps_copy(caps));
            gst_caps_set_simple(floats.get(), "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING,
                                "interleaved", nullptr);
            gst_event_unref(e);
            GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_caps(floats.get());
        }
        return GST_PAD_PROBE_OK;
    case GST_EVENT_SEGMENT: {
        // The group's output runs in timeline time, from 0 to the selection's length.
        const GstSegment* s = nullptr;
        gst_event_parse_segment(e, &s);
        gst_segment_copy_into(s, &fe.inSegment);
        fe.haveExpected = false;
        gst_event_unref(e);
        GST_PAD_PROBE_INFO_DATA(info) = TimelineSegment(fe);
        return GST_PAD_PROBE_OK;
    }
    case GST_EVENT_FLUSH_STOP:
        // What follows the flush comes from the seek's position: none of it
        // may be taken for the stretch before it.
        if (fe.seekStarted.load()) fe.seekDone.store(true);
        return GST_PAD_PROBE_DROP;
    case GST_EVENT_FLUSH_START:
        // Only our own seeks flush; downstream keeps what it has.
        return GST_PAD_PROBE_DROP;
    case GST_EVENT_TAG:
        // The source's tags go on to the writer, which puts them in the file.
        return GST_PAD_PROBE_OK;
    case GST_EVENT_GAP:
        return GST_PAD_PROBE_DROP;
    case GST_EVENT_EOS:
        // The end of the stretch before a span's seek is not the branch's end.
        if (fe.spanSeekDue) StartSpanSeek(fe, data);
        if (fe.eosPassed || (!fe.seekDone.load() && fe.seekStarted.load())) return GST_PAD_PROBE_DROP;
        SendBatch(fe, false);
        PadShortEnd(fe);
        fe.eosPassed = true;
        return GST_PAD_PROBE_OK;
    default:
        return GST_PAD_PROBE_OK;
    }
}

// The current span is complete: its last batch goes out marked for the
// joiner, and the branch seeks to its next span if it has one.
GstFlowReturn EndSpan(GroupFrontEnd& fe) {
    const GstFlowReturn ret = SendBatch(fe, fe.branches > 1);
    if (fe.branches == 1 || fe.LastSpan()) {
        fe.finished = true;
        return ret;
    }
    SetSpan(fe, fe.span + fe.branches);
    fe.seekDone.store(false);
    fe.spanSeekDue = true;
    return ret;
}

void StartSpanSeek(GroupFrontEnd& fe, gpointer data) {
    fe.spanSeekDue = false;
    gst_element_call_async(fe.bin, &SeekToSelection, NewRef(*static_cast<FrontEndRef*>(data)), &DeleteRef);
}

GstPadProbeReturn OnBuffer(GroupFrontEnd& fe, GstPadProbeInfo* info, gpointer data) {
    GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
    if (fe.spanSeekDue) StartSpanSeek(fe, data);
    if (!fe.seekDone.load() || fe.rate <= 0 || fe.bpf <= 0) return GST_PAD_PROBE_DROP;
    if (fe.finished || fe.endRequested.load()) {
        // Telling upstream it is done ends the demuxer, which sends the end of stream.
        gst_buffer_unref(buf);
        GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_EOS;
        return GST_PAD_PROBE_HANDLED;
    }
    if (!fe.windowKnown) {
        // Known only now: whether the parser trims shows on the first frames.
        fe.windowStart = WindowStart(fe);
        fe.windowKnown = true;
    }
    const auto frames = static_cast<std::int64_t>(gst_buffer_get_size(buf) / SourceFrameBytes(fe));
    std::int64_t pos = fe.expected;
    if (GST_BUFFER_PTS_IS_VALID(buf) || !fe.haveExpected) {
        gint64 stream = 0;
        if (GST_BUFFER_PTS_IS_VALID(buf) &&
            gst_segment_to_stream_time_full(&fe.inSegment, GST_FORMAT_TIME, GST_BUFFER_PTS(buf),
                                            reinterpret_cast<guint64*>(&stream)) < 0)
            stream = -stream;
        pos = BufferPosition(stream, fe.rate, fe.haveExpected, fe.expected, fe.rate / 1000);
    }
    // Run-in before the window is placed by its own timestamps only: the
    // first buffer after a seek is clipped by the decoder to the seek
    // position, off the sample grid, and counting on from it could shift
    // the window by a frame.
    const std::int64_t tolerance = fe.rate / 1000;
    if (!fe.haveExpected && GST_BUFFER_PTS_IS_VALID(buf) && pos + frames + tolerance < fe.windowStart + fe.base)
        return GST_PAD_PROBE_DROP;
    fe.expected = pos + frames;
    fe.haveExpected = true;

    const TrimDecision d = DecideTrim(fe.windowStart + fe.base, fe.need, fe.passed, pos, frames);
    GstFlowReturn ret = AppendKept(fe, buf, d);
    gst_buffer_unref(buf);
    if (ret == GST_FLOW_OK && d.reachedEnd) ret = EndSpan(fe);
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = ret;
    return GST_PAD_PROBE_HANDLED;
}

GstPadProbeReturn CutSelection(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) return OnBuffer(fe, info, data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & (GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH))
        return OnEvent(fe, info, data);
    return GST_PAD_PROBE_OK;
}

struct SourceSpec {
    std::string path;
    MediaTime mediaStart = 0;
    MediaTime mediaStop = 0;
};

Result FirstSourceOf(const std::shared_ptr<TimelineObj>& group, SourceSpec& out) {
    for (const auto& source : SourcesOfGroup(*group)) {
        if (source->GetMediaName(out.path).succeeded() && source->GetMediaTimes(out.mediaStart, out.mediaStop).succeeded())
            return S_OK;
    }
    return Result(E_INVALIDARG, "The audio group holds no source.");
}

// Containers whose seeks land on the exact sample (their indexes count
// samples), so that spans decoded apart join without a seam. An MP3 joins
// exactly only through our reader, which finds its frames itself.
bool SeeksToTheSample(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    guint8 head[4096];
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    gsth::Caps caps = gsth::Caps::Adopt(gst_type_find_helper_for_data(nullptr, head, got, nullptr));
    if (!caps || gst_caps_is_empty(caps.get())) return false;
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    for (const char* exact : {"application/ogg", "audio/ogg", "video/ogg", "audio/x-flac", "video/quicktime", "audio/x-m4a"})
        if (std::strcmp(name, exact) == 0) return true;
    return false;
}

// VELTRANO_SPAN_SECONDS=0 keeps every selection in one branch (the tests
// compare both ways). An MP3 is decoded in spans only by our reader, whose
// decoder comes out the same from any start; the installed parser and
// decoder serve it in one branch (their seeks land near the frame, not on it).
int BranchesFor(const SourceSpec& spec, bool mp3, const Mp3FrameTable* ownMp3) {
    if (const char* env = std::getenv("VELTRANO_SPAN_SECONDS"); env && std::strcmp(env, "0") == 0) return 1;
    if (std::thread::hardware_concurrency() < 2) return 1;
    const MediaTime length = spec.mediaStop - spec.mediaStart;
    if (length <= 2 * kSpanSeconds * kUnitsPerSecond) return 1;
    // A file that changes between mono and stereo decodes differently from a
    // start in its mono part: the decoder keeps the second channel's state.
    if (mp3) return ownMp3 && !ownMp3->info.channelsVary ? kMaxBranches : 1;
    return SeeksToTheSample(spec.path) ? kMaxBranches : 1;
}

// A stream that is neither sound nor a container is exposed as it comes: it
// is never decoded, so parsing its frames (a video's pictures) would be
// wasted work.
gboolean ParseOnlySound(GstElement*, GstPad*, GstCaps* caps, gpointer) {
    const GstStructure* s = gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    if (!s || g_str_has_prefix(gst_structure_get_name(s), "audio/")) return TRUE;
    return gsth::SomeFactoryTakes(GST_ELEMENT_FACTORY_TYPE_DEMUXER, caps);
}

// One branch: file, parser, decoder of the first sound stream (for an MP3,
// our reader, which is all three), float conversion and the queue that
// decouples it; returns the queue.
Result BuildBranch(GstBin* bin, const SourceSpec& spec, const FrontEndRef& fe) {
    const std::string n = std::to_string(fe->branch);
    const bool ownMp3 = fe->mp3Table != nullptr;
    GstElement* src =
        gst_element_factory_make(ownMp3 ? kMp3ReaderElementName : kFileReaderElementName, ("source " + n).c_str());
    GstElement* parse = ownMp3 ? nullptr : gst_element_factory_make("parsebin", ("parser " + n).c_str());
    GstElement* convert = gst_element_factory_make("audioconvert", ("decoded " + n).c_str());
    GstElement* floats = gst_element_factory_make("capsfilter", ("float " + n).c_str());
    GstElement* queue = gst_element_factory_make("queue", ("group queue " + n).c_str());
    if (!src || (!ownMp3 && !parse) || !convert || !floats || !queue) {
        for (GstElement* e : {src, parse, convert, floats, queue})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        return Result(E_NOINTERFACE, "The GStreamer elements for reading media (parsebin) are not installed.");
    }
    g_object_set(src, "location", spec.path.c_str(), nullptr);
    if (ownMp3) SetMp3ReaderTable(src, fe->mp3Table);
    // Planes and 16-bit samples are let through: the cut makes them
    // interleaved floats as it copies, a pass less over every sample.
    gsth::Caps f32 = gsth::Caps::Adopt(
        gst_caps_from_string("audio/x-raw,format=F32LE; audio/x-raw,format=S16LE,layout=interleaved"));
    g_object_set(floats, "caps", f32.get(), nullptr);
    gst_bin_add_many(bin, src, convert, floats, queue, nullptr);
    if (parse) gst_bin_add(bin, parse);
    if (!gst_element_link(src, parse ? parse : convert) || !gst_element_link_many(convert, floats, queue, nullptr))
        return Result(E_FAIL, "The front end could not be assembled.");

    fe->bin = GST_ELEMENT(bin);
    fe->convert = convert;
    fe->floats = floats;
    fe->queue = queue;
    gsth::Pad floatSrc = gsth::Pad::Adopt(gst_element_get_static_pad(floats, "src"));
    gsth::Pad queueSink = gsth::Pad::Adopt(gst_element_get_static_pad(queue, "sink"));
    fe->floatSrc = floatSrc.get();    // the pads live as long as their elements
    fe->queueSink = queueSink.get();
    gst_segment_init(&fe->inSegment, GST_FORMAT_TIME);

    if (parse) {
        g_signal_connect(parse, "autoplug-continue", G_CALLBACK(&ParseOnlySound), nullptr);
        g_signal_connect_data(parse, "pad-added", G_CALLBACK(&OnPadAdded), NewRef(fe), &DeleteRefClosure,
                              GConnectFlags(0));
    } else {
        // The reader puts out every decoded sample, the stated delay included.
        fe->sawAudio = fe->linked = true;
        fe->statedLeading = fe->mp3->LeadingSamples();
    }
    // Ahead of the probes below: they see what it makes.
    gst_pad_add_probe(fe->floatSrc, GST_PAD_PROBE_TYPE_BUFFER, &CompactPlanes, nullptr, nullptr);
    fe->blockId = gst_pad_add_probe(
        fe->floatSrc, GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &HoldFirstBuffer, NewRef(fe), &DeleteRef);
    gst_pad_add_probe(fe->floatSrc,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                      GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      &CutSelection, NewRef(fe), &DeleteRef);
    return S_OK;
}

Result BuildGroup(const SourceSpec& spec, std::vector<FrontEndRef>& branchesOut, Filter& filterOut) {
    // An MP3's frames are read once, for every branch's reader.
    std::vector<Mp3FrameRef> frames;
    const std::optional<Mp3StreamInfo> mp3 = AnalyzeMp3File(spec.path, &frames);
    std::shared_ptr<const Mp3FrameTable> mp3Table = mp3 ? Mp3FrameTableOf(*mp3, std::move(frames)) : nullptr;
    if (mp3Table && !Mp3ReaderAvailable()) mp3Table.reset();
    const int branches = BranchesFor(spec, mp3.has_value(), mp3Table.get());
    gsth::Element bin = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    GstElement* joiner = nullptr;
    if (branches > 1) {
        joiner = gst_element_factory_make(kSpanJoinerElementName, "joiner");
        if (!joiner) return Result(E_FAIL, "The span joiner is not registered.");
        gst_bin_add(GST_BIN(bin.get()), joiner);
    }
    std::vector<FrontEndRef> all;
    for (int b = 0; b < branches; ++b) {
        auto fe = std::make_shared<GroupFrontEnd>();
        fe->selectionStart = static_cast<GstClockTime>(MediaTimeToNanoseconds(spec.mediaStart));
        fe->length = static_cast<GstClockTime>(MediaTimeToNanoseconds(spec.mediaStop - spec.mediaStart));
        fe->mp3 = mp3;
        fe->mp3Table = mp3Table;
        fe->branch = b;
        fe->branches = branches;
        if (Result r = BuildBranch(GST_BIN(bin.get()), spec, fe); r.failed()) return r;
        fe->joiner = joiner;
        if (joiner && !gst_element_link(fe->queue, joiner)) return Result(E_FAIL, "The front end could not be assembled.");
        all.push_back(std::move(fe));
    }
    GstElement* last = joiner ? joiner : all.front()->queue;
    gsth::Pad out = gsth::Pad::Adopt(gst_element_get_static_pad(last, "src"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", out.get()));
    filterOut = WrapElement(std::move(bin));
    branchesOut = std::move(all);
    return S_OK;
}

}  // namespace

struct RenderEngine::Impl {
    std::shared_ptr<Timeline> timeline;
    std::shared_ptr<FilterGraph> graph;
    std::vector<FrontEndRef> groups;  // every branch of every group
    std::vector<Filter> groupFilters;
};

RenderEngine::RenderEngine() : impl_(std::make_unique<Impl>()) {}
RenderEngine::~RenderEngine() { ScrapIt(); }

Result CreateRenderEngine(std::unique_ptr<RenderEngine>& engine) {
    engine = std::make_unique<RenderEngine>();
    return S_OK;
}

Result RenderEngine::SetTimelineObject(std::shared_ptr<Timeline> timeline) {
    if (!timeline) return Result(E_INVALIDARG, "There is no timeline to render.");
    impl_->timeline = std::move(timeline);
    return S_OK;
}

Result RenderEngine::GetTimelineObject(std::shared_ptr<Timeline>& timeline) const {
    timeline = impl_->timeline;
    return timeline ? Result(S_OK) : Result(E_UNEXPECTED);
}

Result RenderEngine::ConnectFrontEnd() {
    if (!impl_->timeline) return Result(E_UNEXPECTED, "There is no timeline to render.");
    ScrapIt();
    auto graph = FilterGraph::Create("conversion");
    long count = 0;
    impl_->timeline->GetGroupCount(count);
    std::vector<FrontEndRef> groups;
    std::vector<Filter> filters;
    for (long g = 0; g < count; ++g) {
        std::shared_ptr<TimelineObj> group;
        AmMediaType mt;
        if (impl_->timeline->GetGroup(group, g).failed() || group->GetMediaType(mt).failed()) continue;
        if (mt.majortype != MajorType::Audio) return Result(E_NOINTERFACE, "Only audio groups can be rendered.");
        // Preview mode would let a group drop samples to keep pace with a
        // clock; this graph runs without one, so every sample is delivered.
        SourceSpec spec;
        if (Result r = FirstSourceOf(group, spec); r.failed()) return r;
        std::vector<FrontEndRef> branches;
        Filter filter;
        if (Result r = BuildGroup(spec, branches, filter); r.failed()) return r;
        if (Result r = graph->AddFilter(filter, "Audio Group " + std::to_string(g)); r.failed()) return r;
        for (FrontEndRef& fe : branches) groups.push_back(std::move(fe));
        filters.push_back(std::move(filter));
    }
    impl_->graph = std::move(graph);
    impl_->groups = std::move(groups);
    impl_->groupFilters = std::move(filters);
    return S_OK;
}

Result RenderEngine::GetFilterGraph(std::shared_ptr<FilterGraph>& graph) const {
    graph = impl_->graph;
    return graph ? Result(S_OK) : Result(E_UNEXPECTED, "The front end has not been connected.");
}

Result RenderEngine::GetGroupOutputPin(long group, Pin& pin) const {
    pin = Pin();
    if (group < 0 || static_cast<std::size_t>(group) >= impl_->groupFilters.size()) return S_FALSE;
    GstElement* bin = impl_->groupFilters[static_cast<std::size_t>(group)].impl()->element.get();
    pin = WrapPad(gsth::Pad::Adopt(gst_element_get_static_pad(bin, "src")));
    return pin ? Result(S_OK) : Result(S_FALSE);
}

Result RenderEngine::EndStreams() {
    for (const FrontEndRef& fe : impl_->groups) {
        fe->endRequested.store(true);
        // Branches end on their own at their next buffer: one waiting for
        // its turn may hold its queue, and an end sent in would wait on it.
        if (fe->branches == 1) gst_pad_send_event(fe->queueSink, gst_event_new_eos());
    }
    return S_OK;
}

Result RenderEngine::ScrapIt() {
    if (impl_->graph) impl_->graph->Stop();
    impl_->groupFilters.clear();
    impl_->groups.clear();
    impl_->graph.reset();
    return S_OK;
}

}  // namespace veltrano
