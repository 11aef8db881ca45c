#include "media/elements/ConverterElement.h"

#include "dsp/Quantizer.h"
#include "dsp/Resampler.h"
#include "media/elements/RecycledBuffers.h"

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <vector>

namespace veltrano {

namespace {

// Output goes downstream in buffers of about this many frames: the writer
// and everything between see few buffers, and progress still moves often.
constexpr std::size_t kChunkFrames = 16384;

#define VELTRANO_CONVERTER_RATES "rate = (int) [ 1, 2147483647 ], channels = (int) [ 1, 8 ]"

GstStaticPadTemplate kSinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) F32LE, layout = (string) interleaved, " VELTRANO_CONVERTER_RATES));
GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) { U8, S16LE, S24LE, S32LE, F32LE }, layout = (string) interleaved, "
                    VELTRANO_CONVERTER_RATES));

enum Property { kPropDither = 1 };

struct ConverterState {
    std::unique_ptr<Resampler> resampler;
    int channels = 0;       // of the output, and of what is resampled
    bool foldStereo = false;  // stereo in, folded to mono before resampling
    std::vector<float> folded;
    int inRate = 0;
    int outRate = 0;
    SampleFormat format = SampleFormat::S16;
    std::atomic<bool> dither{true};  // the property, set from any thread
    std::vector<float> pending;  // resampled, not yet quantized and pushed
    std::uint64_t pushed = 0;    // frames pushed since the stream began
    RecycledBuffers buffers;
};

std::size_t FrameBytes(const ConverterState& s) {
    return static_cast<std::size_t>(s.channels) * BytesPerSample(s.format);
}

GstBuffer* OutputBuffer(ConverterState& s, std::size_t bytes) {
    return s.buffers.Acquire(kChunkFrames * FrameBytes(s), bytes);
}

// The resampler for the stream from its start: HQ for 8- and 16-bit output,
// VHQ for more bits and for float.
std::unique_ptr<Resampler> MakeResampler(const ConverterState& s) {
    return std::make_unique<Resampler>(s.inRate, s.outRate, s.channels,
                                       QualityForBits(static_cast<int>(BytesPerSample(s.format) * 8)));
}

bool FormatOf(const GstAudioInfo& info, SampleFormat& format) {
    switch (GST_AUDIO_INFO_FORMAT(&info)) {
    case GST_AUDIO_FORMAT_U8: format = SampleFormat::U8; return true;
    case GST_AUDIO_FORMAT_S16LE: format = SampleFormat::S16; return true;
    case GST_AUDIO_FORMAT_S24LE: format = SampleFormat::S24; return true;
    case GST_AUDIO_FORMAT_S32LE: format = SampleFormat::S32; return true;
    case GST_AUDIO_FORMAT_F32LE: format = SampleFormat::F32; return true;
    default: return false;
    }
}

struct VeltranoConverter {
    GstElement parent;
    GstPad* sink;
    GstPad* src;
    ConverterState* state;
};

struct VeltranoConverterClass {
    GstElementClass parent_class;
};

GType veltrano_converter_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_TYPE(VeltranoConverter, veltrano_converter, GST_TYPE_ELEMENT)
#pragma GCC diagnostic pop

VeltranoConverter* Self(GstObject* parent) { return reinterpret_cast<VeltranoConverter*>(parent); }

// Quantizes and pushes what is pending, all of it or only whole chunks.
GstFlowReturn PushPending(VeltranoConverter* self, bool all) {
    ConverterState& s = *self->state;
    const auto ch = static_cast<std::size_t>(s.channels);
    const std::size_t frames = s.pending.size() / ch;
    const std::size_t take = all ? frames : frames / kChunkFrames * kChunkFrames;
    if (take == 0) return GST_FLOW_OK;
    const std::size_t bytes = take * FrameBytes(s);
    GstBuffer* buf = OutputBuffer(s, bytes);
    GstMapInfo map;
    gst_buffer_map(buf, &map, GST_MAP_WRITE);
    // The dither follows the sample's place in the stream since its start.
    Quantize(s.pending.data(), take * ch, s.format, s.dither.load() ? Dither::Tpdf : Dither::Off, s.pushed * ch,
             map.data);
    gst_buffer_unmap(buf, &map);
    s.pending.erase(s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(take * ch));

    const GstClockTime pts = gst_util_uint64_scale_int(s.pushed, GST_SECOND, s.outRate);
    GST_BUFFER_PTS(buf) = pts;
    GST_BUFFER_DURATION(buf) = gst_util_uint64_scale_int(s.pushed + take, GST_SECOND, s.outRate) - pts;
    GST_BUFFER_OFFSET(buf) = s.pushed;
    GST_BUFFER_OFFSET_END(buf) = s.pushed + take;
    if (s.pushed == 0) GST_BUFFER_FLAG_SET(buf, GST_BUFFER_FLAG_DISCONT);
    s.pushed += take;
    return gst_pad_push(self->src, buf);
}

// Posts the resampler's failure and returns the flow that stops the stream.
GstFlowReturn ResamplerFailed(VeltranoConverter* self) {
    GST_ELEMENT_ERROR(self, STREAM, FAILED, ("The sound could not be resampled."),
                      ("libsoxr: %s", self->state->resampler->Error()));
    return GST_FLOW_ERROR;
}

GstFlowReturn Drain(VeltranoConverter* self) {
    ConverterState& s = *self->state;
    if (!s.resampler) return GST_FLOW_OK;
    if (!s.resampler->Finish(s.pending)) return ResamplerFailed(self);
    return PushPending(self, true);
}

// Left and right at half weight each, the mixing stage's own arithmetic for
// stereo to mono, so the result is the same to the bit.
void FoldStereo(const float* in, std::size_t frames, std::vector<float>& out) {
    out.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) out[i] = in[2 * i] * 0.5f + in[2 * i + 1] * 0.5f;
}

// The input's positions go out as they came: a 5.1 (side) source stays one.
guint64 ChannelMaskOf(const GstAudioInfo& in) {
    if (in.flags & GST_AUDIO_FLAG_UNPOSITIONED) return 0;
    guint64 mask = 0;
    if (gst_audio_channel_positions_to_mask(in.position, GST_AUDIO_INFO_CHANNELS(&in), FALSE, &mask)) return mask;
    return gst_audio_channel_get_fallback_mask(GST_AUDIO_INFO_CHANNELS(&in));
}

// The output format is what downstream fixes (the wanted rate and sample
// format); channels pass through, but for stereo wanted as mono, which is
// folded here in the same pass.
bool Configure(VeltranoConverter* self, GstCaps* caps) {
    GstAudioInfo in;
    if (!gst_audio_info_from_caps(&in, caps)) return false;
    GstCaps* peer = gst_pad_peer_query_caps(self->src, nullptr);
    GstCaps* tmpl = gst_pad_get_pad_template_caps(self->src);
    GstCaps* out = gst_caps_intersect(peer, tmpl);
    gst_caps_unref(peer);
    gst_caps_unref(tmpl);
    out = gst_caps_make_writable(out);
    if (gst_caps_is_empty(out)) {
        gst_caps_unref(out);
        return false;
    }
    out = gst_caps_truncate(out);
    GstStructure* st = gst_caps_get_structure(out, 0);
    gst_structure_fixate_field_nearest_int(st, "channels", GST_AUDIO_INFO_CHANNELS(&in));
    gst_structure_fixate_field_nearest_int(st, "rate", GST_AUDIO_INFO_RATE(&in));
    int outChannels = 0;
    gst_structure_get_int(st, "channels", &outChannels);
    const bool fold = outChannels == 1 && IsPositionedStereo(in);
    if (!fold && GST_AUDIO_INFO_CHANNELS(&in) > 1 && !gst_structure_has_field(st, "channel-mask"))
        gst_structure_set(st, "channel-mask", GST_TYPE_BITMASK, ChannelMaskOf(in), nullptr);
    out = gst_caps_fixate(out);
    GstAudioInfo oi;
    SampleFormat format = SampleFormat::S16;
    const bool ok = gst_audio_info_from_caps(&oi, out) && FormatOf(oi, format) &&
                    (fold || GST_AUDIO_INFO_CHANNELS(&oi) == GST_AUDIO_INFO_CHANNELS(&in));
    if (!ok) {
        gst_caps_unref(out);
        return false;
    }
    ConverterState& s = *self->state;
    const bool same = s.resampler && s.foldStereo == fold && s.channels == GST_AUDIO_INFO_CHANNELS(&oi) &&
                      s.inRate == GST_AUDIO_INFO_RATE(&in) &&
                      s.outRate == GST_AUDIO_INFO_RATE(&oi) && s.format == format;
    if (same) {  // a repeated format changes nothing: the stream goes on unbroken
        gst_caps_unref(out);
        return true;
    }
    if (s.resampler && Drain(self) != GST_FLOW_OK) {
        gst_caps_unref(out);
        return false;
    }
    s.channels = GST_AUDIO_INFO_CHANNELS(&oi);
    s.foldStereo = fold;
    s.inRate = GST_AUDIO_INFO_RATE(&in);
    s.outRate = GST_AUDIO_INFO_RATE(&oi);
    s.format = format;
    s.resampler = MakeResampler(s);
    if (*s.resampler->Error()) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("The sound could not be resampled."),
                          ("libsoxr: %s", s.resampler->Error()));
        s.resampler.reset();
        gst_caps_unref(out);
        return false;
    }
    const bool pushed = gst_pad_push_event(self->src, gst_event_new_caps(out));
    gst_caps_unref(out);
    return pushed;
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    VeltranoConverter* self = Self(parent);
    ConverterState& s = *self->state;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const bool ok = Configure(self, caps);
        gst_event_unref(event);
        return ok;
    }
    case GST_EVENT_EOS:
        // An error here has been posted by whoever refused the data.
        Drain(self);
        return gst_pad_event_default(pad, parent, event);
    case GST_EVENT_FLUSH_STOP:
        if (s.resampler) s.resampler = MakeResampler(s);
        s.pending.clear();
        s.pushed = 0;
        return gst_pad_event_default(pad, parent, event);
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

GstFlowReturn SinkChain(GstPad*, GstObject* parent, GstBuffer* buf) {
    VeltranoConverter* self = Self(parent);
    ConverterState& s = *self->state;
    if (!s.resampler) {
        gst_buffer_unref(buf);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buf, &map, GST_MAP_READ)) {
        gst_buffer_unref(buf);
        return GST_FLOW_ERROR;
    }
    const float* samples = reinterpret_cast<const float*>(map.data);
    const std::size_t frames = map.size / (sizeof(float) * (s.foldStereo ? 2 : static_cast<std::size_t>(s.channels)));
    if (s.foldStereo) {
        FoldStereo(samples, frames, s.folded);
        samples = s.folded.data();
    }
    const bool resampled = s.resampler->Process(samples, frames, s.pending);
    gst_buffer_unmap(buf, &map);
    gst_buffer_unref(buf);
    if (!resampled) return ResamplerFailed(self);
    return PushPending(self, false);
}

void Finalize(GObject* object) {
    delete reinterpret_cast<VeltranoConverter*>(object)->state;
    G_OBJECT_CLASS(veltrano_converter_parent_class)->finalize(object);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    if (id == kPropDither)
        reinterpret_cast<VeltranoConverter*>(object)->state->dither = g_value_get_boolean(value);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    if (id == kPropDither)
        g_value_set_boolean(value, reinterpret_cast<VeltranoConverter*>(object)->state->dither.load());
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void veltrano_converter_class_init(VeltranoConverterClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->finalize = &Finalize;
    object->set_property = &SetProperty;
    object->get_property = &GetProperty;
    g_object_class_install_property(
        object, kPropDither,
        g_param_spec_boolean("dither", "Dither",
                             "TPDF dither where samples lose bits (8, 16 and 24-bit output); samples already on "
                             "the output's steps are kept exactly",
                             TRUE, static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &kSinkTemplate);
    gst_element_class_add_static_pad_template(element, &kSrcTemplate);
    gst_element_class_set_static_metadata(element, "Veltrano format converter", "Filter/Converter/Audio",
                                          "Resamples and quantizes interleaved float sound", "Veltrano");
}

void veltrano_converter_init(VeltranoConverter* self) {
    self->state = new ConverterState();
    self->sink = gst_pad_new_from_static_template(&kSinkTemplate, "sink");
    gst_pad_set_event_function(self->sink, &SinkEvent);
    gst_pad_set_chain_function(self->sink, &SinkChain);
    self->src = gst_pad_new_from_static_template(&kSrcTemplate, "src");
    gst_pad_use_fixed_caps(self->src);
    gst_element_add_pad(GST_ELEMENT(self), self->sink);
    gst_element_add_pad(GST_ELEMENT(self), self->src);
}

}  // namespace

bool IsPositionedStereo(const GstAudioInfo& info) {
    return GST_AUDIO_INFO_CHANNELS(&info) == 2 && !(info.flags & GST_AUDIO_FLAG_UNPOSITIONED) &&
           info.position[0] == GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT &&
           info.position[1] == GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT;
}

bool RegisterConverterElement() {
    return gst_element_register(nullptr, kConverterElementName, GST_RANK_NONE, veltrano_converter_get_type());
}

}  // namespace veltrano
