#include "media/SelectionCut.h"

#include "media/GstHandles.h"
#include "media/Logging.h"
#include "media/SampleWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace veltrano {

namespace {

std::int64_t LeadingSamples(const GroupFrontEnd& fe) { return fe.parserTrims.load() ? 0 : fe.statedLeading; }

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
    const std::int64_t first = WindowStart(fe) + fe.span.base;
    const GstClockTime runIn = IsFirstSpanOfBranch(fe.plan, fe.span) ? kPreroll : kSpanPreroll;
    const std::int64_t preroll = static_cast<std::int64_t>(gst_util_uint64_scale_int(runIn, fe.rate, GST_SECOND));
    // The start is put on a frame whose instant is a whole nanosecond, so a
    // decoder clipping its first buffer to it cuts a whole number of frames
    // and the timestamps after it stay exact.
    const std::int64_t exact = fe.rate / static_cast<std::int64_t>(std::gcd<std::int64_t>(fe.rate, GST_SECOND));
    const auto from = static_cast<guint64>(std::max<std::int64_t>(0, first - preroll) / exact * exact);
    const auto to = static_cast<guint64>(first + fe.span.frames);
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
        qCInfo(lcMedia) << "front end: the source did not seek";
        // A branch that cannot reach its next span ends where it is.
        if (!IsFirstSpanOfBranch(fe.plan, fe.span)) gst_pad_send_event(fe.queueSink, gst_event_new_eos());
    }
    fe.Move(CutState::Seeking, CutState::Cutting);
    if (fe.blockId) {
        gst_pad_remove_probe(fe.floatSrc, fe.blockId);
        fe.blockId = 0;
    }
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
            fe.batchFirst = fe.span.base + fe.passed;
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

void SetSpan(GroupFrontEnd& fe, std::int64_t index) {
    fe.span = SpanAt(fe.plan, index);
    fe.passed = 0;
    fe.expected.reset();
}

std::string FormatChangeText(const GroupFrontEnd& fe, const GstAudioInfo& ai) {
    char text[160];
    std::snprintf(text, sizeof text, "from %d Hz, %d channels to %d Hz, %d channels", fe.rate, fe.channels,
                  GST_AUDIO_INFO_RATE(&ai), GST_AUDIO_INFO_CHANNELS(&ai));
    return "The sound of " + fe.path + " changes its format in the middle (" + text +
           "). Such a file cannot be converted in one piece; convert its parts separately.";
}

// The plan is made on the first format; a decoder repeating it after a seek
// changes nothing. A stream that changes its rate or channels later is
// refused: every frame counted so far, and the batch being filled, have the
// first format's size. False when the format is refused.
bool OnCaps(GroupFrontEnd& fe, GstEvent* e) {
    GstCaps* caps = nullptr;
    gst_event_parse_caps(e, &caps);
    GstAudioInfo ai;
    if (!gst_audio_info_from_caps(&ai, caps)) return true;
    if (fe.rate > 0 && (GST_AUDIO_INFO_RATE(&ai) != fe.rate || GST_AUDIO_INFO_CHANNELS(&ai) != fe.channels)) {
        PostStreamError(fe, GST_STREAM_ERROR_FORMAT, FormatChangeText(fe, ai));
        fe.state = CutState::Finished;
        return false;
    }
    fe.planar = GST_AUDIO_INFO_LAYOUT(&ai) == GST_AUDIO_LAYOUT_NON_INTERLEAVED;
    fe.shorts = GST_AUDIO_INFO_FORMAT(&ai) == GST_AUDIO_FORMAT_S16LE;
    if (fe.rate > 0) return true;
    // A rate read from a damaged header would size the resampler's tables
    // beyond any memory (2147483647 Hz asked for gigabytes).
    if (GST_AUDIO_INFO_RATE(&ai) > kMaxSourceRate) {
        PostStreamError(fe, GST_STREAM_ERROR_FORMAT,
                        "The sound of " + fe.path + " states " + std::to_string(GST_AUDIO_INFO_RATE(&ai)) +
                            " samples per second; at most " + std::to_string(kMaxSourceRate) + " can be converted.");
        fe.state = CutState::Finished;
        return false;
    }
    fe.channels = GST_AUDIO_INFO_CHANNELS(&ai);
    fe.rate = GST_AUDIO_INFO_RATE(&ai);
    fe.bpf = static_cast<int>(sizeof(float)) * fe.channels;
    const auto total = static_cast<std::int64_t>(gst_util_uint64_scale_int_ceil(fe.length, fe.rate, GST_SECOND) +
                                                 gst_util_uint64_scale_int_ceil(kResamplerTail, fe.rate, GST_SECOND));
    fe.plan = PlanSpans(total, fe.rate, fe.branches);
    SetSpan(fe, fe.branch);
    if (fe.span.frames == 0) fe.state = CutState::Finished;  // a second branch with nothing to do
    if (fe.branches > 1 && fe.queue)
        // Room for a whole span, so a branch decodes on while the other's span goes out.
        g_object_set(fe.queue, "max-size-bytes", static_cast<guint>(std::min<std::int64_t>(
                                                     G_MAXUINT, fe.bpf * (fe.plan.spanFrames + fe.rate))),
                     "max-size-buffers", 0u, "max-size-time", guint64{0}, nullptr);
    return true;
}

// Pushes silence for what the source did not deliver at its end, when that
// is little; a stream cut short by more stays short.
void PadShortEnd(GroupFrontEnd& fe) {
    if (fe.rate <= 0 || fe.bpf <= 0 || fe.endRequested.load() || fe.passed >= fe.span.frames) return;
    const std::int64_t missing = fe.span.frames - fe.passed;
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
        if (!OnCaps(fe, e)) return GST_PAD_PROBE_DROP;  // what is behind keeps the first format
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
        fe.expected.reset();
        gst_event_unref(e);
        GST_PAD_PROBE_INFO_DATA(info) = TimelineSegment(fe);
        return GST_PAD_PROBE_OK;
    }
    case GST_EVENT_FLUSH_STOP:
        // What follows the flush comes from the seek's position: none of it
        // may be taken for the stretch before it.
        fe.Move(CutState::Seeking, CutState::Cutting);
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
        if (fe.state == CutState::SpanSeekDue) StartSpanSeek(fe, data);
        if (fe.state == CutState::Ended || fe.state == CutState::Seeking) return GST_PAD_PROBE_DROP;
        SendBatch(fe, false);
        PadShortEnd(fe);
        fe.state = CutState::Ended;
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
        fe.state = CutState::Finished;
        return ret;
    }
    SetSpan(fe, fe.span.index + fe.branches);
    fe.state = CutState::SpanSeekDue;
    return ret;
}

void StartSpanSeek(GroupFrontEnd& fe, gpointer data) {
    fe.state = CutState::Seeking;
    gst_element_call_async(fe.bin, &SeekToSelection, NewRef(*static_cast<FrontEndRef*>(data)), &DeleteRef);
}

GstPadProbeReturn OnBuffer(GroupFrontEnd& fe, GstPadProbeInfo* info, gpointer data) {
    GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
    if (fe.state == CutState::SpanSeekDue) StartSpanSeek(fe, data);
    const CutState state = fe.state;
    if (state == CutState::AwaitingSeek || state == CutState::Seeking || fe.rate <= 0 || fe.bpf <= 0)
        return GST_PAD_PROBE_DROP;
    if (state == CutState::Finished || state == CutState::Ended || fe.endRequested.load()) {
        // Telling upstream it is done ends the demuxer, which sends the end of stream.
        gst_buffer_unref(buf);
        GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_EOS;
        return GST_PAD_PROBE_HANDLED;
    }
    // Known only now: whether the parser trims shows on the first frames.
    if (!fe.windowStart) fe.windowStart = WindowStart(fe);
    const std::int64_t windowStart = *fe.windowStart + fe.span.base;
    const auto frames = static_cast<std::int64_t>(gst_buffer_get_size(buf) / SourceFrameBytes(fe));
    std::int64_t pos = fe.expected.value_or(0);
    if (GST_BUFFER_PTS_IS_VALID(buf) || !fe.expected) {
        gint64 stream = 0;
        if (GST_BUFFER_PTS_IS_VALID(buf) &&
            gst_segment_to_stream_time_full(&fe.inSegment, GST_FORMAT_TIME, GST_BUFFER_PTS(buf),
                                            reinterpret_cast<guint64*>(&stream)) < 0)
            stream = -stream;
        pos = BufferPosition(stream, fe.rate, fe.expected.has_value(), fe.expected.value_or(0), fe.rate / 1000);
        // A timestamp far ahead of the stream is not trusted to stand for a
        // hole: sound goes on where it was, never minutes of made-up silence.
        if (fe.expected && pos - *fe.expected > static_cast<std::int64_t>(fe.rate) * kMaxHoleSeconds)
            pos = *fe.expected;
    }
    // Run-in before the window is placed by its own timestamps only: the
    // first buffer after a seek is clipped by the decoder to the seek
    // position, off the sample grid, and counting on from it could shift
    // the window by a frame.
    const std::int64_t tolerance = fe.rate / 1000;
    if (!fe.expected && GST_BUFFER_PTS_IS_VALID(buf) && pos + frames + tolerance < windowStart)
        return GST_PAD_PROBE_DROP;
    fe.expected = pos + frames;

    const TrimDecision d = DecideTrim(windowStart, fe.span.frames, fe.passed, pos, frames);
    GstFlowReturn ret = AppendKept(fe, buf, d);
    gst_buffer_unref(buf);
    if (ret == GST_FLOW_OK && d.reachedEnd) ret = EndSpan(fe);
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = ret;
    return GST_PAD_PROBE_HANDLED;
}

}  // namespace

// Holds the first buffer until the seek has been made.
GstPadProbeReturn HoldFirstBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    if (fe.rate <= 0) return GST_PAD_PROBE_PASS;  // no format yet: the cut drops it
    if (fe.Move(CutState::AwaitingSeek, CutState::Seeking)) {
        gst_element_call_async(fe.bin, &SeekToSelection, NewRef(*static_cast<FrontEndRef*>(data)), &DeleteRef);
        return GST_PAD_PROBE_OK;
    }
    // A branch with nothing to do lets its buffers on to the cut, which ends it.
    return fe.state == CutState::Seeking ? GST_PAD_PROBE_OK : GST_PAD_PROBE_PASS;
}

GstPadProbeReturn CutSelection(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GroupFrontEnd& fe = Of(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) return OnBuffer(fe, info, data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & (GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH))
        return OnEvent(fe, info, data);
    return GST_PAD_PROBE_OK;
}

}  // namespace veltrano
