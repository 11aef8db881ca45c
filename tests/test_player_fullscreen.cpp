// The player window in full screen and back: placement of the picture, the
// saved rectangle and style, Escape, "Normal size", the dialog's place on left
// clicks, the idle cursor and its timer.

#include "ui/Desktop.h"
#include "media/VideoSurface.h"
#include "ui/WindowMessages.h"
#include "preview/PlayerMenu.h"
#include "preview/PlayerWindow.h"
#include "preview/VideoPlacement.h"
#include "tests/support/PlayerFixture.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>

using namespace veltrano;
using namespace veltrano::test;

namespace {

// 16:9 on the 4:3 offscreen screen: full width with bars above and below.
constexpr int kVideoWidth = 320;
constexpr int kVideoHeight = 180;

void Command(PreviewPlayer& p, int id) {
    QCoreApplication::postEvent(p.m_hWnd, new CommandEvent(id));
    QCoreApplication::processEvents();
}

bool CursorHidden() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c && c->shape() == Qt::BlankCursor;
}

class FullScreenTest : public PlayerTest {
protected:
    void SetUp() override {
        dialog.show();
        ASSERT_TRUE(Open(CachedVideo(kVideoWidth, kVideoHeight, 3.0, true)));
        window = player().m_hWnd;
        normalRect = window->frameGeometry();
        normalStyle = window->windowFlags();
    }

    void ExpectNormal() {
        EXPECT_FALSE(player().m_bFullScreen);
        if (normalRect.isValid()) {
            EXPECT_EQ(window->frameGeometry(), normalRect);
        }
        EXPECT_EQ(window->windowFlags(), normalStyle);
        EXPECT_EQ(window->size(), QSize(kVideoWidth, kVideoHeight));
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->m_cursorTimer.isActive());
        EXPECT_EQ(player().pVW->surface()->geometry(), window->rect());
        EXPECT_TRUE(dialog.isVisible());
    }

    void ExpectFullScreen() {
        const QRect screen = PrimaryScreenRect();
        EXPECT_TRUE(player().m_bFullScreen);
        EXPECT_EQ(window->geometry(), screen);
        EXPECT_TRUE(window->inFullScreenStyle());
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->m_cursorTimer.isActive());
        EXPECT_TRUE(player().m_bHideDialogOnClick);
        EXPECT_EQ(player().m_rcNormal, normalRect);
        EXPECT_EQ(player().pVW->surface()->geometry(),
                  FullScreenVideoRect(kVideoWidth, kVideoHeight, screen.width(), screen.height()));
    }

    PlayerWindow* window = nullptr;
    QRect normalRect;
    Qt::WindowFlags normalStyle;
};

}  // namespace

TEST_F(FullScreenTest, MenuEntersWithThePictureBetweenBarsAndLeavesToTheSavedRectangle) {
    Command(player(), ID_PREVIEW_FULLSCREEN);
    ExpectFullScreen();

    // What the user sees: black bars above and below, the picture between.
    VideoSurface* surface = player().pVW->surface();
    ASSERT_TRUE(QTest::qWaitFor([&] { return surface->framesShown() > 0; }, 3000));
    const QRect picture = surface->geometry();
    ASSERT_GT(picture.top(), 0);
    const QImage shot = window->grab().toImage();
    EXPECT_EQ(shot.pixelColor(picture.center().x(), picture.top() / 2), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(picture.center().x(), picture.bottom() + picture.top() / 2), QColor(Qt::black));
    const QColor blue = shot.pixelColor(picture.left() + picture.width() * 13 / 14, picture.top() + picture.height() / 3);
    EXPECT_GT(blue.blue(), 150);
    EXPECT_LT(blue.red(), 80);

    // The right-click menu shows at the click, with "Full screen" checked.
    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(120, 90));
    QMenu* menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 2000));
    EXPECT_EQ(menu->pos(), window->mapToGlobal(QPoint(120, 90)));
    EXPECT_TRUE(MenuItem(*menu, ID_PREVIEW_FULLSCREEN)->isChecked());
    MenuItem(*menu, ID_PREVIEW_FULLSCREEN)->trigger();
    menu->close();
    QCoreApplication::processEvents();
    ExpectNormal();
}

TEST_F(FullScreenTest, EscapeLeavesFullScreenAndDoesNothingInNormalSize) {
    QTest::keyRelease(window, Qt::Key_Escape);
    ExpectNormal();
    ASSERT_TRUE(player().SwitchFullScreen());
    ExpectFullScreen();
    QTest::keyRelease(window, Qt::Key_Escape);
    ExpectNormal();
}

TEST_F(FullScreenTest, NormalSizeLeavesFullScreenAndAppliesTheNativeSize) {
    ASSERT_TRUE(player().EnterFullScreen());
    Command(player(), ID_PREVIEW_NORMALSIZE);
    ExpectNormal();
    // In normal size it applies the native size again where the window is.
    Command(player(), ID_PREVIEW_NORMALSIZE);
    ExpectNormal();
}

TEST_F(FullScreenTest, LeftClicksMoveTheDialogInBothSizes) {
    ASSERT_TRUE(player().EnterFullScreen());
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(player().m_bHideDialogOnClick);
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(IsWindowTopmost(dialog));
    EXPECT_TRUE(player().m_bHideDialogOnClick);
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(dialog.isVisible());
    // A right-click menu makes the next left click hide the dialog again.
    player().m_bHideDialogOnClick = 0;
    QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_TRUE(player().m_bHideDialogOnClick);
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    // Leaving always shows the dialog again.
    ASSERT_TRUE(player().LeaveFullScreen());
    EXPECT_TRUE(dialog.isVisible());

    // Normal size: the player in front with the dialog among the normal
    // windows, then the dialog on top; the value carries over to later players.
    g_bRaisePlayerOnClick = 1;
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(IsWindowTopmost(dialog));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(g_bRaisePlayerOnClick, 0);
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_TRUE(IsWindowTopmost(dialog));
    EXPECT_EQ(g_bRaisePlayerOnClick, 1);
    SetWindowTopmost(dialog, false);
}

TEST_F(FullScreenTest, CursorHidesAfterLongIdleShowsOnActivityAndItsTimerStopsWithStop) {
    ASSERT_TRUE(player().EnterFullScreen());
    const int cursorTimer = window->m_cursorTimer.timerId();
    auto tick = [&] {
        QTimerEvent e(cursorTimer);
        QCoreApplication::sendEvent(window, &e);
    };
    // Just under 100 s idle keeps the cursor (a margin: the clock moves on
    // between setting the time and the timer's check).
    player().m_dwLastActivity = TimeGetTime() - kCursorIdleMs + 500;
    tick();
    EXPECT_FALSE(CursorHidden());
    player().m_dwLastActivity = TimeGetTime() - kCursorIdleMs - 1000;
    tick();
    EXPECT_TRUE(CursorHidden());
    EXPECT_LT(player().m_nCursorCount, 0);

    QTest::mouseMove(window, QPoint(200, 200));
    EXPECT_FALSE(CursorHidden());
    EXPECT_EQ(player().m_nCursorCount, 0);

    // Stop ends the timer for the rest of this showing; full screen stays.
    player().StartPlayback();
    player().StopPlayback();
    EXPECT_FALSE(window->m_cursorTimer.isActive());
    EXPECT_TRUE(player().m_bFullScreen);

    // A cursor hidden when full screen ends comes back.
    player().SetCursorVisible(false);
    EXPECT_TRUE(CursorHidden());
    QTest::keyRelease(window, Qt::Key_Escape);
    EXPECT_FALSE(CursorHidden());
    ExpectNormal();
}

TEST_F(FullScreenTest, ClosingInFullScreenShowsTheDialogAndLeavesNoWindow) {
    ASSERT_TRUE(player().EnterFullScreen());
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(50, 50));
    ASSERT_FALSE(dialog.isVisible());
    player().SetCursorVisible(false);
    player().CloseMedia();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(CursorHidden());
    EXPECT_FALSE(player().m_bFullScreen);
    EXPECT_EQ(PlayerWindowCount(), 0);
}

TEST_F(FullScreenTest, TheSettingOpensAVideoInFullScreen) {
    ASSERT_TRUE(Open(CachedVideo(kVideoWidth, kVideoHeight, 3.0, true), true));
    window = player().m_hWnd;
    // Never shown framed before: the saved rectangle has no frame yet.
    const QPoint place = InitialPlayerRect(WorkAreaRect(), dialog.frameGeometry()).topLeft();
    normalRect = QRect(place, QSize(kVideoWidth, kVideoHeight));
    ExpectFullScreen();
    QTest::keyRelease(window, Qt::Key_Escape);
    normalRect = QRect();
    ExpectNormal();
    EXPECT_EQ(window->frameGeometry().topLeft(), place);
}

TEST(FullScreenModalDialog, HidingTheDialogKeepsItsModalRunGoing) {
    // The real dialog runs modally; hiding it under the full-screen picture
    // must not end that run (and with it the program).
    RecordingMessageBoxes boxes;
    QDialog modal;
    modal.setWindowModality(Qt::WindowModal);
    bool stillRunning = false;
    QTimer::singleShot(0, &modal, [&] {
        g_pPreviewPlayer = new PreviewPlayer(boxes, &modal);
        CopyText(g_pPreviewPlayer->m_szFileName, CachedVideo(kVideoWidth, kVideoHeight, 3.0, true));
        ASSERT_TRUE(g_pPreviewPlayer->OpenMedia());
        ASSERT_TRUE(QTest::qWaitFor([] { return !g_pPreviewPlayer->Opening(); }, 20000));
        ASSERT_NE(g_pPreviewPlayer->m_ePlayState, NoMedia);
        ASSERT_TRUE(g_pPreviewPlayer->EnterFullScreen());
        g_pPreviewPlayer->ToggleDialogZOrder();
        EXPECT_FALSE(modal.isVisible());
        QTimer::singleShot(50, &modal, [&] {
            stillRunning = true;
            g_pPreviewPlayer->ToggleDialogZOrder();
            EXPECT_TRUE(modal.isVisible());
            g_pPreviewPlayer->CloseMedia();
            modal.done(7);
        });
    });
    EXPECT_EQ(modal.exec(), 7);
    EXPECT_TRUE(stillRunning);
    delete g_pPreviewPlayer;
    g_pPreviewPlayer = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
