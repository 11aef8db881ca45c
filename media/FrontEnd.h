#pragma once
// media/-internal: one branch of a group's front end, the state its
// streaming threads share. The builder makes it (FrontEndBuilder), the cut
// reads and fills it (SelectionCut), the render engine ends it.

#include "formats/Mp3Stream.h"
#include "media/SpanPlan.h"
#include "media/elements/Mp3Reader.h"
#include "media/elements/RecycledBuffers.h"

#include <gst/audio/audio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace veltrano {

// Decoding starts this far before the selection, so that every decoder has
// its history (overlap, bit reservoir) when the first kept sample comes.
inline constexpr GstClockTime kPreroll = GST_SECOND;
// Later spans need less run-in: these codecs settle within a frame or two.
inline constexpr GstClockTime kSpanPreroll = GST_SECOND / 2;
// And ends this far after it, so the stream stops soon after the selection.
inline constexpr GstClockTime kPostroll = GST_SECOND / 2;
// Input beyond the selection's end that the resampler sees as context; the
// converter cuts its output to the exact length. libsoxr's filters reach
// about 140 output frames each way (VHQ, to 1e-7): 20 ms holds them for
// output rates from 7 kHz up, so the selection's last samples are the same
// as in a longer selection (measured: with 64 frames, the last 40 samples
// at 22.05 kHz were off by up to -60 dBFS).
inline constexpr GstClockTime kResamplerTail = 20 * GST_MSECOND;
// A source that ends this little before the selection (a codec's last frame
// that its demuxer does not deliver) is made up with silence; one that ends
// earlier has ended short, and the conversion fails.
inline constexpr GstClockTime kMaxPadding = GST_SECOND / 4;
// A hole in the stream's timestamps up to this long is silence in the
// output; a longer jump is a broken timestamp, and the sound goes on where it was.
inline constexpr int kMaxHoleSeconds = 10;
// The most channels a source may have: the converter carries up to 8.
inline constexpr int kMaxSourceChannels = 8;
// The highest source rate taken: what the converter puts out at most.
inline constexpr int kMaxSourceRate = 768000;
// Decoders put out a few milliseconds at a time; the front end hands on
// batches of this many frames, so the threads behind it wake seldom.
inline constexpr std::int64_t kBatchFrames = 8192;

// Where a branch's cut stands. The streaming thread moves it on; only the end
// of a seek is marked by the thread that sent it (or by the seek's flush).
enum class CutState {
    AwaitingSeek,  // the first buffer is held until the seek to the selection goes out
    Seeking,       // what comes before the seek's flush is not the selection's
    Cutting,       // buffers are cut to the current span
    SpanSeekDue,   // a span is complete; the next one's seek goes out at the next buffer or end
    Finished,      // the branch's last span is complete, or the stream was refused: upstream is told it is done
    Ended,         // the end of stream has passed
};

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
    GstPad* floatSrc = nullptr;    // where the selection is cut
    GstPad* queueSink = nullptr;   // where an early end goes in

    std::string path;                 // for messages
    int soundStream = 0;              // the sound stream decoded, counted from 0
    GstClockTime selectionStart = 0;  // media time of the selection, ns
    GstClockTime length = 0;          // ns
    std::optional<Mp3StreamInfo> mp3;
    std::shared_ptr<const Mp3FrameTable> mp3Table;  // when our reader reads it

    // Linking, on the parser's streaming threads, under linkMutex.
    std::mutex linkMutex;
    bool linked = false;
    GstPad* linkedPad = nullptr;  // the sound stream taken; only compared, never used
    bool sawAudio = false;
    bool reportedNoSound = false;
    int soundStreams = 0;  // sound streams exposed so far
    // What the file says lies before its sound (an MP3's encoder and decoder
    // delay), and whether the parser already removes it.
    std::int64_t statedLeading = 0;
    std::atomic<bool> parserTrims{false};
    int inspected = 0;

    // The seek's blocking probe: set by the builder, removed by the seek.
    gulong blockId = 0;
    std::atomic<CutState> state{CutState::AwaitingSeek};
    // Stop asked (from the thread that stops the conversion).
    std::atomic<bool> endRequested{false};

    // The cut, on the decoding thread only.
    GstSegment inSegment{};
    int rate = 0;
    int bpf = 0;          // of the batches: interleaved floats
    bool shorts = false;  // the decoder gives 16-bit integers, made floats in the copy
    int channels = 0;
    bool planar = false;  // the decoder's channels come one after the other
    std::optional<std::int64_t> windowStart;  // the selection's first frame, once the parser's trimming shows
    std::int64_t passed = 0;                  // frames of the current span gone out
    std::optional<std::int64_t> expected;     // where the next buffer should start

    // Spans: this branch decodes spans branch, branch + branches, ...; one
    // branch has one span, the whole selection.
    int branch = 0;
    int branches = 1;
    SpanPlan plan;
    Span span;
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
    bool LastSpan() const { return IsLastSpanOfBranch(plan, span); }
    // Moves from one state to another only if the cut is still in the first.
    bool Move(CutState from, CutState to) { return state.compare_exchange_strong(from, to); }
};

using FrontEndRef = std::shared_ptr<GroupFrontEnd>;

// A branch's state as the user data of a probe or signal: each holds a reference.
inline gpointer NewRef(const FrontEndRef& fe) { return new FrontEndRef(fe); }
inline void DeleteRef(gpointer p) { delete static_cast<FrontEndRef*>(p); }
inline void DeleteRefClosure(gpointer p, GClosure*) { DeleteRef(p); }
inline GroupFrontEnd& Of(gpointer p) { return **static_cast<FrontEndRef*>(p); }

// Ends the conversion with an error the graph's events carry to the engine.
void PostStreamError(GroupFrontEnd& fe, gint code, const std::string& text);

}  // namespace veltrano
