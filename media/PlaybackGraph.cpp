#include "media/PlaybackGraph.h"

#include "media/GraphEventsGst.h"
#include "media/GstHandles.h"
#include "media/Logging.h"
#include "media/VideoSurface.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace veltrano {

namespace {

constexpr const char* kAudioSinkVariable = "VELTRANO_AUDIO_SINK";

// QImage::Format_RGB32 is 0xffRRGGBB in native byte order.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr const char* kFrameFormat = "BGRx";
#else
constexpr const char* kFrameFormat = "xRGB";
#endif

const QEvent::Type kFrameEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// Hands frames from the streaming thread to the surface on the UI thread. It
// lives as long as the graph, so a frame is never posted to a destroyed
// window; only the newest frame is kept, so a busy UI thread never queues up
// pictures.
class FrameRelay final : public QObject {
public:
    void Post(QImage frame) {
        std::lock_guard lock(mutex_);
        pending_ = std::move(frame);
        if (posted_) return;
        posted_ = true;
        QCoreApplication::postEvent(this, new QEvent(kFrameEventType));
    }

    bool event(QEvent* e) override {
        if (e->type() != kFrameEventType) return QObject::event(e);
        QImage frame;
        {
            std::lock_guard lock(mutex_);
            frame = std::move(pending_);
            pending_ = QImage();
            posted_ = false;
        }
        if (!frame.isNull()) {
            last = frame;
            if (surface) surface->SetFrame(frame);
        }
        return true;
    }

    QImage last;                    // UI thread only
    QPointer<VideoSurface> surface;  // UI thread only

private:
    std::mutex mutex_;
    QImage pending_;
    bool posted_ = false;
};

QImage ImageOfSample(GstSample* sample) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return {};
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return {};
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const auto* data = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    QImage image(width, height, QImage::Format_RGB32);
    if (!image.isNull()) {
        for (int y = 0; y < height; ++y)
            std::memcpy(image.scanLine(y), data + std::ptrdiff_t(y) * stride, std::size_t(width) * 4);
    }
    gst_video_frame_unmap(&frame);
    return image;
}

GstFlowReturn OnNewPreroll(GstAppSink* sink, gpointer relay) {
    gsth::Sample sample = gsth::Sample::Adopt(gst_app_sink_pull_preroll(sink));
    if (sample) static_cast<FrameRelay*>(relay)->Post(ImageOfSample(sample.get()));
    return GST_FLOW_OK;
}

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer relay) {
    gsth::Sample sample = gsth::Sample::Adopt(gst_app_sink_pull_sample(sink));
    if (sample) static_cast<FrameRelay*>(relay)->Post(ImageOfSample(sample.get()));
    return GST_FLOW_OK;
}

Result ParseBin(const char* description, gsth::Element& out) {
    gsth::Error error;
    GstElement* raw = gst_parse_bin_from_description(description, TRUE, error.out());
    gsth::Element bin = raw ? gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(raw))) : gsth::Element();
    if (!bin || error) return Result(E_FAIL, error ? error->message : "The element description could not be parsed.");
    out = std::move(bin);
    return Result(S_OK);
}

Result MakeAudioSink(gsth::Element& out) {
    const char* description = std::getenv(kAudioSinkVariable);
    if (description && *description) return ParseBin(description, out);
    out = gsth::MakeElement("autoaudiosink", "audiosink");
    if (!out) return Result(E_FAIL, "No element \"autoaudiosink\": gstreamer1.0-plugins-good is not installed.");
    return Result(S_OK);
}

Result ErrorOfEvent(const GraphEvent& event) {
    return Result(static_cast<HResult>(event.param1), event.text.empty() ? "The media could not be played." : event.text);
}

}  // namespace

class PlaybackGraph::Impl {
public:
    ~Impl() {
        prerollTimer.reset();
        // Streaming threads end here, before the relay and the event queue go.
        if (playbin) gst_element_set_state(playbin.get(), GST_STATE_NULL);
        events.reset();
        if (relay) delete relay->surface.data();
        relay.reset();
    }

    Result SetState(GstState state, const char* what) {
        if (!rendered) return Result(E_UNEXPECTED, "No media has been rendered.");
        if (gst_element_set_state(playbin.get(), state) == GST_STATE_CHANGE_FAILURE)
            return Result(E_FAIL, std::string("The graph refused to ") + what + ".");
        return Result(S_OK);
    }

    // A measuring graph has no surface, so it has no video window either.
    bool HasVideo() const { return rendered && nVideo > 0 && relay; }

    gsth::Element playbin;
    gsth::Element appsink;
    std::unique_ptr<GraphEvents> events;
    std::unique_ptr<FrameRelay> relay;
    // Ends a rendering begun by BeginRender with its outcome.
    Result FinishRender(Result result);

    bool rendering = false;  // cueing, its end not yet taken
    bool rendered = false;
    std::string path;        // the file being rendered, for the log
    std::unique_ptr<QTimer> prerollTimer;
    int nVideo = 0;
    int nAudio = 0;
    double rate = 1.0;

    // The picture's place in its owner and whether it is shown.
    QRect videoRect;
    bool videoRectSet = false;
    bool videoVisible = true;

    PlaybackControl control{*this};
    MediaSeeking seeking{*this};
    VideoWindow videoWindow{*this};
    BasicVideo basicVideo{*this};
    BasicAudio basicAudio{*this};
};

PlaybackGraph::PlaybackGraph(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PlaybackGraph::~PlaybackGraph() = default;

Result PlaybackGraph::Create(std::shared_ptr<PlaybackGraph>& graph) {
    graph.reset();
    auto impl = std::make_unique<Impl>();
    impl->playbin = gsth::MakeElement("playbin", "preview");
    if (!impl->playbin) return Result(E_FAIL, "No element \"playbin\": gstreamer1.0-plugins-base is not installed.");

    gsth::Element videoSink;
    const std::string videoDescription =
        std::string("videoconvert ! appsink name=frames qos=true enable-last-sample=false caps=video/x-raw,format=") +
        kFrameFormat;
    if (Result r = ParseBin(videoDescription.c_str(), videoSink); r.failed()) return r;
    impl->appsink = gsth::Element::Adopt(gst_bin_get_by_name(GST_BIN(videoSink.get()), "frames"));
    if (!impl->appsink) return Result(E_FAIL, "The video sink has no frame output.");

    gsth::Element audioSink;
    if (Result r = MakeAudioSink(audioSink); r.failed()) {
        qCWarning(lcMedia) << "preview audio sink:" << r.text().c_str();
        return r;
    }

    impl->relay = std::make_unique<FrameRelay>();
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = &OnNewPreroll;
    callbacks.new_sample = &OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(impl->appsink.get()), &callbacks, impl->relay.get(), nullptr);

    g_object_set(impl->playbin.get(), "video-sink", videoSink.get(), "audio-sink", audioSink.get(), nullptr);
    impl->events = MakeGraphEvents(impl->playbin.get());
    graph = std::shared_ptr<PlaybackGraph>(new PlaybackGraph(std::move(impl)));
    return Result(S_OK);
}

Result PlaybackGraph::CreateForMeasuring(std::shared_ptr<PlaybackGraph>& graph) {
    graph.reset();
    auto impl = std::make_unique<Impl>();
    impl->playbin = gsth::MakeElement("playbin", "measure");
    gsth::Element videoSink = gsth::MakeElement("fakesink", "videosink");
    gsth::Element audioSink = gsth::MakeElement("fakesink", "audiosink");
    if (!impl->playbin || !videoSink || !audioSink)
        return Result(E_FAIL, "No element \"playbin\": gstreamer1.0-plugins-base is not installed.");
    g_object_set(impl->playbin.get(), "video-sink", videoSink.get(), "audio-sink", audioSink.get(), nullptr);
    impl->events = MakeGraphEvents(impl->playbin.get());
    graph = std::shared_ptr<PlaybackGraph>(new PlaybackGraph(std::move(impl)));
    return Result(S_OK);
}

Result PlaybackGraph::BeginRender(const char* path, QObject* target, int eventType) {
    Impl& g = *impl_;
    if (g.rendered || g.rendering) return Result(E_UNEXPECTED, "The graph already holds a file.");
    if (!path || !*path) return Result(E_INVALIDARG, "No file name was given.");
    gsth::Error error;
    gsth::String uri = gsth::String::Adopt(gst_filename_to_uri(path, error.out()));
    if (!uri) return Result(E_INVALIDARG, error ? error->message : "The file name cannot be made a URI.");
    g_object_set(g.playbin.get(), "uri", uri.get(), nullptr);
    g.path = path;

    GraphEvents::Impl& events = *g.events->impl();
    // Set before the state changes, so that no end of the cueing goes unheard.
    events.SetTarget(target, eventType, 0);
    g.rendering = true;
    const GstStateChangeReturn change = gst_element_set_state(g.playbin.get(), GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
        GraphEvent event;
        return g.FinishRender(events.Take(event, 0, {EC_ERRORABORT}) ? ErrorOfEvent(event)
                                                                     : Result(E_FAIL, "The file could not be opened."));
    }
    if (change != GST_STATE_CHANGE_ASYNC) {
        // Cued already: the end is told like any other, as an event.
        GraphEvent done;
        done.code = EC_ASYNC_DONE;
        events.Post(std::move(done));
        return Result(S_OK);
    }
    if (target) {
        // A stuck decoder must not keep the opening pending for good.
        g.prerollTimer = std::make_unique<QTimer>();
        g.prerollTimer->setSingleShot(true);
        QObject::connect(g.prerollTimer.get(), &QTimer::timeout, [&events] {
            GraphEvent late;
            late.code = EC_ERRORABORT;
            late.param1 = E_FAIL;
            late.text = "The file took too long to open.";
            events.Post(std::move(late));
        });
        g.prerollTimer->start(kPrerollTimeoutMs);
    }
    return Result(S_OK);
}

Result PlaybackGraph::EndRender(bool& ended) {
    Impl& g = *impl_;
    ended = true;
    if (!g.rendering) return g.rendered ? Result(S_OK) : Result(E_UNEXPECTED, "No media is being rendered.");
    GraphEvent event;
    if (!g.events->impl()->Take(event, 0, {EC_ERRORABORT, EC_ASYNC_DONE})) {
        ended = false;
        return Result(S_OK);
    }
    return g.FinishRender(event.code == EC_ERRORABORT ? ErrorOfEvent(event) : Result(S_OK));
}

Result PlaybackGraph::RenderFile(const char* path) {
    if (Result r = BeginRender(path, nullptr, 0); r.failed()) return r;
    GraphEvent event;
    if (!impl_->events->impl()->Take(event, kPrerollTimeoutMs, {EC_ERRORABORT, EC_ASYNC_DONE}))
        return impl_->FinishRender(Result(E_FAIL, "The file took too long to open."));
    return impl_->FinishRender(event.code == EC_ERRORABORT ? ErrorOfEvent(event) : Result(S_OK));
}

Result PlaybackGraph::Impl::FinishRender(Result result) {
    rendering = false;
    prerollTimer.reset();
    if (result.succeeded()) {
        gint video = 0, audio = 0;
        g_object_get(playbin.get(), "n-video", &video, "n-audio", &audio, nullptr);
        nVideo = video;
        nAudio = audio;
        if (video == 0 && audio == 0) result = Result(E_FAIL, "The file has neither sound nor picture.");
    }
    if (result.failed()) {
        GraphEvents::Impl& queue = *events->impl();
        queue.SetTarget(nullptr, 0, 0);  // whoever waited has its answer
        gst_element_set_state(playbin.get(), GST_STATE_NULL);
        queue.Flush();  // drop what the failed attempt queued
        qCWarning(lcMedia) << "cannot render" << path.c_str() << ":" << result.text().c_str();
        return result;
    }
    rendered = true;
    return Result(S_OK);
}

template <typename T>
static Result Alias(const std::shared_ptr<PlaybackGraph>& self, T* part, std::shared_ptr<T>& out) {
    out = std::shared_ptr<T>(self, part);
    return Result(S_OK);
}

Result PlaybackGraph::QueryInterface(std::shared_ptr<PlaybackControl>& out) {
    return Alias(shared_from_this(), &impl_->control, out);
}
Result PlaybackGraph::QueryInterface(std::shared_ptr<GraphEvents>& out) {
    return Alias(shared_from_this(), impl_->events.get(), out);
}
Result PlaybackGraph::QueryInterface(std::shared_ptr<MediaSeeking>& out) {
    return Alias(shared_from_this(), &impl_->seeking, out);
}
Result PlaybackGraph::QueryInterface(std::shared_ptr<VideoWindow>& out) {
    return Alias(shared_from_this(), &impl_->videoWindow, out);
}
Result PlaybackGraph::QueryInterface(std::shared_ptr<BasicVideo>& out) {
    return Alias(shared_from_this(), &impl_->basicVideo, out);
}
Result PlaybackGraph::QueryInterface(std::shared_ptr<BasicAudio>& out) {
    return Alias(shared_from_this(), &impl_->basicAudio, out);
}

// ---- PlaybackControl ----

Result PlaybackControl::Run() { return g_.SetState(GST_STATE_PLAYING, "run"); }
Result PlaybackControl::Pause() { return g_.SetState(GST_STATE_PAUSED, "pause"); }
// Paused keeps the chain built and the picture on screen, so a following
// rewind can cue the first frame without building the chain again.
Result PlaybackControl::Stop() { return g_.SetState(GST_STATE_PAUSED, "stop"); }

// ---- MediaSeeking ----

Result MediaSeeking::IsFormatSupported(TimeFormat format) const {
    return Result(format == TimeFormat::Media ? S_OK : S_FALSE);
}

Result MediaSeeking::GetTimeFormat(TimeFormat& format) const {
    format = format_;
    return Result(S_OK);
}

Result MediaSeeking::SetTimeFormat(TimeFormat format) {
    if (format != TimeFormat::Media) return Result(E_INVALIDARG, "The graph seeks in media time only.");
    format_ = format;
    return Result(S_OK);
}

Result MediaSeeking::SetPositions(MediaTime current) {
    if (!g_.rendered) return Result(E_UNEXPECTED, "No media has been rendered.");
    if (current < 0) return Result(E_INVALIDARG, "A position cannot be negative.");
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    const gboolean ok = g_.rate == 1.0
        ? gst_element_seek_simple(g_.playbin.get(), GST_FORMAT_TIME, flags, MediaTimeToNanoseconds(current))
        : gst_element_seek(g_.playbin.get(), g_.rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                           MediaTimeToNanoseconds(current), GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    return ok ? Result(S_OK) : Result(E_FAIL, "The graph refused the seek.");
}

Result MediaSeeking::GetCurrentPosition(MediaTime& position) const {
    if (!g_.rendered) return Result(E_UNEXPECTED, "No media has been rendered.");
    gint64 ns = 0;
    if (!gst_element_query_position(g_.playbin.get(), GST_FORMAT_TIME, &ns) || ns < 0)
        return Result(E_FAIL, "The position is not known yet.");
    position = NanosecondsToMediaTime(ns);
    return Result(S_OK);
}

Result MediaSeeking::GetStopPosition(MediaTime& position) const {
    if (!g_.rendered) return Result(E_UNEXPECTED, "No media has been rendered.");
    gint64 ns = 0;
    if (!gst_element_query_duration(g_.playbin.get(), GST_FORMAT_TIME, &ns) || ns < 0)
        return Result(E_FAIL, "The length is not known.");
    position = NanosecondsToMediaTime(ns);
    return Result(S_OK);
}

Result MediaSeeking::SetRate(double rate) {
    if (!g_.rendered) return Result(E_UNEXPECTED, "No media has been rendered.");
    if (!(rate > 0)) return Result(E_INVALIDARG, "Only forward rates are supported.");
    if (rate == g_.rate) return Result(S_OK);
    gint64 ns = 0;
    if (!gst_element_query_position(g_.playbin.get(), GST_FORMAT_TIME, &ns) || ns < 0) ns = 0;
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(g_.playbin.get(), rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, ns,
                          GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE))
        return Result(E_FAIL, "The graph refused the rate.");
    g_.rate = rate;
    return Result(S_OK);
}

// ---- VideoWindow ----

namespace {
Result NoVideo() { return Result(E_NOINTERFACE, "The media has no video stream."); }
}  // namespace

Result VideoWindow::get_Visible(bool& visible) const {
    if (!g_.HasVideo()) return NoVideo();
    visible = g_.videoVisible;
    return Result(S_OK);
}

Result VideoWindow::put_Visible(bool visible) {
    if (!g_.HasVideo()) return NoVideo();
    g_.videoVisible = visible;
    if (VideoSurface* s = g_.relay->surface) s->setVisible(visible);
    return Result(S_OK);
}

Result VideoWindow::put_Owner(QWidget* owner) {
    if (!g_.HasVideo()) return NoVideo();
    FrameRelay& relay = *g_.relay;
    if (VideoSurface* old = relay.surface.data()) {
        if (old->parentWidget() == owner) return Result(S_OK);
        delete old;
    }
    if (!owner) return Result(S_OK);
    auto* surface = new VideoSurface(owner);
    const QRect place = g_.videoRectSet ? g_.videoRect : owner->rect();
    surface->SetWindowPosition(place.left(), place.top(), place.width(), place.height());
    if (!relay.last.isNull()) surface->SetFrame(relay.last);
    surface->setVisible(g_.videoVisible);
    relay.surface = surface;
    return Result(S_OK);
}

Result VideoWindow::put_MessageDrain(QWidget* drain) {
    if (!g_.HasVideo()) return NoVideo();
    // The surface lets input through to the window under it; that is the
    // owner, so only the owner can be the drain.
    VideoSurface* s = g_.relay->surface;
    if (drain && (!s || s->parentWidget() != drain)) return Result(E_INVALIDARG, "The drain must be the owner.");
    if (s) s->setAttribute(Qt::WA_TransparentForMouseEvents, drain != nullptr);
    return Result(S_OK);
}

Result VideoWindow::SetWindowPosition(int left, int top, int width, int height) {
    if (!g_.HasVideo()) return NoVideo();
    if (width < 0 || height < 0) return Result(E_INVALIDARG, "A video window cannot have a negative size.");
    g_.videoRect = QRect(left, top, width, height);
    g_.videoRectSet = true;
    if (VideoSurface* s = g_.relay->surface) s->SetWindowPosition(left, top, width, height);
    return Result(S_OK);
}

Result VideoWindow::GetWindowPosition(int& left, int& top, int& width, int& height) const {
    if (!g_.HasVideo()) return NoVideo();
    QRect r = g_.videoRect;
    VideoSurface* s = g_.relay->surface.data();
    if (!g_.videoRectSet && s) r = s->geometry();
    left = r.left();
    top = r.top();
    width = r.width();
    height = r.height();
    return Result(S_OK);
}

VideoSurface* VideoWindow::surface() const { return g_.relay ? g_.relay->surface.data() : nullptr; }

// ---- BasicVideo ----

Result BasicVideo::GetVideoSize(int& width, int& height) const {
    if (!g_.HasVideo()) return NoVideo();
    gsth::Pad pad = gsth::Pad::Adopt(gst_element_get_static_pad(g_.appsink.get(), "sink"));
    gsth::Caps caps = pad ? gsth::Caps::Adopt(gst_pad_get_current_caps(pad.get())) : gsth::Caps();
    GstVideoInfo info;
    if (!caps || !gst_video_info_from_caps(&info, caps.get()))
        return Result(E_FAIL, "The video size is not known yet.");
    width = GST_VIDEO_INFO_WIDTH(&info);
    height = GST_VIDEO_INFO_HEIGHT(&info);
    return Result(S_OK);
}

// ---- BasicAudio ----

Result BasicAudio::put_Volume(long volume) {
    if (!g_.rendered) return Result(E_UNEXPECTED, "No media has been rendered.");
    if (volume > 0 || volume < -10000) return Result(E_INVALIDARG, "The volume is out of range.");
    const double linear = volume <= -10000 ? 0.0 : std::pow(10.0, double(volume) / 2000.0);
    g_object_set(g_.playbin.get(), "volume", linear, nullptr);
    return Result(S_OK);
}

Result BasicAudio::get_Volume(long& volume) const {
    if (!g_.rendered) return Result(E_UNEXPECTED, "No media has been rendered.");
    gdouble linear = 1.0;
    g_object_get(g_.playbin.get(), "volume", &linear, nullptr);
    volume = linear <= 0.0001 ? -10000L : std::lround(2000.0 * std::log10(linear));
    if (volume > 0) volume = 0;
    return Result(S_OK);
}

}  // namespace veltrano
