#pragma once
// What assistive technology hears of the dialog's changing texts.

#include <QAccessible>

class QLabel;
class QObject;
class QString;

namespace veltrano {

// Shows a changing text on a label that has no fixed accessible name, so the
// text itself is what a screen reader reads, and tells assistive technology
// that it changed (only when it did).
void ShowLiveText(QLabel& label, const QString& text);

// Tells assistive technology that something of an object changed.
void TellAssistiveTechnology(QObject& object, QAccessible::Event what);

// Qt passes such news on only while a screen reader's bridge is up; tests,
// which run without one, hear them here. Null stops listening.
using AccessibilityListener = void (*)(QObject*, QAccessible::Event);
void SetAccessibilityListenerForTests(AccessibilityListener listener);

}  // namespace veltrano
