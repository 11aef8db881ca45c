// Display check of the preview: plays a generated video in the player window,
// opens its menu, switches to full screen from it and back with Escape, and
// saves a screenshot of the whole screen after each step. Run it on a real
// display or under Xvfb (scripts/preview-on-xvfb.sh).

#include "core/FixedText.h"
#include "media/MediaSystem.h"
#include "tests/support/RecordingUiServices.h"
#include "media/VideoSurface.h"
#include "preview/PlayerMenu.h"
#include "preview/PlayerWindow.h"
#include "preview/PreviewPlayer.h"
#include "tests/support/TestMedia.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

#include <cstdio>

using namespace veltrano;

namespace {

QString g_outDir;

void Shot(const char* name) {
    QTest::qWait(100);
    const QString path = g_outDir + QLatin1Char('/') + QLatin1String(name);
    QApplication::primaryScreen()->grabWindow(0).save(path);
    std::printf("saved %s\n", path.toUtf8().constData());
}

void Describe(const PreviewPlayer& p) {
    const QWidget& w = *p.m_hWnd;
    std::printf("full screen %d, window at %d,%d size %dx%d, title \"%s\"\n", p.m_bFullScreen, w.x(), w.y(), w.width(),
                w.height(), w.windowTitle().toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    g_outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    if (InitializeMedia().failed()) return 1;
    const std::string media = (g_outDir + QStringLiteral("/preview.mp4")).toStdString();
    test::VideoSpec spec;
    spec.seconds = 8;
    spec.width = 320;
    spec.height = 180;
    std::string error;
    if (!test::MakeVideo(media, spec, &error)) {
        std::printf("cannot make the video: %s\n", error.c_str());
        return 1;
    }

    QLabel dialog(QStringLiteral("Main dialog stand-in"));
    dialog.setAlignment(Qt::AlignCenter);
    dialog.setStyleSheet(QStringLiteral("background: #d0d8e8; font-size: 20px;"));
    dialog.setGeometry(300, 420, 420, 240);
    dialog.show();
    QTest::qWait(300);

    RecordingMessageBoxes boxes;
    g_pPreviewPlayer = new PreviewPlayer(boxes, &dialog);
    CopyText(g_pPreviewPlayer->m_szFileName, media);
    // The file is cued on GStreamer's threads; the window is shown once it is.
    if (!g_pPreviewPlayer->OpenMedia() ||
        !QTest::qWaitFor([] { return !g_pPreviewPlayer->Opening(); }, 20000) ||
        g_pPreviewPlayer->m_ePlayState == NoMedia) {
        std::printf("the player did not open the video\n");
        return 1;
    }
    PreviewPlayer& p = *g_pPreviewPlayer;
    Describe(p);
    p.StartPlayback();
    QTest::qWait(200);
    const int before = p.pVW->surface()->framesShown();
    QTest::qWait(1000);
    std::printf("pictures painted in one second of playing: %d\n", p.pVW->surface()->framesShown() - before);
    Shot("1-playing.png");

    QMouseEvent rightUp(QEvent::MouseButtonRelease, QPointF(60, 50), p.m_hWnd->mapToGlobal(QPointF(60, 50)),
                        Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(p.m_hWnd, &rightUp);
    QTest::qWait(300);
    Shot("2-menu.png");
    QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) {
        std::printf("no menu\n");
        return 1;
    }
    MenuItem(*menu, ID_PREVIEW_FULLSCREEN)->trigger();
    menu->close();
    QTest::qWait(1000);
    Describe(p);
    Shot("3-full-screen.png");

    QKeyEvent escape(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(p.m_hWnd, &escape);
    QTest::qWait(800);
    Describe(p);
    Shot("4-normal-again.png");

    p.CloseMedia();
    delete g_pPreviewPlayer;
    g_pPreviewPlayer = nullptr;
    std::printf("message boxes shown: %zu\n", boxes.shown().size());
    return boxes.shown().empty() ? 0 : 1;
}
