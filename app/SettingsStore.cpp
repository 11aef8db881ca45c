#include "app/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace veltrano {

namespace {
QString KeyOf(const QString& section, const QString& entry) { return section + QLatin1Char('/') + entry; }
}  // namespace

QString SettingsStore::FilePathFor(const QString& registryKey, const QString& applicationName) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QLatin1Char('/') + registryKey + QLatin1Char('/') + applicationName + QStringLiteral(".conf");
}

bool ParseStoredInt(const QString& text, int& value) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok) return false;
    value = v;
    return true;
}

int SettingsStore::GetProfileInt(const QString& section, const QString& entry, int defaultValue) const {
    if (filePath_.isEmpty()) return defaultValue;
    QSettings s(filePath_, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) return defaultValue;
    const QVariant v = s.value(KeyOf(section, entry));
    if (!v.isValid() || v.typeId() != QMetaType::QString) return defaultValue;
    int value = defaultValue;
    return ParseStoredInt(v.toString(), value) ? value : defaultValue;
}

QString SettingsStore::GetProfileString(const QString& section, const QString& entry,
                                        const QString& defaultValue) const {
    if (filePath_.isEmpty()) return defaultValue;
    QSettings s(filePath_, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) return defaultValue;
    const QVariant v = s.value(KeyOf(section, entry));
    if (!v.isValid()) return defaultValue;
    // A list or other structured value is not a text we wrote.
    if (v.typeId() != QMetaType::QString) return defaultValue;
    return v.toString();
}

bool SettingsStore::WriteProfileInt(const QString& section, const QString& entry, int value) {
    return WriteProfileString(section, entry, QString::number(value));
}

bool SettingsStore::WriteProfileString(const QString& section, const QString& entry, const QString& value) {
    if (filePath_.isEmpty()) return false;
    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    QSettings s(filePath_, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) return false;
    s.setValue(KeyOf(section, entry), value);
    s.sync();
    return s.status() == QSettings::NoError;
}

}  // namespace veltrano
