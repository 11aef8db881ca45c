// Opening a media file: the open dialog, measuring its length, the media
// lists, the default selection, the labels and the preview. The length is
// measured on a worker thread and the preview cued on GStreamer's threads;
// the opening goes on as each answers, in its order. Until the length is
// known nothing of the open media changes, so a file that does not open
// leaves everything as it was.

#include "app/MediaOpening.h"

#include "app/Accessibility.h"
#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/ThumbSlider.h"
#include "core/Paths.h"
#include "core/TimeText.h"
#include "media/MediaProbe.h"
#include "preview/PreviewPlayer.h"

#include <QLabel>
#include <QPushButton>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrano {

namespace {

inline constexpr const char* kMediaPathTooLongText =
    "The path of this media file is too long. A path may hold at most 259 bytes; please move or rename the file.";
inline constexpr const char* kCannotOpenText =
    "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt.";
inline constexpr const char* kNoDurationText = "Can not get the duration of the clip!";

std::string FileNameOfClip(const char* path) {
    std::string name;
    FileNameOfPath(path, name);
    return name;
}

}  // namespace

std::vector<FileFilter> MediaFileFilters() {
    return {
        {"Any Files (*.*)", "*.*;"},
        {"Windows Media Files (*.asf;*.wma;*.wmv)", "*.asf; *.wma; *.wmv"},
        {"Video Files (*.avi;*.mpg;*.mpeg;*.vob;*.dat;*.mp4;*.divx;*.div;*.ogm;*.qt;*.mov;*.rmvb;*.rm)",
         "*.avi; *.vob; *.qt; *.mov; *.mpg; *.mpeg; *.dat; *.mp4; *.divx; *.div; *.ogm;*.rmvb;*.rm"},
        {"Audio files (*.mp3;*.wav;*.ac3;*.ogg;*.mpa;*.mp2;*.au;*.aif;*.aiff;*.snd;*.ra;*.ram)",
         "*.mp3; *.wav; *.ac3; *.ogg; *.mpa; *.mp2; *.au; *.aif; *.aiff; *.snd;*.ra;*.ram"},
        // The classic types, then what the installed decoders read today.
        {"Media Files (all types)",
         "*.asf;*.wma;*.wmv;*.avi;*.vob;*.qt;*.mov;*.mpg;*.mpeg;*.dat;*.mp4;*.divx;*.div;*.ogm;*.wav;*.mpa;*.mp2;"
         "*.mp3;*.au;*.aif;*.aiff;*.snd;*.ogg;*.ac3;*.rmvb;*.rm;*.ra;*.ram;"
         "*.flac;*.m4a;*.m4b;*.aac;*.mka;*.mkv;*.webm;*.opus;*.oga;*.ogv;*.spx;*.wv;*.ape;*.mpc;*.tta;*.w64;"
         "*.aifc;*.amr;*.3gp;*.3g2;*.m4v;*.ts;*.m2ts;*.mts;*.flv;*.dts;*.eac3"},
    };
}

PathKind KindOfPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing
                                                                                  : PathKind::Unreadable;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    if (!S_ISREG(st.st_mode)) return PathKind::NotAFile;
    if (::access(path.c_str(), R_OK) != 0) return PathKind::Unreadable;
    return st.st_size == 0 ? PathKind::EmptyFile : PathKind::File;
}

std::string OpenFailureDetail(const std::string& path, PathKind kind, const std::string& reason) {
    switch (kind) {
    case PathKind::Folder: return path + " is a folder, not a media file.";
    case PathKind::Missing: return path + " does not exist (any more).";
    case PathKind::EmptyFile: return path + " is empty: it holds no sound or picture.";
    case PathKind::Unreadable: return path + " cannot be read: you are not allowed to read it.";
    case PathKind::NotAFile: return path + " is not a plain file (a device or a pipe, for instance).";
    case PathKind::File: break;
    }
    if (reason.empty()) return path + " cannot be read as sound or video.";
    return path + " cannot be read as sound or video: " + reason;
}

void ConverterDialog::OnOpenMediaFile() {
    // One existing file, starting in the folder of the last one.
    OpenFileRequest request;
    request.title = "Select an Media file";
    request.filters = MediaFileFilters();
    request.filterIndex = 1;
    request.initialFolder = m_hInstance->settings()
                                .GetProfileString(QString::fromLatin1(kSectionOption),
                                                  QString::fromLatin1(kEntryLastFolder), QString())
                                .toStdString();
    const std::optional<std::string> chosen = m_services.files->GetOpenFileName(request);
    if (!chosen) return;  // cancelled: nothing changes
    OpenChosenMedia(*chosen);
}

void ConverterDialog::OpenChosenMedia(const std::string& path) {
    // One opening at a time; the button is unavailable meanwhile.
    if (m_nProbeTicket != 0 || m_nPreviewSerial != 0) return;
    // A path the lists cannot hold whole is refused, never cut.
    if (!FitsPathBuffer(path)) {
        m_services.boxes->DialogBox("Error", kMediaPathTooLongText, BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    MeasureDuration(path);
}

void ConverterDialog::MeasureDuration(const std::string& path) {
    // A throw-away graph, built and never run, only for the length; it is
    // built on a worker thread, so the window keeps answering meanwhile.
    if (!m_prober) m_prober = std::make_unique<MediaProber>(this);
    m_nProbeTicket = m_prober->Start(path);
    if (m_nProbeTicket != 0) SetOpening(true);
}

void ConverterDialog::OnDurationMeasured(const ProbeDoneEvent& measured) {
    if (measured.ticket != m_nProbeTicket) return;  // not the measurement awaited
    m_nProbeTicket = 0;
    if (measured.result.failed()) {
        // One failure, one box: the first step that failed says it, with the
        // reason naming the file; the open media stays as it was.
        SetOpening(false);
        const std::string detail =
            OpenFailureDetail(measured.path, KindOfPath(measured.path), measured.result.text());
        if (measured.failedStep == ProbeStep::Render)
            m_services.boxes->Show({BoxKind::Ownerless, kOwnerlessCaption, kCannotOpenText, BoxButtons::Ok,
                                    BoxIcon::None, detail});
        else
            m_services.boxes->DialogBox("Error", kNoDurationText, BoxButtons::Ok, BoxIcon::None, detail);
        return;
    }
    // The new file replaces the old in both lists.
    m_nClipCount = 0;
    m_nAudioCount = 0;
    CopyText(m_szClipPath[0], measured.path);
    const MediaTime length = measured.probe.stopPosition;
    m_bMediaHasSound = measured.probe.hasAudio;
    m_sourceAnalysis = measured.probe.analysis;
    // The clip's duration counts whole seconds, truncated.
    m_rtClipDuration[0] = length / kUnitsPerSecond * kUnitsPerSecond;
    m_nClipCount = 1;
    CopyText(m_szAudioPath[0], measured.path);
    m_nAudioCount = 1;
    // The next open dialog starts in this file's folder.
    m_hInstance->settings().WriteProfileString(
        QString::fromLatin1(kSectionOption), QString::fromLatin1(kEntryLastFolder),
        QString::fromStdString(FolderOfPath(TextOf(m_szClipPath[m_nClipCount - 1]))));
    // The default selection is the whole file, to its last sample; the labels
    // show it in whole seconds.
    m_rtStartTime = 0;
    m_rtEndTime = length;
    ShowLiveText(*m_stcStartTime, QStringLiteral("00:00:00"));
    ShowLiveText(*m_stcFileLine,
                 QString::fromStdString(FileLineText(FileNameOfClip(m_szClipPath[0]), 0, m_rtEndTime)));
    ShowLiveText(*m_stcEndTime, QString::fromStdString(HmsText(m_rtEndTime)));
    m_sldPosition->SetMediaLength(length);
    // The old preview goes before the new one comes.
    ClosePreview();
    if (OpenPreview(m_szClipPath[0])) return;  // OnPreviewOpened goes on
    FinishOpening();
}

bool ConverterDialog::OpenPreview(char (&path)[kMaxPath]) {
    g_pPreviewPlayer = new PreviewPlayer(*m_services.boxes, this);
    g_pPreviewPlayer->SetStartInFullScreen(
        m_hInstance->settings().GetProfileInt(QString::fromLatin1(kSectionSetup), QStringLiteral("g_bFullscreen"), 0) != 0);
    CopyText(g_pPreviewPlayer->m_szFileName, TextOf(path));
    if (!g_pPreviewPlayer->OpenMedia()) {
        path[0] = '\0';
        ClosePreview();
        return false;
    }
    m_nPreviewSerial = g_pPreviewPlayer->serial();
    return true;
}

void ConverterDialog::OnPreviewOpened(const PreviewOpenedEvent& opened) {
    if (opened.serial != m_nPreviewSerial) return;  // an earlier player's
    m_nPreviewSerial = 0;
    if (!opened.opened) {
        // The player has shown why; the file stays listed for Convert.
        m_szClipPath[0][0] = '\0';
        ClosePreview();
    }
    FinishOpening();
}

void ConverterDialog::FinishOpening() {
    EnableMediaControls(true);
    SetStatusText(QStringLiteral("Output File: ") + QString::fromStdString(std::string(TextOf(m_szOutputPath))));
    SetOpening(false);
}

void ConverterDialog::SetOpening(bool opening) { m_btnOpenMedia->setEnabled(!opening); }

bool ConverterDialog::ClosePreview() {
    if (g_pPreviewPlayer) {
        if (g_pPreviewPlayer->m_ePlayState != NoMedia) g_pPreviewPlayer->CloseMedia();
        delete g_pPreviewPlayer;
        g_pPreviewPlayer = nullptr;
    }
    if (m_nPreviewSerial != 0) {
        // A cueing still under way is abandoned with its player.
        m_nPreviewSerial = 0;
        SetOpening(false);
    }
    m_nSliderPos = 0;
    m_sldPosition->setValue(0);
    update();
    return true;
}

}  // namespace veltrano
