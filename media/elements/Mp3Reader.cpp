#include "media/elements/Mp3Reader.h"

#include "media/elements/LibAv.h"
#include "media/elements/LocationProperty.h"

#include <gst/audio/audio.h>
#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>
#include <gst/tag/tag.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace veltrano {

namespace {

GST_DEBUG_CATEGORY_STATIC(mp3ReaderLog);
#define GST_CAT_DEFAULT mp3ReaderLog

// Frames per buffer: a few thousand samples, so the threads behind wake seldom.
constexpr std::size_t kFramesPerBuffer = 8;
// Frames decoded before a seek's frame's predecessor, at least. Measured on
// eight kinds of stream (8 to 48 kHz, mono and stereo, CBR, VBR, ABR), the
// decoder came out exact from three frames before the predecessor on; with
// less, a frame whose back reference reached past the start threw the
// decoder's reservoir off for a frame or two more.
constexpr std::size_t kMinRunInFrames = 4;
// Frame bytes are read from the file in blocks of this size.
constexpr std::size_t kBlockBytes = 256 * 1024;
// An ID3v2 tag larger than this (pictures, mostly) is not read for its text.
constexpr guint kMaxId3v2Bytes = 4 * 1024 * 1024;

struct ReaderState {
    std::string location;
    const LibAv* av = nullptr;
    int fd = -1;
    std::shared_ptr<const Mp3FrameTable> given;  // from the graph, read already
    std::shared_ptr<const Mp3FrameTable> table;  // while started
    // Set once started, for the queries that come from other threads.
    std::atomic<bool> ready{false};
    std::vector<guint8> block;
    std::uint64_t blockStart = 0;
    std::size_t blockLength = 0;
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    GstAudioInfo audio{};
    // The next frame to put out, and where decoding resumes after a seek.
    std::size_t next = 0;
    std::size_t resumeFrom = 0;
    bool resume = true;
    std::uint64_t damaged = 0;
    // The file's tags, until they go out ahead of the first buffer (streaming thread).
    GstTagList* tags = nullptr;
};

struct VeltranoMp3Reader {
    GstBaseSrc parent;
    ReaderState* state;
};

struct VeltranoMp3ReaderClass {
    GstBaseSrcClass parent_class;
};

GType veltrano_mp3_reader_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_TYPE(VeltranoMp3Reader, veltrano_mp3_reader, GST_TYPE_BASE_SRC)
#pragma GCC diagnostic pop

VeltranoMp3Reader* Self(gpointer p) { return static_cast<VeltranoMp3Reader*>(p); }
ReaderState& StateOf(gpointer p) { return *Self(p)->state; }

void CloseAll(ReaderState& s) {
    if (s.tags) gst_tag_list_unref(s.tags);
    s.tags = nullptr;
    if (s.av) {
        if (s.ctx) s.av->freeContext(&s.ctx);
        if (s.packet) s.av->packetFree(&s.packet);
        if (s.frame) s.av->frameFree(&s.frame);
    }
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    s.ready.store(false);
    s.table.reset();
    s.block.clear();
    s.blockLength = 0;
}

// The bytes of one frame, from the block read ahead; null on a read error.
const guint8* FrameBytes(ReaderState& s, const Mp3FrameRef& f) {
    if (f.offset < s.blockStart || f.offset + f.bytes > s.blockStart + s.blockLength) {
        s.blockStart = f.offset;
        s.blockLength = 0;
        while (s.blockLength < s.block.size()) {
            const ssize_t n = pread(s.fd, s.block.data() + s.blockLength, s.block.size() - s.blockLength,
                                    static_cast<off_t>(s.blockStart + s.blockLength));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            s.blockLength += static_cast<std::size_t>(n);
        }
        if (f.bytes > s.blockLength) return nullptr;
    }
    return s.block.data() + (f.offset - s.blockStart);
}

GstBuffer* ReadBuffer(int fd, std::size_t size, off_t offset) {
    std::vector<guint8> bytes(size);
    if (pread(fd, bytes.data(), size, offset) != static_cast<ssize_t>(size)) return nullptr;
    return gst_buffer_new_memdup(bytes.data(), size);
}

// The file's ID3 tags, as a demuxer would send them: ID3v2 at the start,
// filled in from ID3v1 at the end. Null when there are none.
GstTagList* ReadId3Tags(int fd) {
    GstTagList* tags = nullptr;
    if (GstBuffer* head = ReadBuffer(fd, 10, 0)) {
        const guint size = gst_tag_get_id3v2_tag_size(head);
        gst_buffer_unref(head);
        GstBuffer* tag = size > 10 && size <= kMaxId3v2Bytes ? ReadBuffer(fd, size, 0) : nullptr;
        if (tag) {
            tags = gst_tag_list_from_id3v2_tag(tag);
            gst_buffer_unref(tag);
        }
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 128) return tags;
    guint8 v1[128];
    if (pread(fd, v1, sizeof v1, st.st_size - 128) != 128) return tags;
    GstTagList* old = gst_tag_list_new_from_id3v1(v1);
    if (!old) return tags;
    if (!tags) return old;
    GstTagList* merged = gst_tag_list_merge(tags, old, GST_TAG_MERGE_KEEP);
    gst_tag_list_unref(tags);
    gst_tag_list_unref(old);
    return merged;
}

bool OpenCodec(ReaderState& s) {
    s.ctx = s.av->allocContext(s.av->mp3);
    s.packet = s.av->packetAlloc();
    s.frame = s.av->frameAlloc();
    if (!s.ctx || !s.packet || !s.frame) return false;
    s.ctx->thread_count = 1;
    return s.av->open(s.ctx, s.av->mp3, nullptr) >= 0;
}

gboolean Start(GstBaseSrc* src) {
    ReaderState& s = StateOf(src);
    s.av = Mp3ReaderAvailable() ? LoadLibAv() : nullptr;
    if (!s.av) {
        GST_ELEMENT_ERROR(src, LIBRARY, INIT, ("The MP3 decoder library could not be loaded."), (nullptr));
        return FALSE;
    }
    s.fd = open(s.location.c_str(), O_RDONLY | O_CLOEXEC);
    if (s.fd < 0) {
        GST_ELEMENT_ERROR(src, RESOURCE, OPEN_READ, ("Could not open file \"%s\" for reading.", s.location.c_str()),
                          GST_ERROR_SYSTEM);
        return FALSE;
    }
    s.table = s.given ? s.given : ReadMp3FrameTable(s.location);
    if (!s.table) {
        GST_ELEMENT_ERROR(src, STREAM, WRONG_TYPE, ("\"%s\" is not an MP3 stream.", s.location.c_str()), (nullptr));
        CloseAll(s);
        return FALSE;
    }
    if (!OpenCodec(s)) {
        GST_ELEMENT_ERROR(src, LIBRARY, INIT, ("The MP3 decoder could not be opened."), (nullptr));
        CloseAll(s);
        return FALSE;
    }
    s.block.resize(kBlockBytes);
    s.blockStart = 0;
    s.blockLength = 0;
    gst_audio_info_init(&s.audio);
    const Mp3StreamInfo& info = s.table->info;
    gst_audio_info_set_format(&s.audio, GST_AUDIO_FORMAT_F32LE, info.sampleRate, info.channels, nullptr);
    // Planes, one per channel, as the decoder makes them: the cut
    // interleaves them as it copies.
    if (info.channels > 1) GST_AUDIO_INFO_LAYOUT(&s.audio) = GST_AUDIO_LAYOUT_NON_INTERLEAVED;
    s.next = s.resumeFrom = 0;
    s.resume = true;
    s.damaged = 0;
    s.tags = ReadId3Tags(s.fd);
    s.ready.store(true);
    return TRUE;
}

gboolean Stop(GstBaseSrc* src) {
    ReaderState& s = StateOf(src);
    if (s.damaged > 0) GST_WARNING_OBJECT(src, "%" G_GUINT64_FORMAT " damaged frames put out as silence", s.damaged);
    CloseAll(s);
    return TRUE;
}

gboolean IsSeekable(GstBaseSrc*) { return TRUE; }

// Once the file is read, the one format it decodes to; the default
// negotiation then settles on it.
GstCaps* GetCaps(GstBaseSrc* src, GstCaps* filter) {
    ReaderState& s = StateOf(src);
    GstCaps* caps = !s.ready.load() ? gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src))
                                     : gst_audio_info_to_caps(&s.audio);
    if (!filter) return caps;
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    return both;
}

// A frame's bytes before its main data (header, check word, side
// information), the check word counted for every frame so that main data is
// never overrated; and how far back main data may begin.
std::uint32_t FrameOverhead(const Mp3StreamInfo& info) {
    return static_cast<std::uint32_t>(4 + 2 + Mp3SideInfoBytes(info.version, info.channels));
}
std::uint32_t BackReference(const Mp3StreamInfo& info) { return info.version == 1 ? 511 : 255; }

GstClockTime TimeOfSample(const ReaderState& s, std::uint64_t sample) {
    return gst_util_uint64_scale_int(sample, GST_SECOND, s.table->info.sampleRate);
}

// Output starts with the frame that holds the segment's start; decoding
// starts early enough before it that the frame comes out exact.
gboolean DoSeek(GstBaseSrc* src, GstSegment* segment) {
    ReaderState& s = StateOf(src);
    if (segment->format != GST_FORMAT_TIME || !s.ready.load()) return FALSE;
    const Mp3FrameTable& t = *s.table;
    const guint64 sample = gst_util_uint64_scale_int(segment->start, t.info.sampleRate, GST_SECOND);
    s.next = std::min<std::size_t>(t.frames.size(), sample / static_cast<guint64>(t.info.samplesPerFrame));
    s.resumeFrom = s.next < t.frames.size()
                       ? RunInStart(t.frames, s.next, FrameOverhead(t.info), BackReference(t.info))
                       : s.next;
    s.resume = true;
    segment->time = segment->start;
    segment->position = TimeOfSample(s, static_cast<std::uint64_t>(s.next) * t.info.samplesPerFrame);
    return TRUE;
}

// Sends a frame to the codec and copies what it makes into 'out' (when
// given), per channel, 'stride' apart; false when it did not decode, or not
// whole where its sound is wanted.
bool DecodePacket(ReaderState& s, const guint8* bytes, std::uint32_t size, float* out, std::size_t stride) {
    // Not reference-counted: the codec copies it into a padded buffer of its own.
    s.packet->data = const_cast<guint8*>(bytes);
    s.packet->size = static_cast<int>(size);
    const int sent = s.av->sendPacket(s.ctx, s.packet);
    s.packet->data = nullptr;
    s.packet->size = 0;
    if (sent < 0 || s.av->receiveFrame(s.ctx, s.frame) < 0) return false;
    const AVFrame& f = *s.frame;
    const auto spf = static_cast<std::size_t>(s.table->info.samplesPerFrame);
    const int got = f.ch_layout.nb_channels;
    const bool whole = f.nb_samples == s.table->info.samplesPerFrame && got > 0 &&
                       (f.format == AV_SAMPLE_FMT_FLTP || f.format == AV_SAMPLE_FMT_FLT);
    if (out && whole) {
        // A frame of another channel count (a broken file) gives its first channels.
        for (std::size_t c = 0; c < static_cast<std::size_t>(s.table->info.channels); ++c) {
            const std::size_t from = std::min(c, static_cast<std::size_t>(got - 1));
            float* o = out + c * stride;
            if (f.format == AV_SAMPLE_FMT_FLTP) {
                std::memcpy(o, f.extended_data[from], spf * sizeof(float));
            } else {
                const float* in = reinterpret_cast<const float*>(f.extended_data[0]) + from;
                for (std::size_t i = 0; i < spf; ++i) o[i] = in[i * static_cast<std::size_t>(got)];
            }
        }
    }
    s.av->frameUnref(s.frame);
    return whole || !out;
}

// Decodes one frame into 'out' (see DecodePacket). A frame that does not
// decode is silence, so later frames keep their time; false when the frame
// could not be read, which ends the stream in an error.
bool DecodeFrame(ReaderState& s, std::size_t index, float* out, std::size_t stride) {
    const Mp3FrameRef& ref = s.table->frames[index];
    const guint8* bytes = FrameBytes(s, ref);
    if (!bytes) return false;
    if (DecodePacket(s, bytes, ref.bytes, out, stride)) return true;
    ++s.damaged;
    if (out) {
        const auto spf = static_cast<std::size_t>(s.table->info.samplesPerFrame);
        for (std::size_t c = 0; c < static_cast<std::size_t>(s.table->info.channels); ++c)
            std::fill_n(out + c * stride, spf, 0.0f);
    }
    return true;
}

// The file changed or failed under us (cut short, a device error).
GstFlowReturn ReadFailed(GstBaseSrc* src, const ReaderState& s) {
    GST_ELEMENT_ERROR(src, RESOURCE, READ, ("Could not read file \"%s\".", s.location.c_str()),
                      ("a frame the file had when it was opened could not be read"));
    return GST_FLOW_ERROR;
}

// After a start or a seek: the codec forgets what it had, then decodes the
// run-in frames, whose sound is not put out.
bool ResumeDecoding(ReaderState& s) {
    s.av->flush(s.ctx);
    for (std::size_t i = s.resumeFrom; i < s.next; ++i)
        if (!DecodeFrame(s, i, nullptr, 0)) return false;
    s.resume = false;
    return true;
}

GstFlowReturn Create(GstBaseSrc* src, guint64, guint, GstBuffer** out) {
    ReaderState& s = StateOf(src);
    // The base class puts an event sent to the element out after the segment,
    // ahead of this buffer.
    if (s.tags) gst_element_send_event(GST_ELEMENT(src), gst_event_new_tag(std::exchange(s.tags, nullptr)));
    if (s.resume && !ResumeDecoding(s)) return ReadFailed(src, s);
    if (s.next >= s.table->frames.size()) return GST_FLOW_EOS;
    const std::size_t n = std::min(kFramesPerBuffer, s.table->frames.size() - s.next);
    const auto spf = static_cast<std::size_t>(s.table->info.samplesPerFrame);
    const std::size_t samples = n * spf;
    const auto channels = static_cast<std::size_t>(s.table->info.channels);
    GstBuffer* buf = gst_buffer_new_allocate(nullptr, samples * channels * sizeof(float), nullptr);
    GstMapInfo map;
    if (!buf || !gst_buffer_map(buf, &map, GST_MAP_WRITE)) {
        if (buf) gst_buffer_unref(buf);
        return GST_FLOW_ERROR;
    }
    float* planes = reinterpret_cast<float*>(map.data);
    bool read = true;
    for (std::size_t i = 0; i < n && read; ++i) read = DecodeFrame(s, s.next + i, planes + i * spf, samples);
    gst_buffer_unmap(buf, &map);
    if (!read) {
        gst_buffer_unref(buf);
        return ReadFailed(src, s);
    }
    if (channels > 1) gst_buffer_add_audio_meta(buf, &s.audio, samples, nullptr);
    const std::uint64_t first = static_cast<std::uint64_t>(s.next) * spf;
    GST_BUFFER_PTS(buf) = TimeOfSample(s, first);
    GST_BUFFER_DURATION(buf) = TimeOfSample(s, first + samples) - GST_BUFFER_PTS(buf);
    GST_BUFFER_OFFSET(buf) = first;
    GST_BUFFER_OFFSET_END(buf) = first + samples;
    s.next += n;
    *out = buf;
    return GST_FLOW_OK;
}

gboolean Query(GstBaseSrc* src, GstQuery* query) {
    ReaderState& s = StateOf(src);
    if (GST_QUERY_TYPE(query) == GST_QUERY_DURATION && s.ready.load()) {
        GstFormat format = GST_FORMAT_UNDEFINED;
        gst_query_parse_duration(query, &format, nullptr);
        if (format == GST_FORMAT_TIME) {
            const auto samples = static_cast<std::uint64_t>(s.table->info.DecodedSamples());
            gst_query_set_duration(query, format, static_cast<gint64>(TimeOfSample(s, samples)));
            return TRUE;
        }
    }
    return GST_BASE_SRC_CLASS(veltrano_mp3_reader_parent_class)->query(src, query);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    SetLocationProperty(object, id, value, pspec, StateOf(object).location);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GetLocationProperty(object, id, value, pspec, StateOf(object).location);
}

void Finalize(GObject* object) {
    CloseAll(StateOf(object));
    delete Self(object)->state;
    G_OBJECT_CLASS(veltrano_mp3_reader_parent_class)->finalize(object);
}

GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string)F32LE, layout=(string){ interleaved, non-interleaved }, "
                    "rate=(int)[1, MAX], channels=(int)[1, 2]"));

void veltrano_mp3_reader_class_init(VeltranoMp3ReaderClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = &SetProperty;
    objectClass->get_property = &GetProperty;
    objectClass->finalize = &Finalize;
    InstallLocationProperty(objectClass, "The MP3 file to read");
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, &kSrcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Veltrano MP3 reader", "Source/File/Decoder/Audio",
                                          "Reads and decodes an MP3 file frame-exactly with libavcodec", "Veltrano");
    GstBaseSrcClass* baseClass = GST_BASE_SRC_CLASS(klass);
    baseClass->start = &Start;
    baseClass->stop = &Stop;
    baseClass->is_seekable = &IsSeekable;
    baseClass->get_caps = &GetCaps;
    baseClass->do_seek = &DoSeek;
    baseClass->create = &Create;
    baseClass->query = &Query;
}

void veltrano_mp3_reader_init(VeltranoMp3Reader* self) {
    self->state = new ReaderState;
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

}  // namespace

std::size_t RunInStart(const std::vector<Mp3FrameRef>& frames, std::size_t first, std::uint32_t frameOverhead,
                       std::uint32_t backReference) {
    if (first == 0 || first > frames.size()) return std::min(first, frames.size());
    std::size_t start = first - 1;  // the predecessor, decoded whole
    std::uint64_t mainData = 0;
    std::size_t before = 0;
    while (start > 0 && (before < kMinRunInFrames || mainData < 2 * std::uint64_t{backReference})) {
        --start;
        ++before;
        mainData += frames[start].bytes > frameOverhead ? frames[start].bytes - frameOverhead : 0;
    }
    return start;
}

std::shared_ptr<const Mp3FrameTable> Mp3FrameTableOf(const Mp3StreamInfo& info, std::vector<Mp3FrameRef> frames) {
    if (info.layer != 3 || frames.empty()) return nullptr;
    return std::make_shared<const Mp3FrameTable>(Mp3FrameTable{info, std::move(frames)});
}

std::shared_ptr<const Mp3FrameTable> ReadMp3FrameTable(const std::string& path) {
    std::vector<Mp3FrameRef> frames;
    const auto info = AnalyzeMp3File(path, &frames);
    return info ? Mp3FrameTableOf(*info, std::move(frames)) : nullptr;
}

void SetMp3ReaderTable(GstElement* reader, std::shared_ptr<const Mp3FrameTable> table) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
    if (!G_TYPE_CHECK_INSTANCE_TYPE(reader, veltrano_mp3_reader_get_type())) return;
#pragma GCC diagnostic pop
    StateOf(reader).given = std::move(table);
}

bool RegisterMp3ReaderElement() {
    GST_DEBUG_CATEGORY_INIT(mp3ReaderLog, "veltranomp3src", 0, "Veltrano MP3 reader");
    return gst_element_register(nullptr, kMp3ReaderElementName, GST_RANK_NONE, veltrano_mp3_reader_get_type());
}

bool Mp3ReaderAvailable() {
    const LibAv* av = LoadLibAv();
    return av && av->mp3;
}

}  // namespace veltrano
