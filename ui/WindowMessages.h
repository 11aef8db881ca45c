#pragma once
// Posted messages between the windows of the program, as QEvent types. They
// are posted (never sent), so each is handled in turn with the user's commands.

#include <QEvent>

namespace veltrano {

// The player's "fresh positions" tick to the main dialog (no parameters).
inline constexpr int kPlayerTickEventType = QEvent::User + 3;
// A command to a window, as a menu or a button would send it.
inline constexpr int kCommandEventType = QEvent::User + 0x111;

class CommandEvent : public QEvent {
public:
    explicit CommandEvent(int id) : QEvent(static_cast<QEvent::Type>(kCommandEventType)), id_(id) {}
    int id() const { return id_; }

private:
    int id_;
};

}  // namespace veltrano
