// The preview's playback graph on real files: what it renders and refuses,
// sizes, positions and seeks, events, and pictures reaching the surface.

#include "media/PlaybackGraph.h"
#include "media/VideoSurface.h"
#include "tests/support/MediaCache.h"
#include "tests/support/SlowFileSource.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace veltrano;
using namespace veltrano::test;

namespace {

constexpr MediaTime kTolerance = kUnitsPerSecond / 10;

struct Graph {
    std::shared_ptr<PlaybackGraph> graph;
    Result render;

    explicit Graph(const std::string& path) {
        const Result created = PlaybackGraph::Create(graph);
        EXPECT_TRUE(created.succeeded()) << created.text();
        render = graph ? graph->RenderFile(path.c_str()) : created;
    }
    template <typename T>
    std::shared_ptr<T> Get() {
        std::shared_ptr<T> out;
        EXPECT_TRUE(graph->QueryInterface(out).succeeded());
        return out;
    }
};

// Counts the notifications a graph posts to it.
class NotifyTarget final : public QObject {
public:
    int notifications = 0;
    bool event(QEvent* e) override {
        if (static_cast<int>(e->type()) != kGraphNotifyEventType) return QObject::event(e);
        ++notifications;
        return true;
    }
};

// Drains events until one with the code arrives or the time is up.
bool WaitForEvent(GraphEvents& events, long code, GraphEvent* found = nullptr, int timeoutMs = 5000) {
    return QTest::qWaitFor(
        [&] {
            GraphEvent e;
            while (events.GetEvent(e, 0).succeeded()) {
                const bool match = e.code == code;
                if (match && found) *found = e;
                EXPECT_TRUE(events.FreeEventParams(e).succeeded());
                if (match) return true;
            }
            return false;
        },
        timeoutMs);
}

class ScopedAudioSink {
public:
    explicit ScopedAudioSink(const char* description) {
        if (const char* old = std::getenv("VELTRANO_AUDIO_SINK")) saved_ = old;
        setenv("VELTRANO_AUDIO_SINK", description, 1);
    }
    ~ScopedAudioSink() { setenv("VELTRANO_AUDIO_SINK", saved_.c_str(), 1); }

private:
    std::string saved_ = "fakeaudiosink sync=true";
};

}  // namespace

TEST(PlaybackGraph, RendersEveryAudioKindAsSoundOnly) {
    for (AudioKind kind : {AudioKind::Mp3, AudioKind::OggVorbis, AudioKind::Flac, AudioKind::Wav, AudioKind::M4aAac}) {
        SCOPED_TRACE(ExtensionOf(kind));
        Graph g(CachedTone(kind, 1.0));
        ASSERT_TRUE(g.render.succeeded()) << g.render.text();
        bool visible = true;
        EXPECT_EQ(g.Get<VideoWindow>()->get_Visible(visible), E_NOINTERFACE);
        int w = 0, h = 0;
        EXPECT_EQ(g.Get<BasicVideo>()->GetVideoSize(w, h), E_NOINTERFACE);
        MediaTime length = 0;
        ASSERT_TRUE(g.Get<MediaSeeking>()->GetStopPosition(length).succeeded());
        EXPECT_NEAR(double(length), double(kUnitsPerSecond), double(kTolerance));
    }
}

TEST(PlaybackGraph, VideoHasItsNativeSizeAndPaintsOnTheSurface) {
    Graph g(CachedVideo(176, 144, 1.0, true));
    ASSERT_TRUE(g.render.succeeded()) << g.render.text();
    bool visible = false;
    EXPECT_TRUE(g.Get<VideoWindow>()->get_Visible(visible).succeeded());
    int w = 0, h = 0;
    ASSERT_TRUE(g.Get<BasicVideo>()->GetVideoSize(w, h).succeeded());
    EXPECT_EQ(w, 176);
    EXPECT_EQ(h, 144);

    QWidget owner;
    owner.resize(400, 300);
    auto vw = g.Get<VideoWindow>();
    ASSERT_TRUE(vw->put_Owner(&owner).succeeded());
    ASSERT_TRUE(vw->SetWindowPosition(10, 20, 352, 288).succeeded());
    VideoSurface* surface = vw->surface();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->parentWidget(), &owner);
    EXPECT_EQ(surface->geometry(), QRect(10, 20, 352, 288));
    int l = 0, t = 0;
    EXPECT_TRUE(vw->GetWindowPosition(l, t, w, h).succeeded());
    EXPECT_EQ(QRect(l, t, w, h), QRect(10, 20, 352, 288));

    // The cued first picture arrives through the event loop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return surface->framesShown() > 0; }, 3000));
    const QImage frame = surface->frame();
    EXPECT_EQ(frame.size(), QSize(176, 144));
    // SMPTE bars: the third bar (of seven) is cyan, the last blue.
    const QColor cyan = frame.pixelColor(176 * 5 / 14, 144 / 3);
    EXPECT_LT(cyan.red(), 80);
    EXPECT_GT(cyan.green(), 150);
    EXPECT_GT(cyan.blue(), 150);
    const QColor blue = frame.pixelColor(176 * 13 / 14, 144 / 3);
    EXPECT_LT(blue.red(), 80);
    EXPECT_LT(blue.green(), 80);
    EXPECT_GT(blue.blue(), 150);

    // Hiding and releasing the owner take the surface away again.
    EXPECT_TRUE(vw->put_Visible(false).succeeded());
    EXPECT_FALSE(surface->isVisibleTo(&owner));
    EXPECT_TRUE(vw->put_Owner(nullptr).succeeded());
    EXPECT_EQ(vw->surface(), nullptr);
    EXPECT_TRUE(owner.findChildren<VideoSurface*>().isEmpty());
}

TEST(PlaybackGraph, VideoWithoutSoundRenders) {
    Graph g(CachedVideo(160, 120, 1.0, false));
    ASSERT_TRUE(g.render.succeeded()) << g.render.text();
    int w = 0, h = 0;
    EXPECT_TRUE(g.Get<BasicVideo>()->GetVideoSize(w, h).succeeded());
}

TEST(PlaybackGraph, RefusesWhatItCannotPlayWithGStreamersText) {
    const struct {
        const char* what;
        std::string path;
    } cases[] = {
        {"zero bytes", CachedZeroByteFile()},
        {"text named .mp3", CachedTextFileNamedMp3()},
        {"truncated video", CachedTruncatedVideo()},
        {"subtitles only", CachedSubtitleOnlyFile()},
        {"missing file", MissingFile()},
        {"a folder", std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Graph g(c.path);
        EXPECT_TRUE(g.render.failed());
        EXPECT_FALSE(g.render.text().empty());
        // A refused graph answers, but plays nothing.
        auto mc = g.Get<PlaybackControl>();
        EXPECT_TRUE(mc->Run().failed());
    }
    Graph missing(MissingFile());
    EXPECT_EQ(missing.render, E_NOTFOUND);
}

TEST(PlaybackGraph, SeeksAndReportsPositions) {
    Graph g(CachedTone(AudioKind::OggVorbis, 2.0));
    ASSERT_TRUE(g.render.succeeded()) << g.render.text();
    auto ms = g.Get<MediaSeeking>();
    EXPECT_EQ(ms->IsFormatSupported(TimeFormat::Media), S_OK);
    EXPECT_EQ(ms->IsFormatSupported(TimeFormat::Frame), S_FALSE);
    EXPECT_EQ(ms->SetTimeFormat(TimeFormat::Byte), E_INVALIDARG);
    EXPECT_EQ(ms->SetPositions(-1), E_INVALIDARG);

    ASSERT_TRUE(ms->SetPositions(kUnitsPerSecond * 3 / 2).succeeded());
    MediaTime position = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return ms->GetCurrentPosition(position).succeeded() &&
                   std::llabs(position - kUnitsPerSecond * 3 / 2) < kTolerance;
        },
        3000))
        << position;

    // Running moves the position on; stopping keeps it where it was.
    auto mc = g.Get<PlaybackControl>();
    ASSERT_TRUE(ms->SetPositions(0).succeeded());
    ASSERT_TRUE(mc->Run().succeeded());
    QTest::qWait(400);
    ASSERT_TRUE(mc->Stop().succeeded());
    QTest::qWait(100);
    ASSERT_TRUE(ms->GetCurrentPosition(position).succeeded());
    EXPECT_GT(position, kUnitsPerSecond / 5);
    QTest::qWait(300);
    MediaTime later = 0;
    ASSERT_TRUE(ms->GetCurrentPosition(later).succeeded());
    EXPECT_EQ(later, position);
}

TEST(PlaybackGraph, EndOfStreamIsPostedAndQueued) {
    Graph g(CachedTone(AudioKind::Wav, 0.5));
    ASSERT_TRUE(g.render.succeeded()) << g.render.text();
    auto events = g.Get<GraphEvents>();
    NotifyTarget target;
    EXPECT_TRUE(events->SetNotifyWindow(&target, kGraphNotifyEventType, 0).succeeded());
    ASSERT_TRUE(g.Get<PlaybackControl>()->Run().succeeded());
    EXPECT_TRUE(WaitForEvent(*events, EC_COMPLETE));
    EXPECT_GT(target.notifications, 0);
    EXPECT_TRUE(events->SetNotifyWindow(nullptr, 0, 0).succeeded());
}

TEST(PlaybackGraph, AudioSinkComesFromTheEnvironment) {
    {
        ScopedAudioSink sink("nosuchsinkelement");
        std::shared_ptr<PlaybackGraph> graph;
        const Result r = PlaybackGraph::Create(graph);
        EXPECT_TRUE(r.failed());
        EXPECT_NE(r.text().find("nosuchsinkelement"), std::string::npos) << r.text();
        EXPECT_EQ(graph, nullptr);
    }
    {
        // A sink that fails after a few buffers: the error is an event, with its text.
        ScopedAudioSink sink("identity error-after=5 ! fakeaudiosink sync=true");
        Graph g(CachedTone(AudioKind::Flac, 1.0));
        ASSERT_TRUE(g.render.succeeded()) << g.render.text();
        auto events = g.Get<GraphEvents>();
        ASSERT_TRUE(g.Get<PlaybackControl>()->Run().succeeded());
        GraphEvent error;
        ASSERT_TRUE(WaitForEvent(*events, EC_ERRORABORT, &error));
        EXPECT_FALSE(error.text.empty());
    }
}

TEST(PlaybackGraph, InterfacesKeepTheGraphAlive) {
    std::shared_ptr<MediaSeeking> ms;
    {
        Graph g(CachedTone(AudioKind::Wav, 0.5));
        ASSERT_TRUE(g.render.succeeded());
        ms = g.Get<MediaSeeking>();
    }
    MediaTime length = 0;
    EXPECT_TRUE(ms->GetStopPosition(length).succeeded());
    EXPECT_GT(length, 0);
}

TEST(PlaybackGraph, MeasuringGraphGivesTheLengthAndRefusesBrokenFiles) {
    const struct {
        std::string path;
        double seconds;
    } files[] = {{CachedTone(AudioKind::Mp3, 1.0), 1.0}, {CachedVideo(160, 120, 2.0, true), 2.0}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.path);
        std::shared_ptr<PlaybackGraph> graph;
        ASSERT_TRUE(PlaybackGraph::CreateForMeasuring(graph).succeeded());
        ASSERT_TRUE(graph->RenderFile(f.path.c_str()).succeeded());
        std::shared_ptr<MediaSeeking> ms;
        ASSERT_TRUE(graph->QueryInterface(ms).succeeded());
        MediaTime length = 0;
        ASSERT_TRUE(ms->GetStopPosition(length).succeeded());
        EXPECT_NEAR(double(length), f.seconds * kUnitsPerSecond, double(kTolerance));
        // Nothing to show: no video window even for a video.
        std::shared_ptr<VideoWindow> vw;
        EXPECT_TRUE(graph->QueryInterface(vw).succeeded());
        bool visible = false;
        EXPECT_EQ(vw->get_Visible(visible), E_NOINTERFACE);
    }
    std::shared_ptr<PlaybackGraph> graph;
    ASSERT_TRUE(PlaybackGraph::CreateForMeasuring(graph).succeeded());
    EXPECT_TRUE(graph->RenderFile(CachedTextFileNamedMp3().c_str()).failed());
}

namespace {

// Renders as the player does: begun without waiting, ended when told.
struct Cueing {
    std::shared_ptr<PlaybackGraph> graph;
    NotifyTarget target;
    Result begun;

    explicit Cueing(const std::string& path) {
        EXPECT_TRUE(PlaybackGraph::Create(graph).succeeded());
        begun = graph->BeginRender(path.c_str(), &target, kGraphNotifyEventType);
    }
    // Waits for the notifications until the cueing has ended.
    Result End(int timeoutMs = 20000) {
        Result outcome(E_UNEXPECTED, "not ended");
        const bool ended = QTest::qWaitFor(
            [&] {
                bool done = false;
                outcome = graph->EndRender(done);
                return done;
            },
            timeoutMs);
        EXPECT_TRUE(ended);
        return outcome;
    }
};

TEST(PlaybackGraphCueing, EndsAsAnEventForFilesItPlaysAndRefuses) {
    {
        Cueing c(CachedVideo(160, 120, 1.0, true));
        ASSERT_TRUE(c.begun.succeeded()) << c.begun.text();
        bool ended = true;
        EXPECT_TRUE(c.graph->EndRender(ended).succeeded());
        EXPECT_FALSE(ended) << "BeginRender returns before the file is cued";
        ASSERT_TRUE(c.End().succeeded());
        EXPECT_GT(c.target.notifications, 0) << "the end was told to the target";
        std::shared_ptr<BasicVideo> bv;
        ASSERT_TRUE(c.graph->QueryInterface(bv).succeeded());
        int w = 0, h = 0;
        EXPECT_TRUE(bv->GetVideoSize(w, h).succeeded());
        EXPECT_EQ(w, 160);
        // Rendered once: a second file is refused.
        EXPECT_EQ(c.graph->BeginRender(CachedTone(AudioKind::Wav, 1.0).c_str(), &c.target, kGraphNotifyEventType),
                  E_UNEXPECTED);
    }
    {
        Cueing c(CachedTextFileNamedMp3());
        const Result outcome = c.begun.failed() ? c.begun : c.End();
        EXPECT_TRUE(outcome.failed());
        EXPECT_FALSE(outcome.text().empty());
    }
}

TEST(PlaybackGraphCueing, AFileThatNeverAnswersFailsAfterTheCueingTimeOut) {
    const std::string path = CachedTone(AudioKind::Wav, 1.0);
    SlowFileSource slow;
    slow.Hold(1);
    Cueing c(path);
    ASSERT_TRUE(c.begun.succeeded()) << c.begun.text();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.waiting() > 0; }, 5000));
    // The graph's own timer ends it: the caller never waits.
    const Result outcome = c.End(kPrerollTimeoutMs + 10000);
    EXPECT_TRUE(outcome.failed());
    EXPECT_EQ(outcome.text(), "The file took too long to open.");
}

}  // namespace
