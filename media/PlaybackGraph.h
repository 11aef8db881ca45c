#pragma once
// The preview's playback graph: one playbin that renders a file with its audio
// to the preview's audio sink and its pictures to a video surface of our own.
// It is reached through the interfaces the player holds, each of which keeps
// the graph alive until released, so the player can release them in its own
// order; the last release tears the graph down.

#include "media/GraphEvents.h"
#include "core/MediaTime.h"
#include "core/Result.h"

#include <QObject>
#include <QRect>

#include <memory>

class QWidget;

namespace veltrano {

class VideoSurface;

// How long a file may take to be cued before its opening fails.
inline constexpr int kPrerollTimeoutMs = 10000;

// Media: positions in MediaTime units, the only format this graph seeks in.
enum class TimeFormat { Media, Frame, Sample, Byte };

class PlaybackControl;
class MediaSeeking;
class VideoWindow;
class BasicVideo;
class BasicAudio;

class PlaybackGraph : public std::enable_shared_from_this<PlaybackGraph> {
public:
    class Impl;

    // Builds an empty graph with the preview's sinks; fails when an element it
    // needs is missing or VELTRANO_AUDIO_SINK names no usable element.
    static Result Create(std::shared_ptr<PlaybackGraph>& graph);
    // A throw-away graph for measuring a file's length: rendered and cued like
    // the preview's, but every stream ends in a fake sink and nothing is shown.
    static Result CreateForMeasuring(std::shared_ptr<PlaybackGraph>& graph);
    ~PlaybackGraph();
    PlaybackGraph(const PlaybackGraph&) = delete;
    PlaybackGraph& operator=(const PlaybackGraph&) = delete;

    // Starts building the whole playback chain for a file (UTF-8 path) and
    // cueing it paused on its first frame, without waiting: the cueing goes on
    // on GStreamer's threads, and its end is queued as the graph's
    // EC_ASYNC_DONE (or EC_ERRORABORT) event, posted to target as eventType
    // like every event of the graph. A failure found at once is returned.
    Result BeginRender(const char* path, QObject* target, int eventType);
    // After a notification: ended stays false while the file is still being
    // cued; once it has ended, S_OK when rendered, else the failure with
    // GStreamer's text (a missing file, one no installed plugin can decode, a
    // corrupt one, one with neither sound nor picture, or one that took more
    // than kPrerollTimeoutMs).
    Result EndRender(bool& ended);
    // BeginRender and waiting for its end, for callers off the user-interface thread.
    Result RenderFile(const char* path);

    Result QueryInterface(std::shared_ptr<PlaybackControl>& out);
    Result QueryInterface(std::shared_ptr<GraphEvents>& out);
    Result QueryInterface(std::shared_ptr<MediaSeeking>& out);
    Result QueryInterface(std::shared_ptr<VideoWindow>& out);
    Result QueryInterface(std::shared_ptr<BasicVideo>& out);
    Result QueryInterface(std::shared_ptr<BasicAudio>& out);

    Impl& impl() const { return *impl_; }

private:
    explicit PlaybackGraph(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Run, Pause and Stop. Stop halts the stream where it is and keeps the graph
// built; it does not rewind.
class PlaybackControl {
public:
    explicit PlaybackControl(PlaybackGraph::Impl& g) : g_(g) {}
    Result Run();
    Result Pause();
    Result Stop();

private:
    PlaybackGraph::Impl& g_;
};

// Positions in MediaTime; seeks flush, so the new position shows at once.
class MediaSeeking {
public:
    explicit MediaSeeking(PlaybackGraph::Impl& g) : g_(g) {}
    // S_OK for the formats this graph seeks in (media time only), S_FALSE otherwise.
    Result IsFormatSupported(TimeFormat format) const;
    Result GetTimeFormat(TimeFormat& format) const;
    Result SetTimeFormat(TimeFormat format);
    // An absolute seek of the current position; the stop stays at the end.
    Result SetPositions(MediaTime current);
    Result GetCurrentPosition(MediaTime& position) const;
    // The length of the media.
    Result GetStopPosition(MediaTime& position) const;
    // Positive rates only.
    Result SetRate(double rate);

private:
    PlaybackGraph::Impl& g_;
    TimeFormat format_ = TimeFormat::Media;
};

// The picture: a child surface of the owner window, placed in its client area.
// Every call answers E_NOINTERFACE when the media has no video stream.
class VideoWindow {
public:
    explicit VideoWindow(PlaybackGraph::Impl& g) : g_(g) {}
    Result get_Visible(bool& visible) const;
    Result put_Visible(bool visible);
    // The surface becomes a child of owner (null: the surface goes away).
    Result put_Owner(QWidget* owner);
    // Mouse and keyboard input over the picture goes to the drain, in the
    // drain's own coordinates (here: the owner, on which the surface sits).
    Result put_MessageDrain(QWidget* drain);
    Result SetWindowPosition(int left, int top, int width, int height);
    Result GetWindowPosition(int& left, int& top, int& width, int& height) const;

    // The surface, while it exists (for inspection).
    VideoSurface* surface() const;

private:
    PlaybackGraph::Impl& g_;
};

class BasicVideo {
public:
    explicit BasicVideo(PlaybackGraph::Impl& g) : g_(g) {}
    // Native size of the picture as negotiated; E_NOINTERFACE without video.
    Result GetVideoSize(int& width, int& height) const;

private:
    PlaybackGraph::Impl& g_;
};

class BasicAudio {
public:
    explicit BasicAudio(PlaybackGraph::Impl& g) : g_(g) {}
    // Volume in hundredths of a decibel, -10000 (silent) to 0 (full).
    Result put_Volume(long volume);
    Result get_Volume(long& volume) const;

private:
    PlaybackGraph::Impl& g_;
};

}  // namespace veltrano
