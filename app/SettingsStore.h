#pragma once
// Per-user settings: an INI file at ~/.config/<key>/<application name>.conf,
// in sections "Option" and "Setup". Every read goes to the file, so a value
// written by another copy of the program is seen; a missing or unreadable value
// reads as its default and a failed write is ignored by every caller.

#include <QString>

namespace veltrano {

inline constexpr const char* kSectionOption = "Option";
inline constexpr const char* kSectionSetup = "Setup";

class SettingsStore {
public:
    SettingsStore() = default;
    explicit SettingsStore(QString filePath) : filePath_(std::move(filePath)) {}

    // The location for a registry key and an application name:
    // <XDG config home>/<key>/<application name>.conf.
    static QString FilePathFor(const QString& registryKey, const QString& applicationName);

    void SetFilePath(QString filePath) { filePath_ = std::move(filePath); }
    const QString& filePath() const { return filePath_; }

    int GetProfileInt(const QString& section, const QString& entry, int defaultValue) const;
    QString GetProfileString(const QString& section, const QString& entry, const QString& defaultValue) const;
    bool WriteProfileInt(const QString& section, const QString& entry, int value);
    bool WriteProfileString(const QString& section, const QString& entry, const QString& value);

private:
    QString filePath_;
};

// A stored integer's text as the value it stands for; nothing when it is not a
// decimal 32-bit integer.
bool ParseStoredInt(const QString& text, int& value);

}  // namespace veltrano
