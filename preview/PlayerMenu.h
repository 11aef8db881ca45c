#pragma once
// Menu resource 134: the player's popup menu "PREVIEW".

class QAction;
class QMenu;
class QWidget;

namespace veltrano {

inline constexpr int IDR_PREVIEW_MENU = 134;
inline constexpr int ID_PREVIEW_FULLSCREEN = 32771;
inline constexpr int ID_PREVIEW_NORMALSIZE = 32772;
inline constexpr int ID_PREVIEW_PLAY = 32773;
inline constexpr int ID_PREVIEW_PAUSE = 32774;
inline constexpr int ID_PREVIEW_STOP = 32775;
inline constexpr int ID_PREVIEW_CLOSE = 32776;

// A fresh copy of the menu; each action carries its command id as data.
QMenu* LoadPlayerMenu(QWidget* parent);
// The item with a command id, or null.
QAction* MenuItem(const QMenu& menu, int commandId);

}  // namespace veltrano
