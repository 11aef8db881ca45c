#include "media/MediaProbe.h"

#include "media/GraphEvents.h"
#include "media/GstHandles.h"
#include "media/Logging.h"
#include "formats/Mp3Stream.h"

#include <QCoreApplication>
#include <gst/pbutils/pbutils.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace veltrano {

namespace {

// Long enough for a slow disk, short enough that a file that never exposes
// its streams cannot hang the caller.
constexpr GstClockTime kProbeTimeout = 10 * GST_SECOND;

// Wakes a probe that waits on its graph when whoever asked for it is gone.
// Set and read under its mutex by the probing thread and the one abandoning it.
class ProbeCancel {
public:
    void Cancel() {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        if (bus_) gst_bus_post(bus_.get(), gst_message_new_application(nullptr, gst_structure_new_empty("cancel")));
        if (waiting_) waiting_->notify_all();
    }
    bool Cancelled() {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }
    // While a probe runs: its bus, and the condition it may wait on.
    void Attach(GstBus* bus, std::condition_variable* waiting) {
        std::lock_guard lock(mutex_);
        bus_ = gsth::Bus::Retain(bus);
        waiting_ = waiting;
        if (cancelled_) gst_bus_post(bus, gst_message_new_application(nullptr, gst_structure_new_empty("cancel")));
    }
    void Detach() {
        std::lock_guard lock(mutex_);
        bus_.reset();
        waiting_ = nullptr;
    }

private:
    std::mutex mutex_;
    bool cancelled_ = false;
    gsth::Bus bus_;
    std::condition_variable* waiting_ = nullptr;
};

struct ProbeState {
    GstElement* pipeline = nullptr;
    std::mutex mutex;
    std::condition_variable padAdded;
    unsigned pads = 0;
    std::vector<gsth::Pad> audioPads;  // decodable sound streams, in stream order
    bool sawAudio = false;
    bool decodableVideo = false;
    bool sawVideo = false;
    std::string firstAudioCaps;
    int firstAudioMpegVersion = 0;
    std::atomic<gint64> audioEnd{-1};  // end of the last parsed sound buffer
    ProbeCancel* cancel = nullptr;     // null when nobody can abandon the probe
    // Every sound stream, decodable or not, in stream order, and how many of
    // them have passed their first data (or their end): under mutex.
    std::vector<gsth::Pad> soundPads;
    unsigned soundPadsStarted = 0;
    std::condition_variable soundStarted;
};

void NoteSoundStream(ProbeState& st, GstPad* pad);

// What a probe's waits listen for besides their own messages: an abandon.
constexpr GstMessageType kCancelMessage = GST_MESSAGE_APPLICATION;

Result Abandoned() { return Result(E_ABORT, "The measurement was abandoned."); }

// Follows how far the first sound stream has been parsed.
GstPadProbeReturn TrackEnd(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* st = static_cast<ProbeState*>(data);
    GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(buf)) {
        const auto end = static_cast<gint64>(GST_BUFFER_PTS(buf) +
                                             (GST_BUFFER_DURATION_IS_VALID(buf) ? GST_BUFFER_DURATION(buf) : 0));
        if (end > st->audioEnd.load()) st->audioEnd.store(end);
    }
    return GST_PAD_PROBE_OK;
}

bool HasDecoder(GstCaps* caps, GstElementFactoryListType media) {
    return gsth::SomeFactoryTakes(GST_ELEMENT_FACTORY_TYPE_DECODER | media, caps);
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* st = static_cast<ProbeState*>(data);
    gsth::Caps caps = gsth::Caps::Adopt(gst_pad_get_current_caps(pad));
    if (!caps) caps = gsth::Caps::Adopt(gst_pad_query_caps(pad, nullptr));
    // Every stream ends in a sink of its own so that no demuxer stalls.
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(st->pipeline), sink);
    gsth::Pad sinkPad = gsth::Pad::Adopt(gst_element_get_static_pad(sink, "sink"));
    gst_pad_link(pad, sinkPad.get());
    gst_element_sync_state_with_parent(sink);
    std::lock_guard lock(st->mutex);
    ++st->pads;
    st->padAdded.notify_all();
    if (!caps || gst_caps_is_empty(caps.get())) return;
    const GstStructure* s = gst_caps_get_structure(caps.get(), 0);
    const char* name = gst_structure_get_name(s);
    if (g_str_has_prefix(name, "audio/")) {
        st->sawAudio = true;
        NoteSoundStream(*st, pad);
        if (g_str_has_prefix(name, "audio/x-raw") || HasDecoder(caps.get(), GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO)) {
            if (st->audioPads.empty()) {
                st->firstAudioCaps = name;
                gst_structure_get_int(s, "mpegversion", &st->firstAudioMpegVersion);
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &TrackEnd, st, nullptr);
            }
            st->audioPads.push_back(gsth::Pad::Retain(pad));
        }
    } else if (g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/")) {
        st->sawVideo = true;
        if (g_str_has_prefix(name, "video/x-raw") || HasDecoder(caps.get(), GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO) ||
            HasDecoder(caps.get(), GST_ELEMENT_FACTORY_TYPE_MEDIA_IMAGE))
            st->decodableVideo = true;
    }
}

Result Fail(ProbeStep step, ProbeStep* failedStep, Result r) {
    if (failedStep) *failedStep = step;
    return r;
}

// Waits until every stream is known or the file turns out unreadable: the
// parser announces its collection of streams, then exposes one pad for each.
Result WaitForStreams(ProbeState& st) {
    gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(st.pipeline));
    gsth::Message msg = gsth::Message::Adopt(gst_bus_timed_pop_filtered(
        bus.get(), kProbeTimeout, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_STREAM_COLLECTION | kCancelMessage)));
    if (!msg) return Result(E_FAIL, "The file did not show its streams in time.");
    if (GST_MESSAGE_TYPE(msg.get()) == kCancelMessage) return Abandoned();
    if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
        gsth::Error err;
        gsth::String debug;
        gst_message_parse_error(msg.get(), err.out(), debug.out());
        if (debug) qCInfo(lcMedia) << "probe:" << debug.get();
        return Result(E_FAIL, err && err->message ? err->message : "The file cannot be read.");
    }
    GstStreamCollection* collection = nullptr;
    gst_message_parse_stream_collection(msg.get(), &collection);
    const unsigned streams = collection ? gst_stream_collection_get_size(collection) : 1;
    if (collection) gst_object_unref(collection);
    std::unique_lock lock(st.mutex);
    const auto cancelled = [&] { return st.cancel && st.cancel->Cancelled(); };
    st.padAdded.wait_for(lock, std::chrono::seconds(2), [&] { return st.pads >= streams || cancelled(); });
    return cancelled() ? Abandoned() : Result(S_OK);
}

// For a stream that does not state its length (a FLAC written as a stream):
// the parsers, without any decoder, run to the end, and the last sound
// buffer's end is the length.
gint64 MeasureByParsing(ProbeState& st) {
    if (st.cancel && st.cancel->Cancelled()) return -1;
    if (gst_element_set_state(st.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return -1;
    gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(st.pipeline));
    gsth::Message msg = gsth::Message::Adopt(gst_bus_timed_pop_filtered(
        bus.get(), kProbeTimeout, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | kCancelMessage)));
    if (!msg || GST_MESSAGE_TYPE(msg.get()) != GST_MESSAGE_EOS) return -1;
    return st.audioEnd.load();
}

// ---- the sound streams ----

// Containers send a stream's tags (language, title) just ahead of its first
// data: the listing waits for that much of every sound stream.
constexpr auto kStreamTagsWait = std::chrono::seconds(2);

GstPadProbeReturn NoteStarted(GstPad*, GstPadProbeInfo* info, gpointer data) {
    if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) &&
        GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    auto* st = static_cast<ProbeState*>(data);
    std::lock_guard lock(st->mutex);
    ++st->soundPadsStarted;
    st->soundStarted.notify_all();
    return GST_PAD_PROBE_REMOVE;
}

// Call with st.mutex held.
void NoteSoundStream(ProbeState& st, GstPad* pad) {
    st.soundPads.push_back(gsth::Pad::Retain(pad));
    gst_pad_add_probe(pad,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &NoteStarted, &st, nullptr);
}

std::string TagText(const GstTagList* tags, const char* tag) {
    gchar* value = nullptr;
    if (!tags || !gst_tag_list_get_string(tags, tag, &value)) return {};
    gsth::String owned = gsth::String::Adopt(value);
    return owned ? owned.get() : "";
}

// The stream's own tags: those of its stream object and of its stream-scoped
// tag events (a file's global tags, its title say, are not the stream's).
gsth::TagList StreamTags(GstPad* pad) {
    gsth::TagList tags = gsth::TagList::Adopt(gst_tag_list_new_empty());
    if (auto stream = gsth::Handle<GstStream>::Adopt(gst_pad_get_stream(pad)))
        if (GstTagList* own = gst_stream_get_tags(stream.get())) {
            gst_tag_list_insert(tags.get(), own, GST_TAG_MERGE_KEEP);
            gst_tag_list_unref(own);
        }
    for (guint i = 0;; ++i) {
        gsth::Handle<GstEvent> event = gsth::Handle<GstEvent>::Adopt(gst_pad_get_sticky_event(pad, GST_EVENT_TAG, i));
        if (!event) break;
        GstTagList* list = nullptr;
        gst_event_parse_tag(event.get(), &list);
        if (list && gst_tag_list_get_scope(list) == GST_TAG_SCOPE_STREAM)
            gst_tag_list_insert(tags.get(), list, GST_TAG_MERGE_KEEP);
    }
    return tags;
}

SoundStreamInfo DescribeSoundStream(GstPad* pad) {
    SoundStreamInfo info;
    gsth::Caps caps = gsth::Caps::Adopt(gst_pad_get_current_caps(pad));
    if (!caps) caps = gsth::Caps::Adopt(gst_pad_query_caps(pad, nullptr));
    const GstStructure* s = caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    if (s) {
        gst_structure_get_int(s, "rate", &info.rate);
        gst_structure_get_int(s, "channels", &info.channels);
        info.decodable = g_str_has_prefix(gst_structure_get_name(s), "audio/x-raw") ||
                         HasDecoder(caps.get(), GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO);
    }
    const gsth::TagList tags = StreamTags(pad);
    info.codec = TagText(tags.get(), GST_TAG_AUDIO_CODEC);
    if (info.codec.empty()) info.codec = TagText(tags.get(), GST_TAG_CODEC);
    if (info.codec.empty() && caps) {
        gst_pb_utils_init();
        gsth::String description = gsth::String::Adopt(gst_pb_utils_get_codec_description(caps.get()));
        info.codec = description ? description.get() : (s ? gst_structure_get_name(s) : "");
    }
    info.language = TagText(tags.get(), GST_TAG_LANGUAGE_CODE);
    if (info.language.empty()) info.language = TagText(tags.get(), GST_TAG_LANGUAGE_NAME);
    info.title = TagText(tags.get(), GST_TAG_TITLE);
    gint64 duration = -1;
    if (gst_pad_query_duration(pad, GST_FORMAT_TIME, &duration) && duration > 0)
        info.length = NanosecondsToMediaTime(duration);
    return info;
}

// Every sound stream with what the file says of it. Only the parsers run
// (nothing is decoded), and only until each sound stream has started.
void ListSoundStreams(ProbeState& st, std::vector<SoundStreamInfo>& out) {
    std::vector<gsth::Pad> pads;
    {
        std::unique_lock lock(st.mutex);
        pads = st.soundPads;
        const auto started = [&] { return st.soundPadsStarted >= pads.size(); };
        if (!pads.empty() && !started()) {
            lock.unlock();
            // A sink holds the first data it gets while paused, and with it the demuxer.
            gst_element_set_state(st.pipeline, GST_STATE_PLAYING);
            gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(st.pipeline));
            lock.lock();
            // A file broken further on stops the parsers with an error: nothing more comes then.
            const auto deadline = std::chrono::steady_clock::now() + kStreamTagsWait;
            while (!st.soundStarted.wait_for(lock, std::chrono::milliseconds(50), started) &&
                   std::chrono::steady_clock::now() < deadline) {
                lock.unlock();
                gsth::Message error = gsth::Message::Adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
                lock.lock();
                if (error) break;
            }
        }
    }
    out.clear();
    for (const gsth::Pad& pad : pads) out.push_back(DescribeSoundStream(pad.get()));
}

// The file's source: whatever element the installation reads file URIs with.
Result MakeFileSource(const std::string& path, GstElement*& src) {
    gsth::Error error;
    gsth::String uri = gsth::String::Adopt(gst_filename_to_uri(path.c_str(), error.out()));
    if (!uri) return Result(E_INVALIDARG, error ? error->message : "The file name cannot be made a URI.");
    src = gst_element_make_from_uri(GST_URI_SRC, uri.get(), nullptr, error.out());
    if (!src) return Result(E_NOINTERFACE, error ? error->message : "No installed element reads files.");
    return Result(S_OK);
}

Result Probe(const std::string& path, MediaProbe& out, ProbeStep* failedStep, ProbeCancel* cancel) {
    out = MediaProbe{};
    gsth::Element pipeline = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("probe"))));
    GstElement* src = nullptr;
    if (Result r = MakeFileSource(path, src); r.failed()) return Fail(ProbeStep::Render, failedStep, r);
    GstElement* parse = gst_element_factory_make("parsebin", nullptr);
    if (!parse) {
        gst_object_unref(gst_object_ref_sink(src));
        return Fail(ProbeStep::Render, failedStep, Result(E_NOINTERFACE, "GStreamer's parsebin is not installed."));
    }
    gst_bin_add_many(GST_BIN(pipeline.get()), src, parse, nullptr);
    gst_element_link(src, parse);

    ProbeState st;
    st.pipeline = pipeline.get();
    st.cancel = cancel;
    if (cancel) {
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline.get()));
        cancel->Attach(bus.get(), &st.padAdded);
    }
    const gulong added = g_signal_connect(parse, "pad-added", G_CALLBACK(&OnPadAdded), &st);

    Result streams = gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE
                         ? Result(E_FAIL)
                         : Result(S_OK);
    if (streams.succeeded()) streams = WaitForStreams(st);
    else {
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline.get()));
        gsth::Message msg = gsth::Message::Adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        gsth::Error err;
        if (msg) gst_message_parse_error(msg.get(), err.out(), nullptr);
        streams = Result(E_FAIL, err && err->message ? err->message : "The file cannot be opened.");
    }

    std::vector<gsth::Pad> audioPads;
    {
        std::lock_guard lock(st.mutex);
        audioPads = st.audioPads;
    }
    Result result(S_OK);
    if (streams.failed()) {
        result = Fail(ProbeStep::Render, failedStep, streams);
    } else if (audioPads.empty() && !st.decodableVideo) {
        result = Fail(ProbeStep::Render, failedStep,
                      Result(E_FAIL, st.sawAudio || st.sawVideo ? "No installed decoder can decode this file."
                                                                : "The file holds no sound or picture."));
    } else {
        out.hasAudio = !audioPads.empty();
        out.hasVideo = st.sawVideo;
        // The length of the sound when there is sound, else of the whole file.
        gint64 duration = -1;
        bool answered = false;
        if (!audioPads.empty()) answered = gst_pad_query_duration(audioPads.front().get(), GST_FORMAT_TIME, &duration);
        if (!answered) answered = gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &duration);
        if ((!answered || duration <= 0) && !audioPads.empty()) {
            duration = MeasureByParsing(st);
            answered = duration > 0;
        }
        // A raw MP3 is measured by its frames: exact, and without what the
        // encoder added when the file says how much that was.
        if (out.hasAudio && !out.hasVideo && st.firstAudioCaps == "audio/mpeg" && st.firstAudioMpegVersion == 1) {
            out.analysis = SourceAnalysis::Of(path);
            if (const auto& mp3 = out.analysis ? out.analysis->mp3 : std::nullopt; mp3 && mp3->sampleRate > 0) {
                duration = static_cast<gint64>(
                    gst_util_uint64_scale_int_round(static_cast<guint64>(mp3->ContentSamples()), GST_SECOND,
                                                    mp3->sampleRate));
                answered = true;
            }
        }
        if (!answered) {
            result = Fail(ProbeStep::Seeking, failedStep, Result(E_NOINTERFACE, "The media cannot be positioned."));
        } else if (duration <= 0) {
            result = Fail(ProbeStep::StopPosition, failedStep, Result(E_FAIL, "The length of the media is unknown."));
        } else {
            out.stopPosition = NanosecondsToMediaTime(duration);
            ListSoundStreams(st, out.soundStreams);
        }
    }
    g_signal_handler_disconnect(parse, added);
    audioPads.clear();
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (cancel) cancel->Detach();
    return result;
}

}  // namespace

std::string NoSoundStreamText(int stream, int streams) {
    std::string text = "The media file has no sound stream " + std::to_string(stream) + "; it has " +
                       std::to_string(streams);
    if (streams == 1) return text + " (stream 0).";
    if (streams > 1) return text + " (0 to " + std::to_string(streams - 1) + ").";
    return text + ".";
}

Result ProbeMedia(const std::string& path, MediaProbe& out, ProbeStep* failedStep) {
    return Probe(path, out, failedStep, nullptr);
}

// ---- MediaProber ----

// What the prober and its worker share. The worker reads the target under the
// mutex when it posts; the prober's destructor empties it first, so nothing
// is ever posted to a target that is gone.
class MediaProber::Shared {
public:
    explicit Shared(QObject* target) : target_(target) {}

    void Post(QEvent* event) {
        std::lock_guard lock(mutex_);
        if (target_) QCoreApplication::postEvent(target_, event);
        else delete event;
        busy_ = false;
    }
    void Abandon() {
        {
            std::lock_guard lock(mutex_);
            target_ = nullptr;
        }
        cancel_.Cancel();
    }
    bool Busy() {
        std::lock_guard lock(mutex_);
        return busy_;
    }
    void SetBusy() {
        std::lock_guard lock(mutex_);
        busy_ = true;
    }
    ProbeCancel& cancel() { return cancel_; }

private:
    std::mutex mutex_;
    QObject* target_;    // guarded by mutex_
    bool busy_ = false;  // guarded by mutex_
    ProbeCancel cancel_;
};

MediaProber::MediaProber(QObject* target) : shared_(std::make_shared<Shared>(target)) {}

MediaProber::~MediaProber() {
    shared_->Abandon();
    if (worker_.joinable()) worker_.join();
}

bool MediaProber::Busy() const { return shared_->Busy(); }

std::uint64_t MediaProber::Start(const std::string& path) {
    if (shared_->Busy()) return 0;
    if (worker_.joinable()) worker_.join();  // it has posted its answer: it is ending
    const std::uint64_t ticket = ++lastTicket_;
    shared_->SetBusy();
    worker_ = std::thread([shared = shared_, path, ticket] {
        MediaProbe probe;
        ProbeStep step = ProbeStep::Render;
        Result r = Probe(path, probe, &step, &shared->cancel());
        shared->Post(new ProbeDoneEvent(ticket, path, std::move(r), probe, step));
    });
    return ticket;
}

}  // namespace veltrano
