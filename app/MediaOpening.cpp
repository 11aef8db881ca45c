// Opening a media file: the open dialog, measuring its length, the media
// lists, the default selection, the labels and the preview.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "media/MediaProbe.h"
#include "preview/PreviewPlayer.h"
#include "core/Paths.h"
#include "app/ThumbSlider.h"
#include "core/TimeText.h"

#include <QLabel>

namespace veltrano {

namespace {

inline constexpr const char* kMediaPathTooLongText =
    "The path of this media file is too long. A path may hold at most 259 bytes; please move or rename the file.";

std::vector<FileFilter> MediaFileFilters() {
    return {
        {"Any Files (*.*)", "*.*;"},
        {"Windows Media Files (*.asf;*.wma;*.wmv)", "*.asf; *.wma; *.wmv"},
        {"Video Files (*.avi;*.mpg;*.mpeg;*.vob;*.dat;*.mp4;*.divx;*.div;*.ogm;*.qt;*.mov;*.rmvb;*.rm)",
         "*.avi; *.vob; *.qt; *.mov; *.mpg; *.mpeg; *.dat; *.mp4; *.divx; *.div; *.ogm;*.rmvb;*.rm"},
        {"Audio files (*.mp3;*.wav;*.ac3;*.ogg;*.mpa;*.mp2;*.au;*.aif;*.aiff;*.snd;*.ra;*.ram)",
         "*.mp3; *.wav; *.ac3; *.ogg; *.mpa; *.mp2; *.au; *.aif; *.aiff; *.snd;*.ra;*.ram"},
        {"Media Files (all types)",
         "*.asf;*.wma;*.wmv;*.avi;*.vob;*.qt;*.mov;*.mpg;*.mpeg;*.dat;*.mp4;*.divx;*.div;*.ogm;*.wav;*.mpa;*.mp2;"
         "*.mp3;*.au;*.aif;*.aiff;*.snd;*.ogg;*.ac3;*.rmvb;*.rm;*.ra;*.ram"},
    };
}

std::string FileNameOfClip(const char* path) {
    std::string name;
    FileNameOfPath(path, name);
    return name;
}

}  // namespace

void ConverterDialog::OnOpenMediaFile() {
    // 1.-3. One existing file, starting in the folder of the last one.
    OpenFileRequest request;
    request.title = "Select an Media file";
    request.filters = MediaFileFilters();
    request.filterIndex = 1;
    request.initialFolder = m_hInstance->settings()
                                .GetProfileString(QString::fromLatin1(kSectionOption),
                                                  QString::fromLatin1(kEntryLastFolder), QString())
                                .toStdString();
    const std::optional<std::string> chosen = m_services.files->GetOpenFileName(request);
    if (!chosen) return;
    OpenChosenMedia(*chosen);
}

void ConverterDialog::OpenChosenMedia(const std::string& path) {
    // A path the lists cannot hold whole is refused, never cut.
    if (!FitsPathBuffer(path)) {
        m_services.boxes->DialogBox("Error", kMediaPathTooLongText, BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    // 4.-5.
    m_nClipCount = 0;
    m_nAudioCount = 0;
    CopyText(m_szClipPath[0], path);
    // 6.
    MediaTime length = 0;
    if (!MeasureDuration(m_szClipPath[0], length)) {
        m_services.boxes->DialogBox("Error", "Can not get the duration of the clip!");
        return;
    }
    // 7. Whole seconds, truncated.
    m_rtClipDuration[0] = length / kUnitsPerSecond * kUnitsPerSecond;
    m_nClipCount = 1;
    // 8.
    CopyText(m_szAudioPath[0], path);
    m_nAudioCount = 1;
    // 9.
    m_hInstance->settings().WriteProfileString(
        QString::fromLatin1(kSectionOption), QString::fromLatin1(kEntryLastFolder),
        QString::fromStdString(FolderOfPath(TextOf(m_szClipPath[m_nClipCount - 1]))));
    // 10.-12. Default selection: the whole file.
    m_rtStartTime = 0;
    m_rtEndTime = m_rtClipDuration[0];
    m_stcStartTime->setText(QStringLiteral("00:00:00"));
    m_stcFileLine->setText(QString::fromStdString(FileLineText(FileNameOfClip(m_szClipPath[0]), 0, m_rtEndTime)));
    m_stcEndTime->setText(QString::fromStdString(HmsText(m_rtEndTime)));
    // 13.
    ClosePreview();
    OpenPreview(m_szClipPath[0]);
    // 14.-15.
    EnableMediaControls(true);
    SetStatusText(QStringLiteral("Output File: ") + QString::fromStdString(std::string(TextOf(m_szOutputPath))));
}

bool ConverterDialog::MeasureDuration(const char* path, MediaTime& duration) {
    // A throw-away graph, built and never run, only for the length.
    MediaProbe probe;
    ProbeStep failedStep = ProbeStep::Render;
    if (ProbeMedia(path, probe, &failedStep).failed()) {
        if (failedStep == ProbeStep::Render)
            m_services.boxes->OwnerlessBox(
                "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt.");
        return false;
    }
    duration = probe.stopPosition;
    m_bMediaHasSound = probe.hasAudio;
    return true;
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
    return true;
}

bool ConverterDialog::ClosePreview() {
    if (g_pPreviewPlayer) {
        if (g_pPreviewPlayer->m_ePlayState != NoMedia) g_pPreviewPlayer->CloseMedia();
        delete g_pPreviewPlayer;
        g_pPreviewPlayer = nullptr;
    }
    m_nSliderPos = 0;
    m_sldPosition->setValue(0);
    update();
    return true;
}

}  // namespace veltrano
