// The filters behind the group output: the format converter, the WAV
// multiplexer and the file writer.

#include "core/WaveFormat.h"
#include "media/elements/ConverterElement.h"
#include "media/FilterGraphGst.h"
#include "media/elements/WavWriter.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace veltrano {

namespace {

const char* SampleFormatFor(const WaveFormatEx& f) {
    if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return "F32LE";
    switch (f.wBitsPerSample) {
    case 8: return "U8";
    case 16: return "S16LE";
    case 24: return "S24LE";
    default: return "S32LE";
    }
}

// Stereo is stated with its positions, so that a stereo source passes the
// mixing stage untouched instead of being remapped to unpositioned channels.
void SetChannelPositions(GstCaps* c, int channels) {
    if (channels == 2) gst_caps_set_simple(c, "channel-mask", GST_TYPE_BITMASK, guint64{0x3}, nullptr);
}

// Channels 0 leaves them open: the source's pass as they come.
void SetChannels(GstCaps* c, int channels) {
    if (channels == 0) return;
    gst_caps_set_simple(c, "channels", G_TYPE_INT, channels, nullptr);
    SetChannelPositions(c, channels);
}

gsth::Caps MixCaps(int channels) {
    GstCaps* c = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING,
                                     "interleaved", nullptr);
    SetChannels(c, channels);
    return gsth::Caps::Adopt(c);
}

// The source's own channels, with their positions, up to 8; more are mixed
// down to 7.1. (Unpositioned channels cannot be mixed: more than 8 of them
// fail to negotiate, as they do when stereo is wanted.)
gsth::Caps SourceMixCaps(const GstAudioInfo& in) {
    const int channels = GST_AUDIO_INFO_CHANNELS(&in);
    if (channels <= 2 && !(in.flags & GST_AUDIO_FLAG_UNPOSITIONED)) return MixCaps(channels);
    guint64 mask = 0;
    if (channels > kMaxOutputChannels) {
        if (!(in.flags & GST_AUDIO_FLAG_UNPOSITIONED)) mask = gst_audio_channel_get_fallback_mask(kMaxOutputChannels);
    } else if (!(in.flags & GST_AUDIO_FLAG_UNPOSITIONED) &&
               !gst_audio_channel_positions_to_mask(in.position, channels, FALSE, &mask)) {
        mask = gst_audio_channel_get_fallback_mask(channels);
    }
    GstCaps* c = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING,
                                     "interleaved", "channels", G_TYPE_INT, std::min<int>(channels, kMaxOutputChannels),
                                     "channel-mask", GST_TYPE_BITMASK, mask, nullptr);
    return gsth::Caps::Adopt(c);
}

gsth::Caps OutputCaps(const WaveFormatEx& f) {
    GstCaps* c = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, SampleFormatFor(f), "layout",
                                     G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT,
                                     static_cast<int>(f.nSamplesPerSec), nullptr);
    SetChannels(c, f.nChannels);
    return gsth::Caps::Adopt(c);
}

// Cuts the converter's output to the stream's length at the output rate and
// counts what went out. The length comes with the stream (its segment's
// duration), so no frame of resampler tail ever reaches the multiplexer.
struct OutputCounter {
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<std::uint64_t> expected{0};
    std::atomic<int> channels{0};  // of the negotiated output; 0 until then
    // Streaming thread only.
    int rate = 0;
    int bpf = 0;
    std::uint64_t limit = 0;
    bool limited = false;
    GstClockTime segmentLength = GST_CLOCK_TIME_NONE;

    void UpdateLimit() {
        limited = rate > 0 && GST_CLOCK_TIME_IS_VALID(segmentLength);
        if (!limited) return;
        limit = gst_util_uint64_scale_int_round(segmentLength, rate, GST_SECOND);
        expected.store(limit);
    }

    static GstPadProbeReturn Probe(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<std::shared_ptr<OutputCounter>*>(data)->get();
        if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
            GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(e) == GST_EVENT_CAPS) {
                GstCaps* caps = nullptr;
                gst_event_parse_caps(e, &caps);
                GstAudioInfo ai;
                if (gst_audio_info_from_caps(&ai, caps)) {
                    self->rate = GST_AUDIO_INFO_RATE(&ai);
                    self->bpf = GST_AUDIO_INFO_BPF(&ai);
                    self->channels.store(GST_AUDIO_INFO_CHANNELS(&ai));
                    self->UpdateLimit();
                }
            } else if (GST_EVENT_TYPE(e) == GST_EVENT_SEGMENT) {
                const GstSegment* s = nullptr;
                gst_event_parse_segment(e, &s);
                self->segmentLength = s->format == GST_FORMAT_TIME ? s->duration : GST_CLOCK_TIME_NONE;
                self->UpdateLimit();
            }
            return GST_PAD_PROBE_OK;
        }
        GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
        if (self->bpf <= 0) return GST_PAD_PROBE_OK;
        const std::uint64_t frames = gst_buffer_get_size(buf) / static_cast<std::size_t>(self->bpf);
        const std::uint64_t done = self->delivered.load(std::memory_order_relaxed);
        std::uint64_t keep = frames;
        if (self->limited) keep = done >= self->limit ? 0 : std::min(frames, self->limit - done);
        if (keep == 0) return GST_PAD_PROBE_DROP;
        if (keep < frames) {
            buf = gst_buffer_make_writable(buf);
            gst_buffer_resize(buf, 0, static_cast<gssize>(keep * static_cast<std::uint64_t>(self->bpf)));
            GST_BUFFER_DURATION(buf) = gst_util_uint64_scale_int(keep, GST_SECOND, self->rate);
            GST_PAD_PROBE_INFO_DATA(info) = buf;
        }
        self->delivered.store(done + keep, std::memory_order_relaxed);
        return GST_PAD_PROBE_OK;
    }
};

// What the mixing stage lets through: the wanted channels, or stereo as it
// comes when mono is wanted, which the converter folds in its own pass, or
// the source's channels (wanted 0) with their positions.
struct MixChoice {
    gsth::Element mixCaps;
    std::atomic<int> wanted{2};

    static GstPadProbeReturn Probe(GstPad*, GstPadProbeInfo* info, gpointer data) {
        GstEvent* e = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(e) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
        auto* self = static_cast<std::shared_ptr<MixChoice>*>(data)->get();
        GstCaps* caps = nullptr;
        gst_event_parse_caps(e, &caps);
        GstAudioInfo in;
        const bool known = gst_audio_info_from_caps(&in, caps);
        const bool stereo = known && IsPositionedStereo(in);
        const int wanted = self->wanted.load();
        gsth::Caps mix =
            wanted == kSourceChannels && known ? SourceMixCaps(in) : MixCaps(stereo && wanted == 1 ? 2 : wanted);
        g_object_set(self->mixCaps.get(), "caps", mix.get(), nullptr);
        return GST_PAD_PROBE_OK;
    }
};

class AcmWrapperImpl final : public Filter::Impl, public StreamConfig {
public:
    AcmWrapperImpl(gsth::Element bin, gsth::Element mix, gsth::Element mixCaps, gsth::Element outCaps)
        : Filter::Impl(std::move(bin)), mixCaps_(std::move(mixCaps)), outCaps_(std::move(outCaps)),
          counter_(std::make_shared<OutputCounter>()), mixChoice_(std::make_shared<MixChoice>()) {
        mixChoice_->mixCaps = mixCaps_;
        Apply(format_);
        gsth::Pad mixSink = gsth::Pad::Adopt(gst_element_get_static_pad(mix.get(), "sink"));
        gst_pad_add_probe(mixSink.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &MixChoice::Probe,
                          new std::shared_ptr<MixChoice>(mixChoice_),
                          [](gpointer p) { delete static_cast<std::shared_ptr<MixChoice>*>(p); });
        gsth::Pad src = gsth::Pad::Adopt(gst_element_get_static_pad(outCaps_.get(), "src"));
        gst_pad_add_probe(src.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &OutputCounter::Probe, new std::shared_ptr<OutputCounter>(counter_), [](gpointer p) {
                              delete static_cast<std::shared_ptr<OutputCounter>*>(p);
                          });
    }

    std::shared_ptr<StreamConfig> streamConfig() override {
        return std::shared_ptr<StreamConfig>(shared_from_this(), this);
    }

    Result GetFormat(WaveFormatEx& format) override {
        std::lock_guard lock(mutex_);
        format = format_;
        return Result(S_OK);
    }

    Result SetFormat(const WaveFormatEx& format) override {
        if (auto problem = PcmFormatProblem(format)) return Result(VFW_E_INVALIDMEDIATYPE, *problem);
        std::lock_guard lock(mutex_);
        format_ = format;
        Apply(format_);
        return Result(S_OK);
    }

    std::uint64_t delivered() const { return counter_->delivered.load(); }
    std::uint64_t expected() const { return counter_->expected.load(); }
    int channels() const { return counter_->channels.load(); }

private:
    void Apply(const WaveFormatEx& f) {
        mixChoice_->wanted.store(f.nChannels);
        gsth::Caps mix = MixCaps(f.nChannels);
        gsth::Caps out = OutputCaps(f);
        g_object_set(mixCaps_.get(), "caps", mix.get(), nullptr);
        g_object_set(outCaps_.get(), "caps", out.get(), nullptr);
    }

    gsth::Element mixCaps_;
    gsth::Element outCaps_;
    std::shared_ptr<OutputCounter> counter_;
    std::shared_ptr<MixChoice> mixChoice_;
    std::mutex mutex_;
    WaveFormatEx format_ = DefaultGroupFormat();
};

bool AddAndLink(GstBin* bin, std::initializer_list<GstElement*> chain) {
    for (GstElement* e : chain) gst_bin_add(bin, GST_ELEMENT(gst_object_ref(e)));
    GstElement* prev = nullptr;
    for (GstElement* e : chain) {
        if (prev && !gst_element_link(prev, e)) return false;
        prev = e;
    }
    return true;
}

bool AddGhostPad(GstBin* bin, GstElement* inner, const char* innerPad, const char* name) {
    gsth::Pad target = gsth::Pad::Adopt(gst_element_get_static_pad(inner, innerPad));
    GstPad* ghost = gst_ghost_pad_new(name, target.get());
    return ghost && gst_element_add_pad(GST_ELEMENT(bin), ghost);
}

}  // namespace

WaveFormatEx DefaultGroupFormat() { return MakePcmFormat(44100, 2, 16); }

// The writer lays out the whole file, so the multiplexer passes the stream
// on as it comes; keeping it spares the engine a second graph shape.
Result CreateWavMultiplexer(Filter& mux) {
    gsth::Element e = gsth::MakeElement("identity");
    if (!e) return Result(E_NOINTERFACE, "The GStreamer element identity is not installed.");
    mux = WrapElement(std::move(e));
    return Result(S_OK);
}

Result CreateFileWriter(std::shared_ptr<FileWriter>& writer) {
    gsth::Element e = gsth::MakeElement(kWavWriterElementName);
    if (!e) return Result(E_NOINTERFACE, "The WAV writer element is not registered.");
    // An error upstream is followed by an end of stream: only the graph's
    // events tell the two apart, so the engine commits.
    g_object_set(e.get(), "commit-on-eos", FALSE, nullptr);
    writer = std::make_shared<FileWriter>(WrapElement(std::move(e)));
    return Result(S_OK);
}

namespace {
GstElement* WriterElement(const Filter& f) { return f.impl()->element.get(); }
}  // namespace

Result FileWriter::SetMode(int mode) {
    if (mode != AM_FILE_OVERWRITE) return Result(E_INVALIDARG, "Only overwriting is supported.");
    return Result(S_OK);
}

Result FileWriter::SetFileName(const std::string& fileName) {
    if (fileName.empty()) return Result(E_INVALIDARG, "The output file has no name.");
    g_object_set(WriterElement(filter_), "location", fileName.c_str(), nullptr);
    return Result(S_OK);
}

Result FileWriter::GetFileName(std::string& fileName) const {
    gchar* location = nullptr;
    g_object_get(WriterElement(filter_), "location", &location, nullptr);
    gsth::String s = gsth::String::Adopt(location);
    fileName = s ? s.get() : "";
    return Result(S_OK);
}

Result FileWriter::SetDescriptor(int fd) {
    if (fd < 0) return Result(E_INVALIDARG, "The descriptor is not open.");
    g_object_set(WriterElement(filter_), "fd", fd, nullptr);
    return Result(S_OK);
}

std::uint64_t FileWriter::PaddedFrames() const { return WavWriterPaddedFrames(WriterElement(filter_)); }

Result FileWriter::SetExpectedFrames(std::uint64_t frames) {
    g_object_set(WriterElement(filter_), "expected-frames", static_cast<guint64>(frames), nullptr);
    return Result(S_OK);
}

Result FileWriter::SetWriteTags(bool write) {
    g_object_set(WriterElement(filter_), "tags", write ? TRUE : FALSE, nullptr);
    return Result(S_OK);
}

bool FileWriter::Committed() const { return WavWriterCommitted(WriterElement(filter_)); }

void FileWriter::KeepPartOnStop() { WavWriterKeepPart(WriterElement(filter_)); }

std::string FileWriter::PartFileName() const { return WavWriterPartPath(WriterElement(filter_)); }

Result FileWriter::Commit() {
    std::string error;
    if (!WavWriterCommit(WriterElement(filter_), error))
        return Result(E_FAIL, "The output file could not be replaced: " + error);
    return Result(S_OK);
}

Result CreateAcmWrapper(std::shared_ptr<AcmWrapper>& acm) {
    gsth::Element mix = gsth::MakeElement("audioconvert", "mix");
    gsth::Element mixCaps = gsth::MakeElement("capsfilter", "mixcaps");
    // Resampling and quantizing in one pass of our own: one resample, TPDF
    // dither where bits are dropped, in large buffers.
    gsth::Element convert = gsth::MakeElement(kConverterElementName, "convert");
    gsth::Element outCaps = gsth::MakeElement("capsfilter", "format");
    if (!mix || !mixCaps || !convert || !outCaps)
        return Result(E_NOINTERFACE, "The GStreamer element audioconvert is not installed.");
    gsth::Element bin = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    GstBin* b = GST_BIN(bin.get());
    gsth::Element written = gsth::MakeElement("queue", "written");
    if (!AddAndLink(b, {mix.get(), mixCaps.get(), convert.get(), outCaps.get(), written.get()}) ||
        !AddGhostPad(b, mix.get(), "sink", "sink") || !AddGhostPad(b, written.get(), "src", "src"))
        return Result(E_FAIL, "The format converter could not be assembled.");
    auto impl = std::make_shared<AcmWrapperImpl>(std::move(bin), std::move(mix), std::move(mixCaps), std::move(outCaps));
    acm = std::make_shared<AcmWrapper>(WrapFilter(impl));
    return Result(S_OK);
}

std::shared_ptr<StreamConfig> AcmWrapper::Config() const { return filter_.impl()->streamConfig(); }

std::uint64_t AcmWrapper::FramesDelivered() const {
    return static_cast<AcmWrapperImpl*>(filter_.impl())->delivered();
}

void AcmWrapper::SetDither(bool dither) {
    gsth::Element convert =
        gsth::Element::Adopt(gst_bin_get_by_name(GST_BIN(filter_.impl()->element.get()), "convert"));
    if (convert) g_object_set(convert.get(), "dither", gboolean{dither}, nullptr);
}

std::uint64_t AcmWrapper::FramesExpected() const {
    return static_cast<AcmWrapperImpl*>(filter_.impl())->expected();
}

std::uint16_t AcmWrapper::OutputChannels() const {
    return static_cast<std::uint16_t>(static_cast<AcmWrapperImpl*>(filter_.impl())->channels());
}

}  // namespace veltrano
