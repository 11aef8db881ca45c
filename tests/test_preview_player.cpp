// The preview player on generated media: opening audio and video, the play
// state table, seeking, end of stream, the ticks and commands it posts to the
// dialog, its popup menu, and files it cannot play.

#include "media/VideoSurface.h"
#include "ui/WindowMessages.h"
#include "preview/PlayerMenu.h"
#include "preview/PlayerWindow.h"
#include "preview/VideoPlacement.h"
#include "tests/support/PlayerFixture.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

#include <cstdlib>

using namespace veltrano;
using namespace veltrano::test;

namespace {

constexpr MediaTime kTolerance = kUnitsPerSecond / 5;

std::string Title(const PreviewPlayer& p) { return p.m_hWnd->windowTitle().toStdString(); }

QMenu* OpenPopup() {
    QMenu* menu = nullptr;
    const bool shown =
        QTest::qWaitFor([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr; }, 2000);
    return shown ? menu : nullptr;
}

void Trigger(QMenu& menu, int id) {
    QAction* action = MenuItem(menu, id);
    ASSERT_NE(action, nullptr);
    action->trigger();
    menu.close();
    QCoreApplication::processEvents();
}

}  // namespace

using PreviewPlayerTest = PlayerTest;

TEST_F(PreviewPlayerTest, AudioOnlyStaysHiddenAndTicksOnceASecondWhileRunning) {
    const std::string path = CachedTone(AudioKind::OggVorbis, 3.0);
    ASSERT_TRUE(Open(path));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(player().m_ePlayState, Stopped);
    EXPECT_TRUE(player().m_bAudioOnly);
    EXPECT_FALSE(player().m_bVideoShown);
    ASSERT_NE(player().m_hWnd, nullptr);
    EXPECT_FALSE(player().m_hWnd->isVisible());
    EXPECT_EQ(Title(player()), FileName(path) + "  ");
    // Nothing plays until Play.
    QTest::qWait(300);
    EXPECT_EQ(player().m_rtCurrentPosition, 0);

    dialog.clear();
    player().StartPlayback();
    EXPECT_EQ(player().m_ePlayState, Running);
    QTest::qWait(2600);
    const auto ticks = dialog.ticks();
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_LE(ticks.size(), 4u);
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        EXPECT_GT(ticks[i].current, ticks[i - 1].current);
        // About a second of media between ticks (loosely: the machine may be busy).
        EXPECT_NEAR(double(ticks[i].current - ticks[i - 1].current), double(kUnitsPerSecond),
                    0.45 * kUnitsPerSecond);
    }
    EXPECT_NEAR(double(ticks.back().stop), 3.0 * kUnitsPerSecond, double(kTolerance));
    // Switching to full screen means nothing without a picture.
    EXPECT_FALSE(player().SwitchFullScreen());
    EXPECT_FALSE(player().m_bFullScreen);
    EXPECT_FALSE(player().m_hWnd->isVisible());
}

TEST_F(PreviewPlayerTest, VideoOpensAtItsNativeSizeWithThePicturePainted) {
    const std::string path = CachedVideo(320, 240, 2.0, true);
    ASSERT_TRUE(Open(path));
    EXPECT_TRUE(boxes.shown().empty());
    PlayerWindow* window = player().m_hWnd;
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(player().m_bAudioOnly);
    EXPECT_TRUE(player().m_bVideoShown);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(Title(player()), FileName(path) + "  ");

    // Native size plus the frame allowance, at the first place above the dialog.
    const FrameMetrics frame = FrameMetricsOf(*window);
    EXPECT_EQ(window->frameGeometry().size(), NormalWindowSize(320, 240, 1, 1, frame));
    EXPECT_EQ(window->size(), QSize(320, 240));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->frameGeometry().topLeft(),
              InitialPlayerRect(WorkAreaRect(), dialog.frameGeometry()).topLeft());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(window->windowIcon().isNull());

    VideoSurface* surface = player().pVW->surface();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->geometry(), window->rect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return surface->framesShown() > 0; }, 3000));
    const QImage shot = window->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(320, 240));
    const QColor cyan = shot.pixelColor(320 * 5 / 14, 80);
    EXPECT_LT(cyan.red(), 80);
    EXPECT_GT(cyan.green(), 150);
    EXPECT_GT(cyan.blue(), 150);
    const QColor yellow = shot.pixelColor(320 * 3 / 14, 80);
    EXPECT_GT(yellow.red(), 150);
    EXPECT_GT(yellow.green(), 150);
    EXPECT_LT(yellow.blue(), 80);
}

TEST_F(PreviewPlayerTest, PlayPauseStopFollowTheTransitionTable) {
    const std::string path = CachedVideo(160, 120, 3.0, true);
    ASSERT_TRUE(Open(path));
    const std::string name = FileName(path);

    // Stopped: Pause and Stop change nothing.
    player().PausePlayback();
    EXPECT_EQ(player().m_ePlayState, Stopped);
    EXPECT_EQ(Title(player()), name + "  ");
    player().StopPlayback();
    EXPECT_EQ(player().m_ePlayState, Stopped);

    player().StartPlayback();
    EXPECT_EQ(player().m_ePlayState, Running);
    player().StartPlayback();  // Play while running: still running
    EXPECT_EQ(player().m_ePlayState, Running);
    QTest::qWait(600);
    player().PausePlayback();
    EXPECT_EQ(player().m_ePlayState, Paused);
    EXPECT_EQ(Title(player()), name + "  (Paused)");
    player().PausePlayback();
    EXPECT_EQ(player().m_ePlayState, Paused);
    player().RefreshPositions();
    const MediaTime pausedAt = player().m_rtCurrentPosition;
    EXPECT_GT(pausedAt, kUnitsPerSecond / 4);

    player().StartPlayback();
    EXPECT_EQ(player().m_ePlayState, Running);
    EXPECT_EQ(Title(player()), name + "  ");
    player().PausePlayback();

    // Stop while paused: rewound to 0, the first picture cued, the mark gone.
    VideoSurface* surface = player().pVW->surface();
    ASSERT_NE(surface, nullptr);
    const int framesBefore = surface->framesShown();
    player().StopPlayback();
    EXPECT_EQ(player().m_ePlayState, Stopped);
    EXPECT_EQ(Title(player()), name + "  ");
    EXPECT_TRUE(WaitForPosition(0, 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return surface->framesShown() > framesBefore; }, 2000));
    // Cued, not playing.
    QTest::qWait(300);
    player().RefreshPositions();
    EXPECT_EQ(player().m_rtCurrentPosition, 0);

    // Stop while running rewinds as well.
    player().StartPlayback();
    QTest::qWait(300);
    player().StopPlayback();
    EXPECT_EQ(player().m_ePlayState, Stopped);
    EXPECT_TRUE(WaitForPosition(0, 0));
}

TEST_F(PreviewPlayerTest, EndOfStreamRewindsToStoppedAndPlayPlaysAgain) {
    ASSERT_TRUE(Open(CachedTone(AudioKind::Wav, 0.8)));
    player().StartPlayback();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player().m_ePlayState == Stopped; }, 4000));
    EXPECT_TRUE(WaitForPosition(0, 0));
    player().StartPlayback();
    EXPECT_EQ(player().m_ePlayState, Running);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            player().RefreshPositions();
            return player().m_rtCurrentPosition > kUnitsPerSecond / 5;
        },
        2000));
}

TEST_F(PreviewPlayerTest, SeekKeepsTheStateAndANegativeTimeSeeksToZero) {
    ASSERT_TRUE(Open(CachedTone(AudioKind::OggVorbis, 2.0)));
    const MediaTime target = kUnitsPerSecond * 3 / 2;
    EXPECT_EQ(player().SeekTo(target), S_OK);
    EXPECT_EQ(player().m_ePlayState, Stopped);
    EXPECT_EQ(player().m_rtCurrentPosition, 0);  // picked up by the next refresh only
    EXPECT_TRUE(WaitForPosition(target, kTolerance));
    // Seeking does not start playback.
    QTest::qWait(300);
    player().RefreshPositions();
    EXPECT_NEAR(double(player().m_rtCurrentPosition), double(target), double(kTolerance));

    EXPECT_EQ(player().SeekTo(-5 * kUnitsPerSecond), S_OK);
    EXPECT_TRUE(WaitForPosition(0, 0));

    player().StartPlayback();
    player().PausePlayback();
    EXPECT_EQ(player().SeekTo(kUnitsPerSecond), S_OK);
    EXPECT_EQ(player().m_ePlayState, Paused);
    EXPECT_TRUE(WaitForPosition(kUnitsPerSecond, kTolerance));

    // A player without media seeks nowhere and says so with S_OK.
    PreviewPlayer idle(boxes, &dialog);
    EXPECT_EQ(idle.SeekTo(kUnitsPerSecond), S_OK);
}

TEST_F(PreviewPlayerTest, CloseBoxAndMenuCloseAskTheDialogToCloseTheMedia) {
    ASSERT_TRUE(Open(CachedVideo(160, 120, 1.0, true)));
    PlayerWindow* window = player().m_hWnd;
    dialog.clear();
    EXPECT_FALSE(window->close());  // the window itself stays
    EXPECT_TRUE(window->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.commands(), std::vector<int>{kCloseMediaCommand});

    QCoreApplication::postEvent(window, new CommandEvent(ID_PREVIEW_CLOSE));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.commands(), (std::vector<int>{kCloseMediaCommand, kCloseMediaCommand}));

    // What the dialog then does: close and delete.
    player().CloseMedia();
    EXPECT_EQ(player().m_ePlayState, NoMedia);
    EXPECT_EQ(player().m_hWnd, nullptr);
    EXPECT_EQ(player().m_szFileName[0], '\0');
    EXPECT_EQ(player().pGB, nullptr);
    EXPECT_EQ(player().pMC, nullptr);
    EXPECT_EQ(PlayerWindowCount(), 0);
}

TEST_F(PreviewPlayerTest, PopupMenuHasItsItemsGreyedByState) {
    ASSERT_TRUE(Open(CachedVideo(160, 120, 2.0, true)));
    PlayerWindow* window = player().m_hWnd;
    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(30, 40));
    QMenu* menu = OpenPopup();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QString() : a->text());
    EXPECT_EQ(texts, (QStringList{"Full screen", "Normal size", "", "Play", "Pause", "Stop", "", "Close"}));
    EXPECT_EQ(menu->pos(), window->mapToGlobal(QPoint(30, 40)));
    EXPECT_FALSE(MenuItem(*menu, ID_PREVIEW_FULLSCREEN)->isChecked());
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_PLAY)->isEnabled());
    EXPECT_FALSE(MenuItem(*menu, ID_PREVIEW_PAUSE)->isEnabled());
    EXPECT_FALSE(MenuItem(*menu, ID_PREVIEW_STOP)->isEnabled());
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_NORMALSIZE)->isEnabled());
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_CLOSE)->isEnabled());
    Trigger(*menu, ID_PREVIEW_PLAY);
    EXPECT_EQ(player().m_ePlayState, Running);

    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(10, 10));
    menu = OpenPopup();
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(MenuItem(*menu, ID_PREVIEW_PLAY)->isEnabled());
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_PAUSE)->isEnabled());
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_STOP)->isEnabled());
    Trigger(*menu, ID_PREVIEW_PAUSE);
    EXPECT_EQ(player().m_ePlayState, Paused);

    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(10, 10));
    menu = OpenPopup();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_PLAY)->isEnabled());
    EXPECT_FALSE(MenuItem(*menu, ID_PREVIEW_PAUSE)->isEnabled());
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_STOP)->isEnabled());
    Trigger(*menu, ID_PREVIEW_STOP);
    EXPECT_EQ(player().m_ePlayState, Stopped);
}

TEST_F(PreviewPlayerTest, FilesItCannotPlayShowTheMessageAndLeaveNoWindow) {
    const std::string bad[] = {CachedZeroByteFile(), CachedTextFileNamedMp3(), CachedTruncatedVideo(),
                               CachedSubtitleOnlyFile(), MissingFile()};
    for (const std::string& path : bad) {
        SCOPED_TRACE(path);
        boxes.clear();
        EXPECT_FALSE(Open(path));
        EXPECT_EQ(g_pPreviewPlayer, nullptr);
        ASSERT_EQ(boxes.shown().size(), 1u);
        const BoxRequest& box = boxes.shown().front();
        EXPECT_EQ(box.kind, BoxKind::Ownerless);
        EXPECT_EQ(box.caption, "Veltrano");
        EXPECT_EQ(box.text, kCannotPlayText);
        EXPECT_EQ(box.buttons, BoxButtons::Ok);
        EXPECT_EQ(box.icon, BoxIcon::None);
        EXPECT_EQ(PlayerWindowCount(), 0);
    }
    // The player that failed was closed before it was deleted, and said so
    // once, naming the file and the reason.
    QCoreApplication::sendPostedEvents(&dialog);  // what the players above told
    boxes.clear();
    dialog.clear();
    PreviewPlayer p(boxes, &dialog);
    CopyText(p.m_szFileName, CachedTextFileNamedMp3());
    if (p.OpenMedia()) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !p.Opening(); }, 20000));
        QCoreApplication::processEvents();
        EXPECT_EQ(dialog.openings(), std::vector<bool>{false}) << "the dialog hears the outcome once";
    }
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].detail.rfind("The file " + CachedTextFileNamedMp3() + " could not be played", 0), 0u)
        << boxes.shown()[0].detail;
    EXPECT_EQ(p.m_ePlayState, NoMedia);
    EXPECT_EQ(p.m_szFileName[0], '\0');
    EXPECT_EQ(p.m_hWnd, nullptr);
    EXPECT_EQ(p.pGB, nullptr);
}

TEST_F(PreviewPlayerTest, VideoWithoutSoundPlays) {
    ASSERT_TRUE(Open(CachedVideo(160, 120, 1.0, false)));
    EXPECT_FALSE(player().m_bAudioOnly);
    EXPECT_TRUE(player().m_hWnd->isVisible());
    player().StartPlayback();
    EXPECT_EQ(player().m_ePlayState, Running);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player().m_ePlayState == Stopped; }, 4000));
}

TEST_F(PreviewPlayerTest, AnErrorWhilePlayingIsDrainedAndStopsThePlayer) {
    const char* saved = std::getenv("VELTRANO_AUDIO_SINK");
    const std::string restore = saved ? saved : "fakeaudiosink sync=true";
    setenv("VELTRANO_AUDIO_SINK", "identity error-after=10 ! fakeaudiosink sync=true", 1);
    const bool opened = Open(CachedTone(AudioKind::Flac, 2.0));
    setenv("VELTRANO_AUDIO_SINK", restore.c_str(), 1);
    ASSERT_TRUE(opened);
    player().StartPlayback();
    ASSERT_EQ(player().m_ePlayState, Running);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player().m_ePlayState == Stopped; }, 3000));
    EXPECT_TRUE(boxes.shown().empty());
    // The player still answers.
    player().StartPlayback();
    EXPECT_EQ(player().m_ePlayState, Running);
    QTest::qWait(200);
    player().StopPlayback();
    EXPECT_EQ(player().m_ePlayState, Stopped);
}

TEST_F(PreviewPlayerTest, WithoutTheDialogPositionsAreStillRefreshed) {
    auto* gone = new RecordingDialog;
    g_pPreviewPlayer = new PreviewPlayer(boxes, gone);
    CopyText(player().m_szFileName, CachedTone(AudioKind::Wav, 1.0));
    ASSERT_TRUE(player().OpenMedia());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player().Opening(); }, 20000));
    delete gone;
    player().RefreshPositions();
    EXPECT_NEAR(double(player().m_rtStopPosition), double(kUnitsPerSecond), double(kTolerance));
    player().CloseMedia();  // and closing does not reach for the dialog either
    EXPECT_EQ(player().m_ePlayState, NoMedia);
}

TEST_F(PreviewPlayerTest, TheOpeningIsCuedWithoutWaitingAndToldToTheDialog) {
    const std::string path = CachedVideo(160, 120, 1.0, true);
    g_pPreviewPlayer = new PreviewPlayer(boxes, &dialog);
    CopyText(player().m_szFileName, path);
    dialog.clear();
    ASSERT_TRUE(player().OpenMedia());
    // OpenMedia has returned before the file is cued: nothing is shown or polled yet.
    EXPECT_TRUE(player().Opening());
    EXPECT_EQ(player().pMC, nullptr);
    EXPECT_FALSE(player().m_hWnd->isVisible());
    player().StartPlayback();  // nothing to drive yet
    EXPECT_EQ(player().m_ePlayState, Stopped);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.openings().empty(); }, 20000));
    EXPECT_EQ(dialog.openings(), std::vector<bool>{true});
    EXPECT_FALSE(player().Opening());
    EXPECT_TRUE(player().m_hWnd->isVisible());
    EXPECT_EQ(Title(player()), FileName(path) + "  ");
    EXPECT_TRUE(boxes.shown().empty());
}
