#include "platform/VorbisDecoder.h"

#include "platform/LibAv.h"

#include <gst/audio/gstaudiodecoder.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>

namespace veltrano {

namespace {

// A comment header with nothing in it, for a stream whose caps carry none:
// the decoder reads only the other two.
const std::vector<std::uint8_t> kEmptyComment = {3, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0, 0, 0, 0, 0, 0, 1};

struct DecoderState {
    const LibAv* av = nullptr;
    std::array<std::vector<std::uint8_t>, 3> headers;  // empty until seen
    std::array<std::vector<std::uint8_t>, 3> openedWith;
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
};

struct VeltranoVorbisDecoder {
    GstAudioDecoder parent;
    DecoderState* state;
};

struct VeltranoVorbisDecoderClass {
    GstAudioDecoderClass parent_class;
};

GType veltrano_vorbis_decoder_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_TYPE(VeltranoVorbisDecoder, veltrano_vorbis_decoder, GST_TYPE_AUDIO_DECODER)
#pragma GCC diagnostic pop

VeltranoVorbisDecoder* Self(gpointer p) { return static_cast<VeltranoVorbisDecoder*>(p); }
DecoderState& StateOf(gpointer p) { return *Self(p)->state; }

void CloseCodec(DecoderState& s) {
    if (!s.av) return;
    if (s.ctx) s.av->freeContext(&s.ctx);
    if (s.packet) s.av->packetFree(&s.packet);
    if (s.frame) s.av->frameFree(&s.frame);
    s.openedWith = {};
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
// its own order, which for Vorbis's layouts is GStreamer's too; a layout that
// is not is declared unpositioned rather than mislabelled.
void DescribeOutput(const DecoderState& s, GstAudioInfo& info) {
    const int n = s.ctx->ch_layout.nb_channels;
    if (n <= 2) {
        gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_F32LE, s.ctx->sample_rate, n, nullptr);
        return;
    }
    std::vector<GstAudioChannelPosition> pos(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c)
        pos[static_cast<std::size_t>(c)] =
            PositionOf(s.av->channelFromIndex(&s.ctx->ch_layout, static_cast<unsigned>(c)));
    if (n > 64 || !gst_audio_check_valid_channel_positions(pos.data(), n, TRUE))
        std::fill(pos.begin(), pos.end(), GST_AUDIO_CHANNEL_POSITION_NONE);
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_F32LE, s.ctx->sample_rate, n, pos.data());
}

bool OpenCodec(GstAudioDecoder* dec, DecoderState& s) {
    std::array<std::vector<std::uint8_t>, 3> headers = s.headers;
    if (headers[1].empty()) headers[1] = kEmptyComment;
    if (s.ctx && headers == s.openedWith) return true;  // the same stream's headers again
    CloseCodec(s);
    const std::vector<std::uint8_t> extra = XiphExtradata(headers);
    s.ctx = s.av->allocContext(s.av->vorbis);
    s.packet = s.av->packetAlloc();
    s.frame = s.av->frameAlloc();
    if (!s.ctx || !s.packet || !s.frame) {
        CloseCodec(s);
        return false;
    }
    s.ctx->thread_count = 1;
    // The codec frees what it was given with its own allocator.
    s.ctx->extradata = static_cast<uint8_t*>(s.av->mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!s.ctx->extradata) {
        CloseCodec(s);
        return false;
    }
    std::memcpy(s.ctx->extradata, extra.data(), extra.size());
    s.ctx->extradata_size = static_cast<int>(extra.size());
    if (s.av->open(s.ctx, s.av->vorbis, nullptr) < 0 ||
        (s.ctx->sample_fmt != AV_SAMPLE_FMT_FLTP && s.ctx->sample_fmt != AV_SAMPLE_FMT_FLT)) {
        CloseCodec(s);
        return false;
    }
    GstAudioInfo info;
    gst_audio_info_init(&info);
    DescribeOutput(s, info);
    if (!gst_audio_decoder_set_output_format(dec, &info)) {
        CloseCodec(s);
        return false;
    }
    s.openedWith = headers;
    return true;
}

// Keeps a header packet; with the setup header (the last) the codec opens.
bool NoteHeader(GstAudioDecoder* dec, DecoderState& s, int index, const guint8* data, gsize size) {
    s.headers[static_cast<std::size_t>(index)].assign(data, data + size);
    if (index != 2 || s.headers[0].empty()) return true;
    if (OpenCodec(dec, s)) return true;
    GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("The Vorbis stream's headers could not be read."), (nullptr));
    return false;
}

gboolean Open(GstAudioDecoder* dec) {
    DecoderState& s = StateOf(dec);
    s.av = VorbisDecoderAvailable() ? LoadLibAv() : nullptr;
    if (s.av) return TRUE;
    GST_ELEMENT_ERROR(dec, LIBRARY, INIT, ("The Vorbis decoder library could not be loaded."), (nullptr));
    return FALSE;
}

gboolean Stop(GstAudioDecoder* dec) {
    DecoderState& s = StateOf(dec);
    CloseCodec(s);
    s.headers = {};
    return TRUE;
}

// Demuxers and parsers also list the headers in the caps.
gboolean SetFormat(GstAudioDecoder* dec, GstCaps* caps) {
    DecoderState& s = StateOf(dec);
    const GValue* list = gst_structure_get_value(gst_caps_get_structure(caps, 0), "streamheader");
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

// The decoded frame of the packet just sent, if it made one: the first
// packet after a start or a seek only primes the overlap.
GstFlowReturn PushDecoded(GstAudioDecoder* dec, DecoderState& s) {
    const int got = s.av->receiveFrame(s.ctx, s.frame);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF || (got >= 0 && s.frame->nb_samples == 0)) {
        if (got >= 0) s.av->frameUnref(s.frame);
        return gst_audio_decoder_finish_frame(dec, nullptr, 1);
    }
    GstFlowReturn ret = GST_FLOW_OK;
    if (got < 0) {
        GST_AUDIO_DECODER_ERROR(dec, 1, STREAM, DECODE, (nullptr), ("Vorbis packet not decoded (%d)", got), ret);
        return ret == GST_FLOW_OK ? gst_audio_decoder_finish_frame(dec, nullptr, 1) : ret;
    }
    const int channels = s.ctx->ch_layout.nb_channels;
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
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
    if (const int index = VorbisHeaderIndex(map.data, map.size); index >= 0) {
        const bool ok = NoteHeader(dec, s, index, map.data, map.size);
        gst_buffer_unmap(buffer, &map);
        return ok ? gst_audio_decoder_finish_frame(dec, nullptr, 1) : GST_FLOW_ERROR;
    }
    if (!s.ctx) {
        gst_buffer_unmap(buffer, &map);
        GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("The Vorbis stream has no headers."), (nullptr));
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
        GST_AUDIO_DECODER_ERROR(dec, 1, STREAM, DECODE, (nullptr), ("Vorbis packet refused (%d)", sent), ret);
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
    G_OBJECT_CLASS(veltrano_vorbis_decoder_parent_class)->finalize(object);
}

GstStaticPadTemplate kSinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-vorbis"));
GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string)F32LE, layout=(string)interleaved, rate=(int)[1, MAX], "
                    "channels=(int)[1, 255]"));

void veltrano_vorbis_decoder_class_init(VeltranoVorbisDecoderClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = &Finalize;
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, &kSinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &kSrcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Veltrano Vorbis decoder", "Codec/Decoder/Audio",
                                          "Decodes Vorbis with libavcodec", "Veltrano");
    GstAudioDecoderClass* decoderClass = GST_AUDIO_DECODER_CLASS(klass);
    decoderClass->open = &Open;
    decoderClass->stop = &Stop;
    decoderClass->set_format = &SetFormat;
    decoderClass->handle_frame = &HandleFrame;
    decoderClass->flush = &Flush;
}

void veltrano_vorbis_decoder_init(VeltranoVorbisDecoder* self) {
    self->state = new DecoderState;
    GstAudioDecoder* dec = GST_AUDIO_DECODER(self);
    gst_audio_decoder_set_use_default_pad_acceptcaps(dec, TRUE);
    GST_PAD_SET_ACCEPT_TEMPLATE(GST_AUDIO_DECODER_SINK_PAD(dec));
}

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

bool RegisterVorbisDecoderElement() {
    return gst_element_register(nullptr, kVorbisDecoderElementName, GST_RANK_NONE, veltrano_vorbis_decoder_get_type());
}

bool VorbisDecoderAvailable() {
    const LibAv* av = LoadLibAv();
    return av && av->vorbis;
}

}  // namespace veltrano
