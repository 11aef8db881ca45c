#pragma once
// The one application object: fixes where the settings live, runs the main
// dialog modally, and ends the program when the dialog ends.

#include "app/SettingsStore.h"
#include "ui/UiServices.h"

#include <QString>

#include <cstdint>

namespace veltrano {

class ConverterApp {
public:
    // executablePath: the program's own path; its file name without extension
    // is the application name (settings file, captions of application boxes).
    explicit ConverterApp(const QString& executablePath);
    ~ConverterApp();
    ConverterApp(const ConverterApp&) = delete;
    ConverterApp& operator=(const ConverterApp&) = delete;

    // 1 while the left mouse button is down on the trackbar; the position
    // refresh leaves the thumb alone then. The dialog sets it through
    // SetThumbHeld as the trackbar reports its button; the trackbar itself
    // knows nothing of the application.
    std::int32_t m_bThumbHeld = 0;
    void SetThumbHeld(bool held) { m_bThumbHeld = held ? 1 : 0; }

    // Runs the dialog modally with the real user-interface services; always
    // returns false, after which the program ends.
    bool InitInstance();

    // A media file named on the command line (as the desktop's "Open with"
    // passes it) is opened once the dialog runs, as a chosen one would be.
    void SetFileToOpen(const QString& path) { fileToOpen_ = path; }

    // Settings go to <config>/<key>/<application name>.conf from now on.
    void SetRegistryKey(const QString& key);

    SettingsStore& settings() { return settings_; }
    const QString& applicationName() const { return applicationName_; }
    const QString& executablePath() const { return executablePath_; }

    // The one application object, or null outside its lifetime.
    static ConverterApp* instance();

private:
    QString executablePath_;
    QString applicationName_;
    SettingsStore settings_;
    QString fileToOpen_;
};

inline constexpr const char* kRegistryKey = "Orsivak";

}  // namespace veltrano
