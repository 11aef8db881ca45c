#include "app/Accessibility.h"

#include <QLabel>

namespace veltrano {

namespace {
AccessibilityListener g_listener = nullptr;  // user-interface thread only
}  // namespace

void ShowLiveText(QLabel& label, const QString& text) {
    if (label.text() == text) return;
    label.setText(text);
    // The label's name is its text: a changed name is how the change is told.
    TellAssistiveTechnology(label, QAccessible::NameChanged);
}

void TellAssistiveTechnology(QObject& object, QAccessible::Event what) {
    QAccessibleEvent event(&object, what);
    QAccessible::updateAccessibility(&event);
    if (g_listener) g_listener(&object, what);
}

void SetAccessibilityListenerForTests(AccessibilityListener listener) { g_listener = listener; }

}  // namespace veltrano
