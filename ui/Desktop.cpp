#include "ui/Desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <chrono>

namespace veltrano {

QRect PrimaryScreenRect() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

QRect WorkAreaRect() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

FrameMetrics FrameMetricsOf(const QWidget& window) {
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    FrameMetrics m;
    m.cxFrame = std::max(0, inner.left() - outer.left());
    m.cyFrame = std::max(0, outer.bottom() - inner.bottom());
    m.cyCaption = std::max(0, inner.top() - outer.top() - m.cyFrame);
    return m;
}

void SetFixedWindowRect(QWidget& window, const QRect& outer) {
    const FrameMetrics m = FrameMetricsOf(window);
    const int width = std::max(0, outer.width() - 2 * m.cxFrame);
    const int height = std::max(0, outer.height() - m.cyCaption - 2 * m.cyFrame);
    window.setFixedSize(width, height);
    window.move(outer.topLeft());  // a top-level window is moved by its frame
}

void SetWindowTopmost(QWidget& window, bool topmost) {
    if (QWindow* handle = window.windowHandle()) {
        // Changing the widget's flags would re-create, and so hide, the window.
        handle->setFlag(Qt::WindowStaysOnTopHint, topmost);
        return;
    }
    window.setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
}

bool IsWindowTopmost(const QWidget& window) {
    if (const QWindow* handle = window.windowHandle()) return handle->flags().testFlag(Qt::WindowStaysOnTopHint);
    return window.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void HideWindow(QWidget& window) {
    // QDialog::setVisible(false) would end a running exec(), and with it the
    // program; the widget's own hiding keeps the modal loop going.
    window.QWidget::setVisible(false);
}

void ShowWindowInFront(QWidget& window) {
    window.show();
    window.raise();
}

int ShowCursor(bool show) {
    static int count = 0;
    if (show) {
        if (++count == 0) QGuiApplication::restoreOverrideCursor();
    } else {
        if (--count == -1) QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    }
    return count;
}

std::uint32_t TimeGetTime() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

}  // namespace veltrano
