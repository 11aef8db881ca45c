#include "preview/PlayerWindow.h"

#include "ui/ApplicationIcon.h"
#include "preview/PreviewPlayer.h"

#include <QPalette>

namespace veltrano {

PlayerWindow::PlayerWindow(PreviewPlayer* player) : QWidget(nullptr, kPlayerWindowStyle), m_player(player) {
    setObjectName(QStringLiteral("PreviewWindow"));
    setWindowTitle(QStringLiteral("Video Window"));
    setWindowIcon(ApplicationIcon());
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setMouseTracking(true);  // movement without a button is activity too
    setFocusPolicy(Qt::StrongFocus);
    // Only the main dialog decides when the program ends.
    setAttribute(Qt::WA_QuitOnClose, false);
}

bool PlayerWindow::event(QEvent* e) {
    if (m_player && m_player->PlayerWindowProc(this, e)) return true;
    return QWidget::event(e);
}

}  // namespace veltrano
