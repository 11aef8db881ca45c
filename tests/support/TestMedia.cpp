#include "tests/support/TestMedia.h"

#include "formats/Mp3Stream.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

namespace veltrano::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

const char* EncoderChain(AudioKind kind) {
    switch (kind) {
    case AudioKind::Mp3: return "audioconvert ! lamemp3enc target=bitrate bitrate=192 cbr=true ! xingmux ! id3v2mux";
    case AudioKind::OggVorbis: return "audioconvert ! vorbisenc quality=0.5 ! oggmux";
    // flacenc rewrites its STREAMINFO (the total length) at the end; a parser
    // behind it would keep that rewrite from reaching the file.
    case AudioKind::Flac: return "audioconvert ! flacenc";
    case AudioKind::Wav: return "audioconvert ! audio/x-raw,format=S16LE ! wavenc";
    // Mid/side coding as avenc_aac sets it up folds a one-sided signal into
    // both channels; without it the sides stay apart.
    case AudioKind::M4aAac: return "audioconvert ! avenc_aac bitrate=192000 aac-ms=false aac-pns=false ! aacparse ! mp4mux";
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
                               guint64(pcm.channels == 2 ? 0x3 : pcm.channels == 6 ? 0x3F : 0), nullptr);
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

std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Be32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

std::uint32_t ReadBe32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::vector<unsigned char> Id3v2Tag(const std::string& title) {
    std::vector<unsigned char> frame = {'T', 'I', 'T', '2', 0, 0, 0, 0, 0, 0, 3};
    frame.insert(frame.end(), title.begin(), title.end());
    const std::size_t body = frame.size() - 10;
    frame[7] = static_cast<unsigned char>(body);  // syncsafe, small
    std::vector<unsigned char> tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, static_cast<unsigned char>(frame.size())};
    tag.insert(tag.end(), frame.begin(), frame.end());
    return tag;
}

struct Box {
    std::size_t pos, size;
    std::string type;
};

std::vector<Box> Children(const std::vector<unsigned char>& d, std::size_t from, std::size_t to) {
    std::vector<Box> out;
    for (std::size_t p = from; p + 8 <= to;) {
        const std::size_t size = ReadBe32(&d[p]);
        if (size < 8 || p + size > to) break;
        out.push_back({p, size, std::string(reinterpret_cast<const char*>(&d[p + 4]), 4)});
        p += size;
    }
    return out;
}

std::optional<Box> Find(const std::vector<Box>& boxes, const char* type) {
    for (const Box& b : boxes)
        if (b.type == type) return b;
    return std::nullopt;
}

}  // namespace

bool MakeGaplessMp3(const std::string& path, const Pcm& pcm, std::string* error, const std::string& encoderName) {
    const std::string raw = path + ".frames";
    const std::string desc = "appsrc name=src ! audioconvert ! lamemp3enc target=bitrate bitrate=192 cbr=true ! "
                             "filesink location=" + Quote(raw);
    if (!RunLaunch(desc, &pcm, error)) return false;
    const std::vector<unsigned char> frames = ReadAll(raw);
    std::remove(raw.c_str());
    const auto first = ParseMp3FrameHeader(frames.data(), frames.size());
    if (!first) {
        if (error) *error = "the encoder wrote no MPEG audio frame";
        return false;
    }
    std::uint32_t count = 0;
    for (std::size_t pos = 0; pos < frames.size(); ++count) {
        const auto h = ParseMp3FrameHeader(frames.data() + pos, frames.size() - pos);
        if (!h) break;
        pos += std::size_t(h->frameBytes);
    }
    // The Info frame: the first frame's header without padding or CRC, holding
    // only the Xing fields and the LAME extension.
    unsigned char header[4] = {frames[0], static_cast<unsigned char>(frames[1] | 0x01), static_cast<unsigned char>(frames[2] & ~0x02),
                               frames[3]};
    const auto info = ParseMp3FrameHeader(header, 4);
    if (!info || info->frameBytes < 4 + 32 + 120 + 24) {
        if (error) *error = "the first frame is too small for an Info frame";
        return false;
    }
    std::vector<unsigned char> f(std::size_t(info->frameBytes), 0);
    std::copy(header, header + 4, f.begin());
    const std::size_t side = info->version == 1 ? (info->channels == 1 ? 17 : 32) : (info->channels == 1 ? 9 : 17);
    std::size_t p = 4 + side;
    std::memcpy(&f[p], "Info", 4);
    Be32(&f[p + 4], 0x0F);
    Be32(&f[p + 8], count);
    Be32(&f[p + 12], std::uint32_t(f.size() + frames.size()));
    for (int i = 0; i < 100; ++i) f[p + 16 + std::size_t(i)] = static_cast<unsigned char>(i * 256 / 100);
    p += 16 + 100 + 4;
    std::memcpy(&f[p], encoderName.data(), std::min<std::size_t>(9, encoderName.size()));
    const std::int64_t contentFrames = std::int64_t(pcm.samples.size() / std::size_t(pcm.channels));
    const std::int64_t padding = std::int64_t(count) * info->samplesPerFrame - kLameEncoderDelay - contentFrames;
    if (padding < 0 || padding > 4095) {
        if (error) *error = "unexpected encoder padding";
        return false;
    }
    f[p + 21] = static_cast<unsigned char>(kLameEncoderDelay >> 4);
    f[p + 22] = static_cast<unsigned char>(((kLameEncoderDelay & 0xF) << 4) | (padding >> 8));
    f[p + 23] = static_cast<unsigned char>(padding & 0xFF);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::vector<unsigned char> tag = Id3v2Tag("Veltrano test");
    out.write(reinterpret_cast<const char*>(tag.data()), std::streamsize(tag.size()));
    out.write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
    out.write(reinterpret_cast<const char*>(frames.data()), std::streamsize(frames.size()));
    return bool(out);
}

bool StateAacPriming(const std::string& path, int primingFrames, std::int64_t contentFrames, std::string* error) {
    std::vector<unsigned char> d = ReadAll(path);
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    const auto moov = Find(Children(d, 0, d.size()), "moov");
    if (!moov) return fail("no moov box");
    const auto moovKids = Children(d, moov->pos + 8, moov->pos + moov->size);
    const auto mvhd = Find(moovKids, "mvhd");
    if (!mvhd) return fail("no mvhd box");
    const std::uint32_t movieScale = ReadBe32(&d[mvhd->pos + (d[mvhd->pos + 8] == 1 ? 28 : 20)]);
    for (const Box& trak : moovKids) {
        if (trak.type != "trak") continue;
        const auto trakKids = Children(d, trak.pos + 8, trak.pos + trak.size);
        const auto mdia = Find(trakKids, "mdia");
        const auto edts = Find(trakKids, "edts");
        if (!mdia || !edts) continue;
        const auto mdiaKids = Children(d, mdia->pos + 8, mdia->pos + mdia->size);
        const auto hdlr = Find(mdiaKids, "hdlr");
        const auto mdhd = Find(mdiaKids, "mdhd");
        if (!hdlr || !mdhd || std::memcmp(&d[hdlr->pos + 16], "soun", 4) != 0) continue;
        const std::uint32_t mediaScale = ReadBe32(&d[mdhd->pos + (d[mdhd->pos + 8] == 1 ? 28 : 20)]);
        const auto elst = Find(Children(d, edts->pos + 8, edts->pos + edts->size), "elst");
        if (!elst || d[elst->pos + 8] != 0 || ReadBe32(&d[elst->pos + 12]) != 1) return fail("unexpected edit list");
        const double seconds = double(contentFrames) / double(mediaScale);
        Be32(&d[elst->pos + 16], std::uint32_t(std::llround(seconds * movieScale)));
        Be32(&d[elst->pos + 20], std::uint32_t(primingFrames));
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(d.data()), std::streamsize(d.size()));
        return bool(out);
    }
    return fail("no sound track with an edit list");
}

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

bool MakeMp3With(const std::string& path, const Pcm& pcm, const std::string& encoderSettings, std::string* error) {
    const std::string desc = "appsrc name=src ! audioconvert ! lamemp3enc " + encoderSettings +
                             " ! xingmux ! id3v2mux ! filesink location=" + Quote(path);
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
                (mkv ? "audioconvert ! vorbisenc ! mux." : "audioconvert ! avenc_aac aac-ms=false ! aacparse ! mux.");
    }
    return RunLaunch(desc, spec.withAudio ? &audio : nullptr, error);
}

bool MakeWithPipeline(const std::string& description, std::string* error) {
    return RunLaunch(description, nullptr, error);
}

bool MakeSoundStreams(const std::string& path, const std::string& container, double seconds,
                      const std::vector<ToneStream>& streams, bool withVideo, std::string* error) {
    const bool mkv = container == "mkv";
    std::string desc = std::string(mkv ? "matroskamux name=mux" : "mp4mux name=mux") + " ! filesink location=" +
                       Quote(path);
    char part[512];
    if (withVideo) {
        std::snprintf(part, sizeof part,
                      " videotestsrc num-buffers=%ld ! video/x-raw,format=I420,width=160,height=120,framerate=25/1"
                      " ! x264enc speed-preset=ultrafast ! h264parse ! mux.",
                      std::lround(seconds * 25));
        desc += part;
    }
    // Buffers of 10 ms: the streams end exactly at 'seconds'.
    const long buffers = std::lround(seconds * 100);
    for (const ToneStream& s : streams) {
        std::string tags;
        if (!s.language.empty()) tags += "language-code=" + s.language;
        if (!s.title.empty()) tags += (tags.empty() ? "" : ",") + std::string("title=") + s.title;
        std::snprintf(part, sizeof part,
                      " audiotestsrc num-buffers=%ld samplesperbuffer=%d freq=%g volume=0.5 !"
                      " audio/x-raw,format=F32LE,rate=%d,channels=%d ! audioconvert ! %s",
                      buffers, s.rate / 100, s.frequency, s.rate, s.channels,
                      mkv ? "vorbisenc" : "avenc_aac aac-ms=false ! aacparse");
        desc += part;
        if (!tags.empty()) desc += " ! taginject tags=\"" + tags + "\"";
        desc += " ! mux.";
    }
    return RunLaunch(desc, nullptr, error);
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
