#pragma once
// A main dialog on recording user-interface services, in a home folder of its
// own (with a Music folder unless asked otherwise), so no real user file is
// read or written.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "tests/support/RecordingUiServices.h"
#include "tests/support/QtPrinters.h"

#include <QTemporaryDir>

#include <memory>
#include <string>

namespace veltrano::test {

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
    QString home() const { return home_.path(); }
    QString musicFolder() const { return home_.path() + QStringLiteral("/Music"); }
    QString settingsFile() const;
    // A path inside the home folder.
    std::string PathInHome(const std::string& name) const;

    RecordingMessageBoxes boxes;
    RecordingFileDialogs files;
    RecordingHelpLauncher help;

private:
    QTemporaryDir home_;
    QByteArray oldHome_, oldConfig_;
    std::unique_ptr<ConverterApp> app_;
    std::unique_ptr<ConverterDialog> dialog_;
};

}  // namespace veltrano::test
