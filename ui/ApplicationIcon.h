#pragma once
// Icon resource 128: the icon of the main dialog, the About box and the player
// window.

#include <QIcon>

namespace veltrano {

// Drawn at every size the desktop asks for.
QIcon ApplicationIcon();

}  // namespace veltrano
