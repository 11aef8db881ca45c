#pragma once
// Where the player window and its picture go: pure arithmetic on rectangles.

#include "ui/Desktop.h"

#include <QRect>
#include <QSize>

namespace veltrano {

// Largest magnification of the picture in full screen.
inline constexpr int kFullScreenMagnification = 10;

// The picture's rectangle on a cx x cy screen: ten times the native size when
// that fits, otherwise as large as the screen allows with the aspect kept,
// centred between black bars. Single precision and truncation toward zero, so
// the bars come out the same on every machine.
QRect FullScreenVideoRect(int videoWidth, int videoHeight, int cx, int cy);

// The player's first rectangle: above the main dialog, 100 pixels in from the
// left of the work area, as wide as 4/3 of the space above the dialog reaches.
QRect InitialPlayerRect(const QRect& workArea, const QRect& dialogRect);

// The outer size that gives a client area of the native size x multiplier /
// divider: the picture plus the frame allowance (two side borders; caption and
// two borders).
QSize NormalWindowSize(int videoWidth, int videoHeight, int multiplier, int divider, const FrameMetrics& frame);

}  // namespace veltrano
