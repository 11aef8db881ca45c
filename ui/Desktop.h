#pragma once
// The desktop as the player window sees it: screen and work area, window frame
// sizes, the window stack, the mouse cursor and a millisecond clock.

#include <QMargins>
#include <QRect>

#include <cstdint>

class QWidget;

namespace veltrano {

// The primary screen's whole area and its area without panels and docks.
QRect PrimaryScreenRect();
QRect WorkAreaRect();

// Sizes of a window's frame: the side border, the bottom border and the
// caption bar above the client area. Taken from the window's real frame once
// the window manager has framed it, zero before (and on frameless platforms).
struct FrameMetrics {
    int cxFrame = 0;
    int cyFrame = 0;
    int cyCaption = 0;
};
FrameMetrics FrameMetricsOf(const QWidget& window);

// Places a top-level window by its outer rectangle (frame included) and fixes
// its client size to what remains inside the frame, so the user cannot resize it.
void SetFixedWindowRect(QWidget& window, const QRect& outer);

// Keeps a window above all others or returns it among the normal ones, without
// hiding it on the way (a modal dialog that is hidden ends its modal run).
void SetWindowTopmost(QWidget& window, bool topmost);
bool IsWindowTopmost(const QWidget& window);
// Hides a window without ending the modal run of a dialog.
void HideWindow(QWidget& window);
// Shows a window and brings it in front of the normal windows.
void ShowWindowInFront(QWidget& window);

// The cursor's display counter: the cursor is shown while it is 0 or more.
// Returns the new count.
int ShowCursor(bool show);

// Milliseconds from a monotonic clock, wrapping at 2^32.
std::uint32_t TimeGetTime();

}  // namespace veltrano
