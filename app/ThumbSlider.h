#pragma once
// The position trackbar: a horizontal slider that tells the application while
// its thumb is held with the mouse, and signals when the mouse lets go (the
// only moment the preview seeks; keyboard moves do not seek).

#include <QSlider>

namespace veltrano {

class ConverterApp;

class ThumbSlider : public QSlider {
    Q_OBJECT

public:
    ThumbSlider(ConverterApp* app, QWidget* parent = nullptr);

    void OnLButtonDown(QMouseEvent* e);
    void OnLButtonUp(QMouseEvent* e);

signals:
    // The mouse capture was released (after the held flag was cleared).
    void releasedCapture();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    ConverterApp* app_;
};

}  // namespace veltrano
