#include "media/VideoSurface.h"

#include <QPainter>

namespace veltrano {

VideoSurface::VideoSurface(QWidget* owner) : QWidget(owner) {
    setObjectName(QStringLiteral("VideoSurface"));
    // Every pixel is painted, so nothing needs erasing first (no flicker).
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void VideoSurface::SetFrame(const QImage& frame) {
    frame_ = frame;
    ++framesShown_;
    update();
}

void VideoSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (frame_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), frame_);
}

}  // namespace veltrano
