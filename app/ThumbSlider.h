#pragma once
// The position trackbar: a horizontal slider that reports when the left mouse
// button goes down on it and comes up again, and when the mouse lets go (the
// preview then seeks). Keys move the thumb as the mouse does and seek too.
// It reads as a time to assistive technology ("00:01:23 of 00:10:00").

#include "core/MediaTime.h"

#include <QSlider>

namespace veltrano {

class ThumbSlider : public QSlider {
    Q_OBJECT

public:
    explicit ThumbSlider(QWidget* parent = nullptr);

    void OnLButtonDown(QMouseEvent* e);
    void OnLButtonUp(QMouseEvent* e);

    // The length the 600 steps divide (0 while unknown).
    void SetMediaLength(MediaTime length);
    MediaTime mediaLength() const { return m_rtLength; }
    // The thumb's place as a time, with the length.
    QString PositionText() const;
    // A step chosen without the mouse (assistive technology), as the keys do.
    void ChooseStep(int step);

signals:
    // The left button went down on the trackbar; it is held from now on.
    void thumbPressed();
    // The left button came up; emitted before the trackbar lets the mouse go.
    void thumbReleased();
    // The mouse capture was released (after thumbReleased).
    void releasedCapture();
    // Keys or assistive technology moved the thumb to a new step.
    void stepChosen();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void sliderChange(SliderChange change) override;

private:
    void TellPositionChanged();

    MediaTime m_rtLength = 0;
};

}  // namespace veltrano
