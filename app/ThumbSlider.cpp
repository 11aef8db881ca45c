#include "app/ThumbSlider.h"

#include "app/ConverterApp.h"

#include <QMouseEvent>

namespace veltrano {

ThumbSlider::ThumbSlider(ConverterApp* app, QWidget* parent) : QSlider(Qt::Horizontal, parent), app_(app) {
    setTickPosition(QSlider::NoTicks);
    setFocusPolicy(Qt::StrongFocus);
}

void ThumbSlider::OnLButtonDown(QMouseEvent* e) {
    if (app_) app_->m_bThumbHeld = 1;
    QSlider::mousePressEvent(e);
    update();
}

void ThumbSlider::OnLButtonUp(QMouseEvent* e) {
    if (app_) app_->m_bThumbHeld = 0;
    QSlider::mouseReleaseEvent(e);
    emit releasedCapture();
    update();
}

void ThumbSlider::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) OnLButtonDown(e);
    else QSlider::mousePressEvent(e);
}

void ThumbSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) OnLButtonUp(e);
    else QSlider::mouseReleaseEvent(e);
}

}  // namespace veltrano
