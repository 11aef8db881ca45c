#pragma once
// A main dialog on recording user-interface services, in a home folder of its
// own (with a Music folder unless asked otherwise), so no real user file is
// read or written. Tests reach the dialog as a user does, through its
// controls (found by their member names), and read its state through
// StateForTests.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "tests/support/RecordingUiServices.h"
#include "tests/support/QtPrinters.h"

#include <QTemporaryDir>
#include <QWidget>

#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace veltrano {

class ThumbSlider;

namespace test {

// How long an opening or a conversion of the small test media may take at most.
inline constexpr int kOpenTimeoutMs = 20000;

// The dialog's controls by member name; a missing one fails the test.
QWidget* Control(QWidget& dialog, const char* objectName);
QPushButton* Button(QWidget& dialog, const char* objectName);
QLabel* Label(QWidget& dialog, const char* objectName);
QLineEdit* Edit(QWidget& dialog, const char* objectName);
QComboBox* List(QWidget& dialog, const char* objectName);
ThumbSlider* Trackbar(QWidget& dialog);
QProgressBar* ProgressBar(QWidget& dialog);

// A row chosen in a list as the user chooses it (the list announces it).
void Choose(QComboBox* list, int row);
// The button's command as its click sends it, even while the button is
// disabled (what the handler does then).
void SendCommand(QPushButton* button);
// One tick of a dialog timer.
void Tick(QWidget& dialog, int timerId);

// Waits until the dialog has no opening under way.
bool WaitForOpening(ConverterDialog& dialog);
// Waits until no conversion runs.
bool WaitUntilIdle(ConverterDialog& dialog, int timeoutMs = kOpenTimeoutMs);

// Closes and deletes the current preview player, as the program's end does.
void DropPreviewPlayer();

class DialogHarness {
public:
    explicit DialogHarness(bool withMusicFolder = true);
    ~DialogHarness();

    // Builds and shows (initialises) a fresh dialog; any earlier one is closed first.
    ConverterDialog& Open();
    void Destroy();

    ConverterDialog& dialog() { return *dialog_; }
    bool dialog_ok() const { return dialog_ != nullptr; }
    ConverterApp& app() { return *app_; }
    ConverterDialogState state() const { return dialog_->StateForTests(); }
    QString home() const { return home_.path(); }
    QString musicFolder() const { return home_.path() + QStringLiteral("/Music"); }
    QString settingsFile() const;
    // A path inside the home folder.
    std::string PathInHome(const std::string& name) const;

    // Open Media File pressed and the path chosen; returns once the opening
    // has ended (true), whatever its outcome.
    bool OpenMedia(const std::string& path);
    // Sets the output edit's text as typed.
    void SetOutput(const std::string& path);
    // Presses Convert (its command, even while the button is disabled).
    void PressConvert();

    RecordingMessageBoxes boxes;
    RecordingFileDialogs files;
    RecordingHelpLauncher help;

private:
    QTemporaryDir home_;
    QByteArray oldHome_, oldConfig_;
    std::unique_ptr<ConverterApp> app_;
    std::unique_ptr<ConverterDialog> dialog_;
};

}  // namespace test
}  // namespace veltrano
