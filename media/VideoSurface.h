#pragma once
// The picture of a playback graph: a child widget of the player window that
// paints the latest frame stretched over its own rectangle (black before the
// first frame). Frames reach it on the user-interface thread only.

#include <QImage>
#include <QWidget>

namespace veltrano {

class VideoSurface final : public QWidget {
public:
    explicit VideoSurface(QWidget* owner);

    void SetFrame(const QImage& frame);
    const QImage& frame() const { return frame_; }
    // Frames shown since the surface was made.
    int framesShown() const { return framesShown_; }

    // Place in the owner's client area.
    void SetWindowPosition(int left, int top, int width, int height) { setGeometry(left, top, width, height); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage frame_;
    int framesShown_ = 0;
};

}  // namespace veltrano
