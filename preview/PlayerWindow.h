#pragma once
// The player's top-level window ("PreviewWindow"): captioned, fixed size, no
// maximize box, black, hidden until the player shows it. Every event goes to
// the player's window procedure first.

#include <QBasicTimer>
#include <QWidget>

namespace veltrano {

class PreviewPlayer;

class PlayerWindow final : public QWidget {
public:
    explicit PlayerWindow(PreviewPlayer* player);

    PreviewPlayer* player() const { return m_player; }
    // From now on the window handles its events alone (its player is done with it).
    void DetachPlayer() { m_player = nullptr; }
    // Restyled to cover the screen without frame or caption.
    bool inFullScreenStyle() const { return windowFlags().testFlag(Qt::FramelessWindowHint); }

    QBasicTimer m_cursorTimer;    // timer 1: the full-screen cursor check
    QBasicTimer m_positionTimer;  // timer 2: the position refresh

protected:
    bool event(QEvent* e) override;

private:
    PreviewPlayer* m_player;
};

// Styles of the window in normal size and in full screen.
inline constexpr Qt::WindowFlags kPlayerWindowStyle =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
inline constexpr Qt::WindowFlags kFullScreenStyle = Qt::Window | Qt::FramelessWindowHint;

}  // namespace veltrano
