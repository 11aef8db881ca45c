#include "tests/support/TestMedia.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace veltrano::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

const char* EncoderChain(AudioKind kind) {
    switch (kind) {
    case AudioKind::Mp3: return "audioconvert ! lamemp3enc target=bitrate bitrate=192 cbr=true ! xingmux ! id3v2mux";
    case AudioKind::OggVorbis: return "audioconvert ! vorbisenc quality=0.5 ! oggmux";
    // flacenc writes the stream length into its header only when it talks to the file directly.
    case AudioKind::Flac: return "audioconvert ! flacenc";
    case AudioKind::Wav: return "audioconvert ! audio/x-raw,format=S16LE ! wavenc";
    case AudioKind::M4aAac: return "audioconvert ! avenc_aac bitrate=192000 ! aacparse ! mp4mux";
    }
    return "";
}

std::string Quote(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool RunToEnd(GstElement* pipeline, std::string* error) {
    GstBus* bus = gst_element_get_bus(pipeline);
    bool ok = true;
    for (;;) {
        GstMessage* msg = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                                     GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (!msg) {
            ok = false;
            if (error) *error = "timed out";
            break;
        }
        if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            GError* err = nullptr;
            gst_message_parse_error(msg, &err, nullptr);
            if (error) *error = err ? err->message : "error";
            if (err) g_error_free(err);
            ok = false;
        }
        gst_message_unref(msg);
        break;
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    return ok;
}

GstCaps* PcmCaps(const Pcm& pcm) {
    return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING,
                               "interleaved", "rate", G_TYPE_INT, pcm.rate, "channels", G_TYPE_INT, pcm.channels,
                               "channel-mask", GST_TYPE_BITMASK,
                               guint64(pcm.channels == 2 ? 0x3 : pcm.channels == 1 ? 0x0 : 0), nullptr);
}

void ConfigureAppSrc(GstElement* src, const Pcm& pcm) {
    GstCaps* caps = PcmCaps(pcm);
    g_object_set(src, "caps", caps, "format", GST_FORMAT_TIME, "block", FALSE, "max-bytes", guint64(0), nullptr);
    gst_caps_unref(caps);
}

// Pushes all samples in 1024-frame buffers, then end of stream.
void PushPcm(GstElement* src, const Pcm& pcm) {
    const std::size_t frames = pcm.samples.size() / std::size_t(pcm.channels);
    const std::size_t chunk = 1024;
    for (std::size_t f = 0; f < frames; f += chunk) {
        const std::size_t n = std::min(chunk, frames - f);
        const std::size_t bytes = n * std::size_t(pcm.channels) * sizeof(float);
        GstBuffer* buf = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        gst_buffer_fill(buf, 0, pcm.samples.data() + f * std::size_t(pcm.channels), bytes);
        GST_BUFFER_PTS(buf) = gst_util_uint64_scale(f, GST_SECOND, guint64(pcm.rate));
        GST_BUFFER_DURATION(buf) = gst_util_uint64_scale(f + n, GST_SECOND, guint64(pcm.rate)) - GST_BUFFER_PTS(buf);
        GST_BUFFER_OFFSET(buf) = f;
        gst_app_src_push_buffer(GST_APP_SRC(src), buf);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
}

bool RunLaunch(const std::string& description, const Pcm* pcm, std::string* error) {
    EnsureGstInitialized();
    GError* err = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &err);
    if (!pipeline || err) {
        if (error) *error = err ? err->message : "parse failed";
        if (err) g_error_free(err);
        if (pipeline) gst_object_unref(pipeline);
        return false;
    }
    GstElement* src = pcm ? gst_bin_get_by_name(GST_BIN(pipeline), "src") : nullptr;
    if (src) ConfigureAppSrc(src, *pcm);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        if (error) *error = "could not start the encoding pipeline";
        if (src) gst_object_unref(src);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return false;
    }
    if (src) {
        PushPcm(src, *pcm);
        gst_object_unref(src);
    }
    const bool ok = RunToEnd(pipeline, error);
    gst_object_unref(pipeline);
    return ok;
}

}  // namespace

void EnsureGstInitialized() {
    static const bool initialized = [] {
        gst_init(nullptr, nullptr);
        return true;
    }();
    (void)initialized;
}

const char* ExtensionOf(AudioKind kind) {
    switch (kind) {
    case AudioKind::Mp3: return ".mp3";
    case AudioKind::OggVorbis: return ".ogg";
    case AudioKind::Flac: return ".flac";
    case AudioKind::Wav: return ".wav";
    case AudioKind::M4aAac: return ".m4a";
    }
    return "";
}

Pcm Tone(double seconds, int rate, int channels, double frequency, double amplitude) {
    Pcm pcm{rate, channels, {}};
    const auto frames = static_cast<std::size_t>(std::llround(seconds * rate));
    pcm.samples.resize(frames * std::size_t(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        const float v = float(amplitude * std::sin(2 * kPi * frequency * double(f) / rate));
        for (int c = 0; c < channels; ++c) pcm.samples[f * std::size_t(channels) + std::size_t(c)] = v;
    }
    return pcm;
}

Pcm Silence(double seconds, int rate, int channels) {
    Pcm pcm{rate, channels, {}};
    pcm.samples.assign(static_cast<std::size_t>(std::llround(seconds * rate)) * std::size_t(channels), 0.0f);
    return pcm;
}

Pcm Clicks(double seconds, const std::vector<double>& clickTimes, int rate, int channels) {
    Pcm pcm = Silence(seconds, rate, channels);
    for (double t : clickTimes) {
        const auto f = static_cast<std::size_t>(std::llround(t * rate));
        if (f * std::size_t(channels) >= pcm.samples.size()) continue;
        for (int c = 0; c < channels; ++c) pcm.samples[f * std::size_t(channels) + std::size_t(c)] = 0.9f;
    }
    return pcm;
}

bool MakeAudio(const std::string& path, AudioKind kind, const Pcm& pcm, std::string* error) {
    const std::string desc =
        std::string("appsrc name=src ! ") + EncoderChain(kind) + " ! filesink location=" + Quote(path);
    return RunLaunch(desc, &pcm, error);
}

bool MakeToneFile(const std::string& path, AudioKind kind, double seconds, int rate, int channels,
                  double frequency, std::string* error) {
    return MakeAudio(path, kind, Tone(seconds, rate, channels, frequency), error);
}

bool MakeVideo(const std::string& path, const VideoSpec& spec, std::string* error) {
    const bool mkv = spec.container == "mkv";
    const int frames = std::max(1, int(std::lround(spec.seconds * spec.fps)));
    char video[512];
    std::snprintf(video, sizeof video,
                  "videotestsrc num-buffers=%d pattern=smpte ! video/x-raw,format=I420,width=%d,height=%d,"
                  "framerate=%d/1 ! x264enc speed-preset=ultrafast key-int-max=%d ! h264parse ! mux. ",
                  frames, spec.width, spec.height, spec.fps, spec.fps);
    std::string desc = std::string(video) + (mkv ? "matroskamux name=mux" : "mp4mux name=mux") +
                       " ! filesink location=" + Quote(path);
    Pcm audio = spec.audio;
    if (spec.withAudio) {
        if (audio.samples.empty()) audio = Tone(spec.seconds, 48000, 2, 440.0);
        desc += std::string(" appsrc name=src ! ") +
                (mkv ? "audioconvert ! vorbisenc ! mux." : "audioconvert ! avenc_aac ! aacparse ! mux.");
    }
    return RunLaunch(desc, spec.withAudio ? &audio : nullptr, error);
}

bool MakeZeroByteFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return bool(out);
}

bool MakeTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

bool MakeTruncatedCopy(const std::string& src, const std::string& dst, long keepBytes) {
    std::ifstream in(src, std::ios::binary);
    if (!in) return false;
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (keepBytes < 0 || std::size_t(keepBytes) > data.size()) keepBytes = long(data.size());
    std::ofstream out(dst, std::ios::binary | std::ios::trunc);
    out.write(data.data(), keepBytes);
    return bool(out);
}

}  // namespace veltrano::test
