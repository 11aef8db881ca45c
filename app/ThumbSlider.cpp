#include "app/ThumbSlider.h"

#include "app/Accessibility.h"
#include "app/Trackbar.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>

namespace veltrano {

namespace {

// The trackbar to assistive technology: a slider named "Position" whose value
// is the position in seconds and whose value text and description are the
// position as a time, so a screen reader never speaks the 600 steps.
class TrackbarAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TrackbarAccessible(ThumbSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value || t == QAccessible::Description) return slider()->PositionText();
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return SecondsOf(TrackbarTarget(slider()->mediaLength(), slider()->value())); }
    void setCurrentValue(const QVariant& value) override {
        const MediaTime length = slider()->mediaLength();
        if (length <= 0) return;
        const double share = value.toDouble() * kUnitsPerSecond / static_cast<double>(length);
        slider()->ChooseStep(static_cast<int>(std::lround(share * slider()->maximum())));
    }
    QVariant maximumValue() const override { return SecondsOf(slider()->mediaLength()); }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return SecondsOf(slider()->mediaLength()) / slider()->maximum(); }

private:
    static double SecondsOf(MediaTime t) { return static_cast<double>(WholeSeconds(t)); }
    ThumbSlider* slider() const { return static_cast<ThumbSlider*>(widget()); }
};

QAccessibleInterface* MakeTrackbarAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("veltrano::ThumbSlider") && object && object->isWidgetType())
        return new TrackbarAccessible(static_cast<ThumbSlider*>(object));
    return nullptr;
}

bool IsNavigationKey(int key) {
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: return true;
    default: return false;
    }
}

}  // namespace

ThumbSlider::ThumbSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    static const bool installed = [] {
        QAccessible::installFactory(&MakeTrackbarAccessible);
        return true;
    }();
    (void)installed;
    setTickPosition(QSlider::NoTicks);
    setFocusPolicy(Qt::StrongFocus);
}

void ThumbSlider::OnLButtonDown(QMouseEvent* e) {
    emit thumbPressed();
    QSlider::mousePressEvent(e);
    update();
}

void ThumbSlider::OnLButtonUp(QMouseEvent* e) {
    emit thumbReleased();
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

void ThumbSlider::keyPressEvent(QKeyEvent* e) {
    const int before = value();
    QSlider::keyPressEvent(e);
    // A step taken with the keys seeks as a drag that ends there does.
    if (IsNavigationKey(e->key()) && value() != before) emit stepChosen();
}

void ThumbSlider::ChooseStep(int step) {
    const int before = value();
    setValue(step);
    if (value() != before) emit stepChosen();
}

void ThumbSlider::SetMediaLength(MediaTime length) {
    if (length == m_rtLength) return;
    m_rtLength = length;
    TellPositionChanged();
}

QString ThumbSlider::PositionText() const {
    return QString::fromStdString(TrackbarPositionText(m_rtLength, value()));
}

void ThumbSlider::sliderChange(SliderChange change) {
    QSlider::sliderChange(change);
    if (change == SliderValueChange) TellPositionChanged();
}

void ThumbSlider::TellPositionChanged() {
    // Readers that keep the description re-read it.
    TellAssistiveTechnology(*this, QAccessible::DescriptionChanged);
}

}  // namespace veltrano
