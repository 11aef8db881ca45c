// The output path, Browse and Help.

#include "app/OutputPath.h"

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/Logging.h"
#include "core/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>
#include <QUrl>

namespace veltrano {

std::string BrowseInitialFolder(std::string_view outputFile) {
    const std::size_t slash = outputFile.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(outputFile.substr(0, slash));
}

std::vector<std::string> HelpPageCandidates(std::string_view executablePath) {
    const std::string folder = FolderOfPath(executablePath);
    return {folder + VELTRANO_HELP_DIR_NAME "/Introduction.html",
            folder + "../share/veltrano/" VELTRANO_HELP_DIR_NAME "/Introduction.html"};
}

std::string HelpPageUrl(std::string_view executablePath, const std::function<bool(const std::string&)>& exists) {
    const std::vector<std::string> candidates = HelpPageCandidates(executablePath);
    std::string chosen = candidates.front();
    for (const std::string& c : candidates) {
        if (exists(c)) {
            chosen = c;
            break;
        }
    }
    const QString clean = QDir::cleanPath(QString::fromStdString(chosen));
    return QUrl::fromLocalFile(clean).toString(QUrl::FullyEncoded).toStdString();
}

QString MusicFolder() {
    // Qt answers from the XDG user folders (~/Music when none is named), as
    // xdg-user-dir does; a folder that does not exist is no place to write to.
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir()) return music;
    return QDir::homePath();
}

QString ConverterDialog::GetDefaultOutputPath(const QString& section, const QString& entry,
                                              const QString& defaultPath, int folderId) {
    (void)folderId;  // the music folder is the only one asked for
    SettingsStore& settings = m_hInstance->settings();
    auto stored = [&](const QString& fallback) {
        const QString value = settings.GetProfileString(section, entry, fallback);
        // A stored path too long for the path buffer is not one we can write to.
        return FitsPathBuffer(value.toStdString()) ? value : fallback;
    };
    // Every version of this platform takes the music-folder branch, and the
    // lookup always has an answer (the home folder at worst): neither
    // "Can not get SHGetFolderPathA!" nor "Can not get My Music directory!"
    // can occur.
    const QString candidate = MusicFolder() + QString::fromStdString(FileNameWithBackslash(defaultPath.toStdString()));
    return stored(FitsPathBuffer(candidate.toStdString()) ? candidate : defaultPath);
}

void ConverterDialog::OnBrowse() {
    // The folder of the path last taken, not of the edit's current text.
    const std::string current = m_strOutputFile.toStdString();
    SaveFileRequest request;
    request.title = "Select Output";
    request.filters = {{"WAV file(*.wav)", "*.wav"}};
    request.filterIndex = 1;
    request.initialFolder = BrowseInitialFolder(current);
    // No overwrite prompt here: Convert asks before replacing a file.
    const std::optional<std::string> chosen = m_services.files->GetSaveFileName(request);
    if (!chosen) return;
    // Whatever was chosen, a .wav is written.
    const std::string path = WithWavExtension(*chosen);
    if (!FitsPathBuffer(path)) {
        m_services.boxes->DialogBox("Error", kOutputPathTooLongText, BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    // Taken at once: members, setting and edit.
    m_strOutputFile = QString::fromStdString(path);
    m_hInstance->settings().WriteProfileString(QString::fromLatin1(kSectionOption),
                                               QString::fromLatin1(kEntryOutputFile), m_strOutputFile);
    m_editOutputFile->setText(m_strOutputFile);
    CopyText(m_szOutputPath, path);
}

void ConverterDialog::OnHelp() {
    const std::string url = HelpPageUrl(m_hInstance->executablePath().toStdString(),
                                        [](const std::string& p) { return QFileInfo::exists(QString::fromStdString(p)); });
    // As with the help viewer of old, a failure to show the page is not reported.
    if (!m_services.help->Open(url)) qCWarning(lcApp) << "could not open help page" << url.c_str();
}

}  // namespace veltrano
