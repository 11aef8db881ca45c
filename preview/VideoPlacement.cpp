#include "preview/VideoPlacement.h"

namespace veltrano {

namespace {

QRect FullWidth(float aspect, int cx, int cy) {
    const int h2 = static_cast<int>(static_cast<float>(cx) / aspect);
    const int top = (cy - h2) / 2;
    return QRect(0, top, cx, cy - 2 * top);
}

QRect FullHeight(float aspect, int cx, int cy) {
    const int w2 = static_cast<int>(static_cast<float>(cy) * aspect);
    const int left = (cx - w2) / 2;
    return QRect(left, 0, cx - 2 * left, cy);
}

}  // namespace

QRect FullScreenVideoRect(int videoWidth, int videoHeight, int cx, int cy) {
    // A picture without size has no aspect to keep; it gets the whole screen.
    if (videoWidth <= 0 || videoHeight <= 0) return QRect(0, 0, cx, cy);
    const int W = kFullScreenMagnification * videoWidth;
    const int H = kFullScreenMagnification * videoHeight;
    const float aspect = static_cast<float>(W) / static_cast<float>(H);
    if (W <= cx && H <= cy) return QRect((cx - W) / 2, (cy - H) / 2, W, H);
    if (W > cx && H <= cy) return FullWidth(aspect, cx, cy);
    if (W <= cx && H > cy) return FullHeight(aspect, cx, cy);
    const float widthScale = static_cast<float>(cx) / static_cast<float>(W);
    const float heightScale = static_cast<float>(cy) / static_cast<float>(H);
    return widthScale < heightScale ? FullWidth(aspect, cx, cy) : FullHeight(aspect, cx, cy);
}

QRect InitialPlayerRect(const QRect& workArea, const QRect& dialogRect) {
    const int h = dialogRect.top() - (workArea.top() + 5);
    const int left = workArea.left() + 100;
    const int top = workArea.top() + 5;
    const int right = workArea.left() + (4 * h) / 3;
    const int bottom = dialogRect.top();
    return QRect(left, top, right - left, bottom - top);
}

QSize NormalWindowSize(int videoWidth, int videoHeight, int multiplier, int divider, const FrameMetrics& frame) {
    const int width = videoWidth * multiplier / divider;
    const int height = videoHeight * multiplier / divider;
    return QSize(width + 2 * frame.cxFrame, height + frame.cyCaption + 2 * frame.cyFrame);
}

}  // namespace veltrano
