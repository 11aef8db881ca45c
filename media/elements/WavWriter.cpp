#include "media/elements/WavWriter.h"

#include "formats/WavHeader.h"
#include "media/elements/WavLayout.h"
#include "media/GstHandles.h"
#include "core/OutputFile.h"

#include <gst/audio/audio.h>
#include <gst/base/gstbasesink.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace veltrano {

namespace {

// The file gets few, large writes.
constexpr std::size_t kWriteBytes = 512 * 1024;
// A durable file is sent on to the disk every so many bytes while it is
// written, so that the sync before it replaces the output has little left
// to wait for (it waited a fifth of a second for a 10-minute file).
constexpr std::uint64_t kWritebackBytes = 2 * 1024 * 1024;

enum Property : guint {
    PROP_0,
    PROP_LOCATION,
    PROP_FD,
    PROP_EXPECTED_FRAMES,
    PROP_TAGS,
    PROP_DURABLE,
    PROP_COMMIT_ON_EOS,
    PROP_COMMITTED,
    PROP_PADDED_FRAMES,
    PROP_PART_LOCATION
};

// What the properties set; read at start.
struct Settings {
    std::string location;
    int fd = -1;
    guint64 expectedFrames = 0;  // 0: unknown (then the segment's duration, if it has one)
    bool tags = true;
    bool durable = true;  // the data reaches the disk before the output is replaced
    // GStreamer pushes an end of stream after an error upstream too: an
    // application that reads its bus commits itself once it saw no error.
    bool commitOnEos = true;
};

struct WriterState {
    std::mutex settingsMutex;
    Settings settings;  // settingsMutex

    // What another thread asks or learns: the application, after the stream.
    std::atomic<bool> committed{false};
    std::atomic<bool> keepPart{false};
    std::atomic<guint64> paddedFrames{0};
    std::mutex partMutex;
    std::string partPath;  // partMutex; empty once committed or removed
    bool finished = false;  // partMutex: complete, its data on the disk as asked
    bool partKept = false;  // partMutex: cut off by a stop, kept to be finished
    OutputTarget target;    // set at start; then read by the streaming thread and under partMutex

    // The streaming thread's; start and stop run while no data flows.
    Settings run;
    int out = -1;
    bool ownFile = false;  // a part file of ours, not the caller's descriptor
    bool failed = false;   // an error was posted: nothing more is written or committed
    std::optional<wav::Format> format;
    GstAudioFormat sampleFormat = GST_AUDIO_FORMAT_UNKNOWN;
    ChannelLayout layout;
    gsth::TagList tags;
    GstSegment segment{};
    bool headerDone = false;
    wav::Tags headerTags;
    wav::Container container = wav::Container::Riff;
    std::uint64_t headerBytes = 0;
    std::optional<std::uint64_t> expectedBytes;
    std::uint64_t dataBytes = 0;  // sample bytes taken, written or pending
    std::vector<guint8> pending;  // bytes not yet written, the header first
    std::uint64_t notSentOn = 0;  // bytes written since the disk was last asked to take them
};

struct VeltranoWavWriter {
    GstBaseSink parent;
    WriterState* state;
};

struct VeltranoWavWriterClass {
    GstBaseSinkClass parent_class;
};

GType veltrano_wav_writer_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_TYPE(VeltranoWavWriter, veltrano_wav_writer, GST_TYPE_BASE_SINK)
#pragma GCC diagnostic pop

VeltranoWavWriter* Self(gpointer p) { return static_cast<VeltranoWavWriter*>(p); }
WriterState& StateOf(gpointer p) { return *Self(p)->state; }

GstStaticPadTemplate kSinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) { U8, S16LE, S24LE, S32LE, F32LE }, "
                    "layout = (string) interleaved, rate = (int) [ 1, MAX ], channels = (int) [ 1, 8 ]"));

// ---- writing ----

// Posts an error whose text the graph shows; the cause (by default the text
// again) ends the debug line, where the graph looks for it. After an error
// the file is never committed.
void PostError(GstBaseSink* sink, GQuark domain, gint code, const std::string& text, const std::string& cause = {}) {
    StateOf(sink).failed = true;
    gst_element_message_full(GST_ELEMENT(sink), GST_MESSAGE_ERROR, domain, code, g_strdup(text.c_str()),
                             g_strdup((cause.empty() ? text : cause).c_str()), __FILE__, GST_FUNCTION, __LINE__);
}

// -1 with errno set when the descriptor takes less than all of it.
int WriteAll(int fd, const guint8* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes to the output and, for a durable part file, starts the disk writing
// of what came before without waiting for it.
int WriteOut(WriterState& s, const guint8* data, std::size_t size) {
    if (WriteAll(s.out, data, size) != 0) return -1;
    s.notSentOn += size;
    if (s.ownFile && s.run.durable && s.notSentOn >= kWritebackBytes) {
        s.notSentOn = 0;
        // Only a hint: a failure to write shows at the sync.
        static_cast<void>(::sync_file_range(s.out, 0, 0, SYNC_FILE_RANGE_WRITE));
    }
    return 0;
}

std::string OutputName(const WriterState& s) {
    return s.ownFile ? s.target.path : "descriptor " + std::to_string(s.run.fd);
}

void PostWriteError(GstBaseSink* sink, const WriterState& s, int error) {
    const std::string cause = "Error while writing to file \"" + OutputName(s) + "\": " + g_strerror(error);
    if (error == ENOSPC)
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NO_SPACE_LEFT, "No space left on the resource.", cause);
    else
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, "Could not write to resource.", cause);
}

bool Flush(GstBaseSink* sink, WriterState& s) {
    if (s.pending.empty()) return true;
    if (WriteOut(s, s.pending.data(), s.pending.size()) != 0) {
        PostWriteError(sink, s, errno);
        return false;
    }
    s.pending.clear();
    return true;
}

// Takes sample bytes, in the file's channel order; writes when a block is full.
bool Append(GstBaseSink* sink, WriterState& s, const guint8* data, std::size_t size) {
    // To a descriptor the header is out already: nothing past the stated length.
    if (!s.ownFile && s.expectedBytes)
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, *s.expectedBytes - s.dataBytes));
    if (size == 0) return true;
    if (s.container == wav::Container::Riff && !wav::RiffCanHold(s.headerBytes, s.dataBytes + size)) {
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE,
                  "The sound is longer than a WAV file of this kind can hold (4 GB).");
        return false;
    }
    s.dataBytes += size;
    if (s.pending.empty() && size >= kWriteBytes && !s.layout.reorder) {
        if (WriteOut(s, data, size) == 0) return true;
        PostWriteError(sink, s, errno);
        return false;
    }
    const std::size_t at = s.pending.size();
    s.pending.insert(s.pending.end(), data, data + size);
    if (s.layout.reorder)
        gst_audio_reorder_channels(s.pending.data() + at, size, s.sampleFormat, s.format->channels,
                                   s.layout.from.data(), s.layout.to.data());
    return s.pending.size() < kWriteBytes || Flush(sink, s);
}

bool AppendSilence(GstBaseSink* sink, WriterState& s, std::uint64_t bytes) {
    const guint8 zero = s.format->bitsPerSample == 8 ? 0x80 : 0x00;  // 8-bit samples are unsigned
    const std::vector<guint8> block(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, kWriteBytes)), zero);
    for (std::uint64_t left = bytes; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        if (!Append(sink, s, block.data(), n)) return false;
        left -= n;
    }
    return true;
}

std::optional<std::uint64_t> ExpectedFrames(const WriterState& s) {
    if (s.run.expectedFrames > 0) return s.run.expectedFrames;
    if (s.segment.format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(s.segment.duration))
        return gst_util_uint64_scale_int_round(s.segment.duration, static_cast<gint>(s.format->sampleRate), GST_SECOND);
    return std::nullopt;
}

// The header goes ahead of the first sample: from here on the format, the
// tags and the kind of file are fixed.
bool BeginData(GstBaseSink* sink, WriterState& s) {
    if (!s.format) {
        PostError(sink, GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION, "The sound's format never reached the WAV writer.");
        return false;
    }
    const std::optional<std::uint64_t> frames = ExpectedFrames(s);
    if (!s.ownFile && !frames) {
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_SETTINGS,
                  "Writing a WAV stream needs its length before the first sample.");
        return false;
    }
    if (frames) s.expectedBytes = *frames * s.format->BlockAlign();
    s.headerTags = s.run.tags ? WavTagsOf(s.tags.get()) : wav::Tags{};
    s.container = s.expectedBytes ? wav::ContainerFor(*s.format, s.headerTags, *s.expectedBytes) : wav::Container::Riff;
    const auto header = wav::BuildHeader(*s.format, s.headerTags, s.container, s.expectedBytes.value_or(0));
    s.headerBytes = header.size();
    s.pending.assign(header.begin(), header.end());
    s.pending.reserve(kWriteBytes * 2);
    s.headerDone = true;
    return true;
}

void CloseOwnFile(WriterState& s) {
    if (s.ownFile && s.out >= 0) ::close(s.out);
    s.out = -1;
}

// Call with partMutex held.
void RemovePart(WriterState& s) {
    CloseOwnFile(s);
    if (!s.partPath.empty()) ::unlink(s.partPath.c_str());
    s.partPath.clear();
    s.finished = s.partKept = false;
}

// Call with partMutex held.
bool CommitLocked(WriterState& s, std::string& error) {
    if (s.committed.load()) return true;
    if (s.partPath.empty() || !(s.finished || s.partKept)) {
        error = "There is no complete file to put in the output's place.";
        return false;
    }
    // A finished file is on the disk already; a kept part was changed since.
    if (!CommitPartFile(s.partPath, s.target, s.run.durable && !s.finished, error)) return false;
    s.partPath.clear();
    s.finished = s.partKept = false;
    s.committed.store(true);
    return true;
}

// The end of the stream: the sizes made true and the data on the disk; the
// file then waits for its commit, unless it commits itself.
bool Finish(GstBaseSink* sink, WriterState& s) {
    if (!s.headerDone && !BeginData(sink, s)) return false;
    if (!s.ownFile) {
        if (s.expectedBytes && s.dataBytes < *s.expectedBytes) {
            const std::uint64_t missing = *s.expectedBytes - s.dataBytes;
            if (!AppendSilence(sink, s, missing)) return false;
            s.paddedFrames.store(missing / s.format->BlockAlign());
        }
        if (!Flush(sink, s)) return false;
        s.committed.store(true);  // nothing to rename: the bytes are out
        return true;
    }
    if (!Flush(sink, s)) return false;
    const auto header = wav::BuildHeader(*s.format, s.headerTags, s.container, s.dataBytes);
    if (::pwrite(s.out, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size()) ||
        (s.run.durable && ::fdatasync(s.out) != 0)) {
        PostWriteError(sink, s, errno);
        return false;
    }
    std::lock_guard lock(s.partMutex);
    CloseOwnFile(s);
    s.finished = true;
    std::string error;
    if (s.run.commitOnEos && !CommitLocked(s, error)) {
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, "Could not replace \"" + s.target.path + "\".",
                  "replacing: " + error);
        return false;
    }
    return true;
}

void ResetStream(WriterState& s) {
    s.format.reset();
    s.layout = ChannelLayout{};
    s.tags.reset();
    gst_segment_init(&s.segment, GST_FORMAT_UNDEFINED);
    s.headerDone = false;
    s.headerTags = {};
    s.container = wav::Container::Riff;
    s.headerBytes = 0;
    s.expectedBytes.reset();
    s.dataBytes = 0;
    s.notSentOn = 0;
    s.pending.clear();
    s.pending.shrink_to_fit();
}

// ---- the base sink's steps ----

gboolean Start(GstBaseSink* sink) {
    WriterState& s = StateOf(sink);
    {
        std::lock_guard lock(s.settingsMutex);
        s.run = s.settings;
    }
    ResetStream(s);
    {
        // A part an earlier run kept and nobody committed is not this run's.
        std::lock_guard lock(s.partMutex);
        RemovePart(s);
    }
    s.failed = false;
    s.committed.store(false);
    s.keepPart.store(false);
    s.paddedFrames.store(0);
    if (s.run.fd >= 0) {
        s.out = s.run.fd;
        s.ownFile = false;
        return TRUE;
    }
    if (s.run.location.empty()) {
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, "No file name specified for writing.");
        return FALSE;
    }
    OutputTarget target;
    std::string refusal;
    if (!ResolveOutputTarget(s.run.location, target, refusal)) {
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_WRITE, refusal);
        return FALSE;
    }
    std::string part;
    const int fd = CreatePartFile(target, part);
    if (fd < 0) {
        PostError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_WRITE,
                  "Could not open file \"" + s.run.location + "\" for writing.",
                  std::string("system error: ") + g_strerror(errno));
        return FALSE;
    }
    std::lock_guard lock(s.partMutex);
    s.target = target;
    s.partPath = part;
    s.out = fd;
    s.ownFile = true;
    return TRUE;
}

// Without a commit nothing replaces the output: the part file goes, unless
// the caller asked to keep it (to finish and commit it itself).
gboolean Stop(GstBaseSink* sink) {
    WriterState& s = StateOf(sink);
    std::lock_guard lock(s.partMutex);
    if (s.ownFile && !s.committed.load()) {
        if (s.keepPart.load() && !s.failed && !s.partPath.empty()) {
            if (s.out >= 0 && !s.pending.empty()) {
                const bool written = WriteAll(s.out, s.pending.data(), s.pending.size()) == 0;
                static_cast<void>(written);  // finishing keeps the whole frames that got there
            }
            CloseOwnFile(s);
            s.partKept = !s.finished;
        } else {
            RemovePart(s);
        }
    }
    CloseOwnFile(s);
    s.ownFile = false;
    ResetStream(s);
    return TRUE;
}

gboolean SetCaps(GstBaseSink* sink, GstCaps* caps) {
    WriterState& s = StateOf(sink);
    GstAudioInfo info;
    std::optional<wav::Format> format;
    if (gst_audio_info_from_caps(&info, caps)) format = WavFormatOf(info);
    if (!format) {
        PostError(sink, GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION, "The WAV writer cannot write this sound format.");
        return FALSE;
    }
    // The header is out: the format can no longer change.
    if (s.headerDone && !(*format == *s.format)) {
        PostError(sink, GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION, "The sound's format changed while it was written.");
        return FALSE;
    }
    s.format = format;
    s.sampleFormat = GST_AUDIO_INFO_FORMAT(&info);
    s.layout = LayoutOf(info);
    return TRUE;
}

GstFlowReturn Render(GstBaseSink* sink, GstBuffer* buffer) {
    WriterState& s = StateOf(sink);
    if (s.failed) return GST_FLOW_ERROR;
    if (!s.headerDone && !BeginData(sink, s)) return GST_FLOW_ERROR;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
    const bool ok = Append(sink, s, map.data, map.size);
    gst_buffer_unmap(buffer, &map);
    return ok ? GST_FLOW_OK : GST_FLOW_ERROR;
}

gboolean Event(GstBaseSink* sink, GstEvent* event) {
    WriterState& s = StateOf(sink);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_TAG: {
        // Kept for the header; not posted on the bus, where nobody reads them.
        if (!s.headerDone) {
            GstTagList* list = nullptr;
            gst_event_parse_tag(event, &list);
            if (!s.tags) s.tags = gsth::TagList::Adopt(gst_tag_list_new_empty());
            gst_tag_list_insert(s.tags.get(), list, GST_TAG_MERGE_REPLACE);
        }
        gst_event_unref(event);
        return TRUE;
    }
    case GST_EVENT_SEGMENT: {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        gst_segment_copy_into(segment, &s.segment);
        break;
    }
    case GST_EVENT_EOS:
        // The end that follows an error of ours ends nothing: the error stands.
        if (s.failed || !Finish(sink, s)) {
            gst_event_unref(event);
            return FALSE;
        }
        break;
    default: break;
    }
    return GST_BASE_SINK_CLASS(veltrano_wav_writer_parent_class)->event(sink, event);
}

// ---- properties ----

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    WriterState& s = StateOf(object);
    std::lock_guard lock(s.settingsMutex);
    switch (id) {
    case PROP_LOCATION: {
        const gchar* text = g_value_get_string(value);
        s.settings.location = text ? text : "";
        break;
    }
    case PROP_FD: s.settings.fd = g_value_get_int(value); break;
    case PROP_EXPECTED_FRAMES: s.settings.expectedFrames = g_value_get_uint64(value); break;
    case PROP_TAGS: s.settings.tags = g_value_get_boolean(value); break;
    case PROP_DURABLE: s.settings.durable = g_value_get_boolean(value); break;
    case PROP_COMMIT_ON_EOS: s.settings.commitOnEos = g_value_get_boolean(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    WriterState& s = StateOf(object);
    std::lock_guard lock(s.settingsMutex);
    switch (id) {
    case PROP_LOCATION: g_value_set_string(value, s.settings.location.c_str()); break;
    case PROP_FD: g_value_set_int(value, s.settings.fd); break;
    case PROP_EXPECTED_FRAMES: g_value_set_uint64(value, s.settings.expectedFrames); break;
    case PROP_TAGS: g_value_set_boolean(value, s.settings.tags); break;
    case PROP_DURABLE: g_value_set_boolean(value, s.settings.durable); break;
    case PROP_COMMIT_ON_EOS: g_value_set_boolean(value, s.settings.commitOnEos); break;
    case PROP_COMMITTED: g_value_set_boolean(value, s.committed.load()); break;
    case PROP_PADDED_FRAMES: g_value_set_uint64(value, s.paddedFrames.load()); break;
    case PROP_PART_LOCATION: {
        std::lock_guard partLock(s.partMutex);
        g_value_set_string(value, s.partPath.c_str());
        break;
    }
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

// An element torn down without a stop, or with a file nobody committed,
// leaves nothing behind.
void Finalize(GObject* object) {
    WriterState& s = StateOf(object);
    {
        std::lock_guard lock(s.partMutex);
        RemovePart(s);
    }
    delete Self(object)->state;
    G_OBJECT_CLASS(veltrano_wav_writer_parent_class)->finalize(object);
}

void InstallProperties(GObjectClass* klass) {
    const auto rw = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    const auto ro = GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(klass, PROP_LOCATION,
                                    g_param_spec_string("location", "Location", "The WAV file to write", nullptr, rw));
    g_object_class_install_property(
        klass, PROP_FD,
        g_param_spec_int("fd", "Descriptor", "An open descriptor to write to instead of a file (-1: none)", -1,
                         G_MAXINT, -1, rw));
    g_object_class_install_property(
        klass, PROP_EXPECTED_FRAMES,
        g_param_spec_uint64("expected-frames", "Expected frames",
                            "Frames the stream is to hold (0: unknown); chooses RF64 past the RIFF limit", 0,
                            G_MAXUINT64, 0, rw));
    g_object_class_install_property(klass, PROP_TAGS,
                                    g_param_spec_boolean("tags", "Tags", "Write the stream's tags in a LIST chunk",
                                                         TRUE, rw));
    g_object_class_install_property(
        klass, PROP_DURABLE,
        g_param_spec_boolean("durable", "Durable", "Write the data through to the disk before replacing the output",
                             TRUE, rw));
    g_object_class_install_property(
        klass, PROP_COMMIT_ON_EOS,
        g_param_spec_boolean("commit-on-eos", "Commit on EOS",
                             "Replace the output at the end of the stream; otherwise the application commits", TRUE,
                             rw));
    g_object_class_install_property(klass, PROP_COMMITTED,
                                    g_param_spec_boolean("committed", "Committed",
                                                         "The file has replaced the output", FALSE, ro));
    g_object_class_install_property(klass, PROP_PADDED_FRAMES,
                                    g_param_spec_uint64("padded-frames", "Padded frames",
                                                        "Frames of silence that made up a short stream", 0,
                                                        G_MAXUINT64, 0, ro));
    g_object_class_install_property(klass, PROP_PART_LOCATION,
                                    g_param_spec_string("part-location", "Part location",
                                                        "The temporary file being written", nullptr, ro));
}

void veltrano_wav_writer_class_init(VeltranoWavWriterClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = &SetProperty;
    objectClass->get_property = &GetProperty;
    objectClass->finalize = &Finalize;
    InstallProperties(objectClass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, &kSinkTemplate);
    gst_element_class_set_static_metadata(elementClass, "Veltrano WAV writer", "Sink/File",
                                          "Writes PCM as a WAV or RF64 file that replaces the output when complete",
                                          "Veltrano");
    GstBaseSinkClass* base = GST_BASE_SINK_CLASS(klass);
    base->start = &Start;
    base->stop = &Stop;
    base->set_caps = &SetCaps;
    base->render = &Render;
    base->event = &Event;
}

void veltrano_wav_writer_init(VeltranoWavWriter* self) {
    self->state = new WriterState;
    gst_segment_init(&self->state->segment, GST_FORMAT_UNDEFINED);
    // Written as fast as it comes; no sample is kept after it is written.
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
    gst_base_sink_set_last_sample_enabled(GST_BASE_SINK(self), FALSE);
}

bool IsWriter(GstElement* e) { return e && G_TYPE_CHECK_INSTANCE_TYPE(e, veltrano_wav_writer_get_type()); }

}  // namespace

bool RegisterWavWriterElement() {
    return gst_element_register(nullptr, kWavWriterElementName, GST_RANK_NONE, veltrano_wav_writer_get_type());
}

bool WavWriterCommitted(GstElement* writer) { return IsWriter(writer) && StateOf(writer).committed.load(); }

std::uint64_t WavWriterPaddedFrames(GstElement* writer) {
    return IsWriter(writer) ? StateOf(writer).paddedFrames.load() : 0;
}

void WavWriterKeepPart(GstElement* writer) {
    if (IsWriter(writer)) StateOf(writer).keepPart.store(true);
}

std::string WavWriterPartPath(GstElement* writer) {
    if (!IsWriter(writer)) return {};
    WriterState& s = StateOf(writer);
    std::lock_guard lock(s.partMutex);
    return s.partPath;
}

bool WavWriterCommit(GstElement* writer, std::string& error) {
    if (!IsWriter(writer)) return false;
    WriterState& s = StateOf(writer);
    std::lock_guard lock(s.partMutex);
    return CommitLocked(s, error);
}

}  // namespace veltrano
