#include "media/elements/LibAvDecoders.h"

#include "media/elements/LibAv.h"

#include <gst/audio/gstaudiodecoder.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>

namespace veltrano {

namespace {

enum class Codec { Vorbis, Aac };

// A comment header with nothing in it, for a stream whose caps carry none:
// the decoder reads only the other two.
const std::vector<std::uint8_t> kEmptyComment = {3, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0, 0, 0, 0, 0, 0, 1};

struct DecoderState {
    const LibAv* av = nullptr;
    std::array<std::vector<std::uint8_t>, 3> headers;  // Vorbis's, empty until seen
    std::vector<std::uint8_t> openedWith;               // the codec's setup, as given to it
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    // The output as declared, from the decoded frames: AAC with spectral
    // band replication or parametric stereo states its rate and channels
    // only in the stream.
    int outRate = 0;
    int outChannels = 0;
};

struct VeltranoLibAvDecoder {
    GstAudioDecoder parent;
    DecoderState* state;
};

struct VeltranoLibAvDecoderClass {
    GstAudioDecoderClass parent_class;
    Codec codec;
};

struct VeltranoVorbisDecoder {
    VeltranoLibAvDecoder parent;
};
struct VeltranoVorbisDecoderClass {
    VeltranoLibAvDecoderClass parent_class;
};

struct VeltranoAacDecoder {
    VeltranoLibAvDecoder parent;
};
struct VeltranoAacDecoderClass {
    VeltranoLibAvDecoderClass parent_class;
};

GType veltrano_libav_decoder_get_type();
GType veltrano_vorbis_decoder_get_type();
GType veltrano_aac_decoder_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_ABSTRACT_TYPE(VeltranoLibAvDecoder, veltrano_libav_decoder, GST_TYPE_AUDIO_DECODER)
G_DEFINE_TYPE(VeltranoVorbisDecoder, veltrano_vorbis_decoder, veltrano_libav_decoder_get_type())
G_DEFINE_TYPE(VeltranoAacDecoder, veltrano_aac_decoder, veltrano_libav_decoder_get_type())
#pragma GCC diagnostic pop

VeltranoLibAvDecoder* Self(gpointer p) { return static_cast<VeltranoLibAvDecoder*>(p); }
DecoderState& StateOf(gpointer p) { return *Self(p)->state; }
Codec CodecOf(gpointer p) {
    return reinterpret_cast<VeltranoLibAvDecoderClass*>(static_cast<GTypeInstance*>(p)->g_class)->codec;
}
const char* NameOf(Codec codec) { return codec == Codec::Vorbis ? "Vorbis" : "AAC"; }

void CloseCodec(DecoderState& s) {
    if (!s.av) return;
    if (s.ctx) s.av->freeContext(&s.ctx);
    if (s.packet) s.av->packetFree(&s.packet);
    if (s.frame) s.av->frameFree(&s.frame);
    s.openedWith.clear();
    s.outRate = s.outChannels = 0;
}

GstAudioChannelPosition PositionOf(AVChannel channel) {
    switch (channel) {
    case AV_CHAN_FRONT_LEFT: return GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT;
    case AV_CHAN_FRONT_RIGHT: return GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT;
    case AV_CHAN_FRONT_CENTER: return GST_AUDIO_CHANNEL_POSITION_FRONT_CENTER;
    case AV_CHAN_LOW_FREQUENCY: return GST_AUDIO_CHANNEL_POSITION_LFE1;
    case AV_CHAN_BACK_LEFT: return GST_AUDIO_CHANNEL_POSITION_REAR_LEFT;
    case AV_CHAN_BACK_RIGHT: return GST_AUDIO_CHANNEL_POSITION_REAR_RIGHT;
    case AV_CHAN_BACK_CENTER: return GST_AUDIO_CHANNEL_POSITION_REAR_CENTER;
    case AV_CHAN_SIDE_LEFT: return GST_AUDIO_CHANNEL_POSITION_SIDE_LEFT;
    case AV_CHAN_SIDE_RIGHT: return GST_AUDIO_CHANNEL_POSITION_SIDE_RIGHT;
    default: return GST_AUDIO_CHANNEL_POSITION_INVALID;
    }
}

// The decoded layout in GStreamer's terms. The decoder puts the channels in
// its own order, which for these codecs' layouts is GStreamer's too; a
// layout that is not is declared unpositioned rather than mislabelled.
void DescribeOutput(const DecoderState& s, const AVFrame& frame, GstAudioInfo& info) {
    const int n = frame.ch_layout.nb_channels;
    if (n <= 2) {
        gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_F32LE, frame.sample_rate, n, nullptr);
        return;
    }
    std::vector<GstAudioChannelPosition> pos(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c)
        pos[static_cast<std::size_t>(c)] =
            PositionOf(s.av->channelFromIndex(&frame.ch_layout, static_cast<unsigned>(c)));
    if (n > 64) {  // past what positions can name: unpositioned, as GStreamer requires
        gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_F32LE, frame.sample_rate, n, nullptr);
        return;
    }
    if (!gst_audio_check_valid_channel_positions(pos.data(), n, TRUE))
        std::fill(pos.begin(), pos.end(), GST_AUDIO_CHANNEL_POSITION_NONE);
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_F32LE, frame.sample_rate, n, pos.data());
}

// A damaged AAC configuration can make the decoder put out frames of no
// rate or no channels, or of more channels than our output caps carry.
bool HasUsableFormat(const AVFrame& frame) {
    return frame.sample_rate > 0 && frame.ch_layout.nb_channels > 0 && frame.ch_layout.nb_channels <= 255;
}

// Opens the codec with its setup (Vorbis's headers, AAC's configuration);
// the same setup again keeps it open.
bool OpenCodec(DecoderState& s, Codec codec, const std::vector<std::uint8_t>& setup) {
    if (s.ctx && setup == s.openedWith) return true;
    CloseCodec(s);
    const AVCodec* decoder = codec == Codec::Vorbis ? s.av->vorbis : s.av->aac;
    s.ctx = s.av->allocContext(decoder);
    s.packet = s.av->packetAlloc();
    s.frame = s.av->frameAlloc();
    if (!s.ctx || !s.packet || !s.frame) {
        CloseCodec(s);
        return false;
    }
    s.ctx->thread_count = 1;
    if (!setup.empty()) {
        // The codec frees what it was given with its own allocator.
        s.ctx->extradata = static_cast<uint8_t*>(s.av->mallocz(setup.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!s.ctx->extradata) {
            CloseCodec(s);
            return false;
        }
        std::memcpy(s.ctx->extradata, setup.data(), setup.size());
        s.ctx->extradata_size = static_cast<int>(setup.size());
    }
    if (s.av->open(s.ctx, decoder, nullptr) < 0 ||
        (s.ctx->sample_fmt != AV_SAMPLE_FMT_FLTP && s.ctx->sample_fmt != AV_SAMPLE_FMT_FLT)) {
        CloseCodec(s);
        return false;
    }
    s.openedWith = setup;
    return true;
}

// Keeps a Vorbis header packet; with the setup header (the last) the codec opens.
bool NoteHeader(GstAudioDecoder* dec, DecoderState& s, int index, const guint8* data, gsize size) {
    s.headers[static_cast<std::size_t>(index)].assign(data, data + size);
    if (index != 2 || s.headers[0].empty()) return true;
    std::array<std::vector<std::uint8_t>, 3> headers = s.headers;
    if (headers[1].empty()) headers[1] = kEmptyComment;
    if (OpenCodec(s, Codec::Vorbis, XiphExtradata(headers))) return true;
    GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("The Vorbis stream's headers could not be read."), (nullptr));
    return false;
}

gboolean Open(GstAudioDecoder* dec) {
    DecoderState& s = StateOf(dec);
    const Codec codec = CodecOf(dec);
    const bool available = codec == Codec::Vorbis ? VorbisDecoderAvailable() : AacDecoderAvailable();
    s.av = available ? LoadLibAv() : nullptr;
    if (s.av) return TRUE;
    GST_ELEMENT_ERROR(dec, LIBRARY, INIT, ("The %s decoder library could not be loaded.", NameOf(codec)), (nullptr));
    return FALSE;
}

gboolean Stop(GstAudioDecoder* dec) {
    DecoderState& s = StateOf(dec);
    CloseCodec(s);
    s.headers = {};
    return TRUE;
}

// Demuxers and parsers list Vorbis's headers in the caps.
gboolean SetVorbisFormat(GstAudioDecoder* dec, const GstStructure* st) {
    DecoderState& s = StateOf(dec);
    const GValue* list = gst_structure_get_value(st, "streamheader");
    if (!list || !GST_VALUE_HOLDS_ARRAY(list)) return TRUE;
    for (guint i = 0; i < gst_value_array_get_size(list); ++i) {
        const GValue* v = gst_value_array_get_value(list, i);
        if (!GST_VALUE_HOLDS_BUFFER(v)) continue;
        GstMapInfo map;
        GstBuffer* header = gst_value_get_buffer(v);
        if (!gst_buffer_map(header, &map, GST_MAP_READ)) continue;
        const int index = VorbisHeaderIndex(map.data, map.size);
        const bool ok = index < 0 || NoteHeader(dec, s, index, map.data, map.size);
        gst_buffer_unmap(header, &map);
        if (!ok) return FALSE;
    }
    return TRUE;
}

// A raw AAC stream's configuration comes in the caps; an ADTS stream
// carries its own in every frame.
gboolean SetAacFormat(GstAudioDecoder* dec, const GstStructure* st) {
    DecoderState& s = StateOf(dec);
    std::vector<std::uint8_t> config;
    if (const GValue* v = gst_structure_get_value(st, "codec_data"); v && GST_VALUE_HOLDS_BUFFER(v)) {
        GstMapInfo map;
        if (gst_buffer_map(gst_value_get_buffer(v), &map, GST_MAP_READ)) {
            config.assign(map.data, map.data + map.size);
            gst_buffer_unmap(gst_value_get_buffer(v), &map);
        }
    }
    if (OpenCodec(s, Codec::Aac, config)) return TRUE;
    GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("The AAC stream's configuration could not be read."), (nullptr));
    return FALSE;
}

gboolean SetFormat(GstAudioDecoder* dec, GstCaps* caps) {
    const GstStructure* st = gst_caps_get_structure(caps, 0);
    return CodecOf(dec) == Codec::Vorbis ? SetVorbisFormat(dec, st) : SetAacFormat(dec, st);
}

void InterleavePlanes(const AVFrame& frame, int channels, float* out) {
    const int n = frame.nb_samples;
    if (frame.format == AV_SAMPLE_FMT_FLT) {
        std::memcpy(out, frame.extended_data[0], sizeof(float) * static_cast<std::size_t>(n) * channels);
        return;
    }
    for (int c = 0; c < channels; ++c) {
        const float* in = reinterpret_cast<const float*>(frame.extended_data[c]);
        float* o = out + c;
        for (int i = 0; i < n; ++i, o += channels) *o = in[i];
    }
}

// Declares the output as the frame has it, when that is new.
bool FollowOutputFormat(GstAudioDecoder* dec, DecoderState& s, const AVFrame& frame) {
    if (frame.sample_rate == s.outRate && frame.ch_layout.nb_channels == s.outChannels) return true;
    GstAudioInfo info;
    gst_audio_info_init(&info);
    DescribeOutput(s, frame, info);
    if (!gst_audio_decoder_set_output_format(dec, &info)) return false;
    s.outRate = frame.sample_rate;
    s.outChannels = frame.ch_layout.nb_channels;
    return true;
}

// The decoded frame of the packet just sent, if it made one: the first
// Vorbis packet after a start or a seek only primes the overlap.
GstFlowReturn PushDecoded(GstAudioDecoder* dec, DecoderState& s) {
    const int got = s.av->receiveFrame(s.ctx, s.frame);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF || (got >= 0 && s.frame->nb_samples == 0)) {
        if (got >= 0) s.av->frameUnref(s.frame);
        return gst_audio_decoder_finish_frame(dec, nullptr, 1);
    }
    GstFlowReturn ret = GST_FLOW_OK;
    if (got < 0) {
        GST_AUDIO_DECODER_ERROR(dec, 1, STREAM, DECODE, (nullptr),
                                ("%s packet not decoded (%d)", NameOf(CodecOf(dec)), got), ret);
        return ret == GST_FLOW_OK ? gst_audio_decoder_finish_frame(dec, nullptr, 1) : ret;
    }
    if (!HasUsableFormat(*s.frame)) {
        GST_AUDIO_DECODER_ERROR(dec, 1, STREAM, DECODE, (nullptr),
                                ("%s frame of %d Hz, %d channels", NameOf(CodecOf(dec)), s.frame->sample_rate,
                                 s.frame->ch_layout.nb_channels),
                                ret);
        s.av->frameUnref(s.frame);
        return ret == GST_FLOW_OK ? gst_audio_decoder_finish_frame(dec, nullptr, 1) : ret;
    }
    if (!FollowOutputFormat(dec, s, *s.frame)) {
        s.av->frameUnref(s.frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    const int channels = s.frame->ch_layout.nb_channels;
    const gsize bytes = sizeof(float) * static_cast<gsize>(s.frame->nb_samples) * static_cast<gsize>(channels);
    GstBuffer* out = gst_audio_decoder_allocate_output_buffer(dec, bytes);
    GstMapInfo map;
    if (!out || !gst_buffer_map(out, &map, GST_MAP_WRITE)) {
        if (out) gst_buffer_unref(out);
        s.av->frameUnref(s.frame);
        return GST_FLOW_ERROR;
    }
    InterleavePlanes(*s.frame, channels, reinterpret_cast<float*>(map.data));
    gst_buffer_unmap(out, &map);
    s.av->frameUnref(s.frame);
    return gst_audio_decoder_finish_frame(dec, out, 1);
}

GstFlowReturn HandleFrame(GstAudioDecoder* dec, GstBuffer* buffer) {
    if (!buffer) return GST_FLOW_OK;  // nothing is held back to drain
    DecoderState& s = StateOf(dec);
    const Codec codec = CodecOf(dec);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
    if (codec == Codec::Vorbis) {
        if (const int index = VorbisHeaderIndex(map.data, map.size); index >= 0) {
            const bool ok = NoteHeader(dec, s, index, map.data, map.size);
            gst_buffer_unmap(buffer, &map);
            return ok ? gst_audio_decoder_finish_frame(dec, nullptr, 1) : GST_FLOW_ERROR;
        }
    }
    if (!s.ctx) {
        gst_buffer_unmap(buffer, &map);
        GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("The %s stream has no headers.", NameOf(codec)), (nullptr));
        return GST_FLOW_ERROR;
    }
    // Not reference-counted: the codec copies it into a padded buffer of its own.
    s.packet->data = map.data;
    s.packet->size = static_cast<int>(map.size);
    const int sent = s.av->sendPacket(s.ctx, s.packet);
    s.packet->data = nullptr;
    s.packet->size = 0;
    gst_buffer_unmap(buffer, &map);
    if (sent < 0) {
        GstFlowReturn ret = GST_FLOW_OK;
        GST_AUDIO_DECODER_ERROR(dec, 1, STREAM, DECODE, (nullptr), ("%s packet refused (%d)", NameOf(codec), sent),
                                ret);
        return ret == GST_FLOW_OK ? gst_audio_decoder_finish_frame(dec, nullptr, 1) : ret;
    }
    return PushDecoded(dec, s);
}

void Flush(GstAudioDecoder* dec, gboolean) {
    DecoderState& s = StateOf(dec);
    if (s.ctx) s.av->flush(s.ctx);
}

void Finalize(GObject* object) {
    CloseCodec(StateOf(object));
    delete Self(object)->state;
    G_OBJECT_CLASS(veltrano_libav_decoder_parent_class)->finalize(object);
}

GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string)F32LE, layout=(string)interleaved, rate=(int)[1, MAX], "
                    "channels=(int)[1, 255]"));
GstStaticPadTemplate kVorbisSinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-vorbis"));
// Whole frames only: a parser frames an unframed ADTS stream first.
GstStaticPadTemplate kAacSinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/mpeg, mpegversion=(int){ 2, 4 }, stream-format=(string){ raw, adts }, "
                    "framed=(boolean)true"));

void veltrano_libav_decoder_class_init(VeltranoLibAvDecoderClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = &Finalize;
    gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass), &kSrcTemplate);
    GstAudioDecoderClass* decoderClass = GST_AUDIO_DECODER_CLASS(klass);
    decoderClass->open = &Open;
    decoderClass->stop = &Stop;
    decoderClass->set_format = &SetFormat;
    decoderClass->handle_frame = &HandleFrame;
    decoderClass->flush = &Flush;
}

void veltrano_libav_decoder_init(VeltranoLibAvDecoder* self) {
    self->state = new DecoderState;
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    gst_audio_decoder_set_use_default_pad_acceptcaps(dec, TRUE);
    GST_PAD_SET_ACCEPT_TEMPLATE(GST_AUDIO_DECODER_SINK_PAD(dec));
}

// What sets one codec's element apart: its codec, its input and its name.
void SetUpCodecClass(gpointer klass, Codec codec, GstStaticPadTemplate* sink, const char* longName,
                     const char* description) {
    static_cast<VeltranoLibAvDecoderClass*>(klass)->codec = codec;
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, sink);
    gst_element_class_set_static_metadata(elementClass, longName, "Codec/Decoder/Audio", description, "Veltrano");
}

void veltrano_vorbis_decoder_class_init(VeltranoVorbisDecoderClass* klass) {
    SetUpCodecClass(klass, Codec::Vorbis, &kVorbisSinkTemplate, "Veltrano Vorbis decoder",
                    "Decodes Vorbis with libavcodec");
}

void veltrano_vorbis_decoder_init(VeltranoVorbisDecoder*) {}

void veltrano_aac_decoder_class_init(VeltranoAacDecoderClass* klass) {
    SetUpCodecClass(klass, Codec::Aac, &kAacSinkTemplate, "Veltrano AAC decoder", "Decodes AAC with libavcodec");
}

void veltrano_aac_decoder_init(VeltranoAacDecoder*) {}

}  // namespace

int VorbisHeaderIndex(const std::uint8_t* data, std::size_t size) {
    if (size < 7 || (data[0] & 1) == 0 || std::memcmp(data + 1, "vorbis", 6) != 0) return -1;
    switch (data[0]) {
    case 1: return 0;
    case 3: return 1;
    case 5: return 2;
    default: return -1;
    }
}

std::vector<std::uint8_t> XiphExtradata(const std::array<std::vector<std::uint8_t>, 3>& headers) {
    std::vector<std::uint8_t> out{2};
    for (std::size_t i = 0; i < 2; ++i) {
        std::size_t n = headers[i].size();
        for (; n >= 255; n -= 255) out.push_back(255);
        out.push_back(static_cast<std::uint8_t>(n));
    }
    for (const auto& h : headers) out.insert(out.end(), h.begin(), h.end());
    return out;
}

bool RegisterLibAvDecoderElements() {
    return gst_element_register(nullptr, kVorbisDecoderElementName, GST_RANK_NONE,
                                veltrano_vorbis_decoder_get_type()) &&
           gst_element_register(nullptr, kAacDecoderElementName, GST_RANK_NONE, veltrano_aac_decoder_get_type());
}

bool VorbisDecoderAvailable() {
    const LibAv* av = LoadLibAv();
    return av && av->vorbis;
}

bool AacDecoderAvailable() {
    const LibAv* av = LoadLibAv();
    return av && av->aac;
}

}  // namespace veltrano
