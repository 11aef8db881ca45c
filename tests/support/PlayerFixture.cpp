#include "tests/support/PlayerFixture.h"

#include "core/FixedText.h"

#include <QApplication>
#include <QTest>

#include <cstdlib>

namespace veltrano::test {

void PlayerTest::TearDown() { Close(); }

bool PlayerTest::Open(const std::string& path, bool startInFullScreen) {
    Close();
    g_pPreviewPlayer = new PreviewPlayer(boxes, &dialog);
    g_pPreviewPlayer->SetStartInFullScreen(startInFullScreen);
    EXPECT_TRUE(CopyText(g_pPreviewPlayer->m_szFileName, path));
    if (g_pPreviewPlayer->OpenMedia()) {
        EXPECT_TRUE(QTest::qWaitFor([] { return !g_pPreviewPlayer->Opening(); }, 20000)) << "still cueing";
        if (g_pPreviewPlayer->m_ePlayState != NoMedia) return true;
    }
    delete g_pPreviewPlayer;
    g_pPreviewPlayer = nullptr;
    return false;
}

void PlayerTest::Close() {
    if (g_pPreviewPlayer) {
        if (g_pPreviewPlayer->m_ePlayState != NoMedia) g_pPreviewPlayer->CloseMedia();
        delete g_pPreviewPlayer;
        g_pPreviewPlayer = nullptr;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool PlayerTest::WaitForPosition(MediaTime expected, MediaTime tolerance, int timeoutMs) {
    return QTest::qWaitFor(
        [&] {
            player().RefreshPositions();
            return std::llabs(player().m_rtCurrentPosition - expected) <= tolerance;
        },
        timeoutMs);
}

int PlayerTest::PlayerWindowCount() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("PreviewWindow")) ++n;
    return n;
}

std::string PlayerTest::FileName(const std::string& path) { return BareFileName(path); }

}  // namespace veltrano::test
