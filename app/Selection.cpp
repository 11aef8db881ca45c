// Position, selection and time display: the trackbar follows and seeks the
// preview, Play/Pause/Stop drive it, Start Time and End Time mark the
// selection, and closing the player window empties the dialog.

#include "app/Accessibility.h"
#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/ThumbSlider.h"
#include "app/Trackbar.h"
#include "core/Paths.h"
#include "core/TimeText.h"
#include "preview/PreviewPlayer.h"

#include <QLabel>

namespace veltrano {

namespace {
// The double nearest to 1/600: one trackbar step of the media's length.
constexpr double kOneStep = 1.0 / 600;

std::string FileNameOfClip(const char* path) {
    std::string name;
    FileNameOfPath(path, name);
    return name;
}
}  // namespace

MediaTime TrackbarTarget(MediaTime length, int position) {
    return static_cast<MediaTime>(static_cast<double>(length) * position * kOneStep);
}

int TrackbarStepOf(MediaTime position, MediaTime length) {
    if (length == 0) return 0;
    return static_cast<int>(static_cast<double>(position) / static_cast<double>(length) * 600.0);
}

std::string TrackbarPositionText(MediaTime length, int step) {
    return HmsText(TrackbarTarget(length, step)) + " of " + HmsText(length);
}

void ConverterDialog::OnTrackbarReleased() {
    m_nSliderPos = m_sldPosition->value();
    SeekToSlider(m_nSliderPos);
}

bool ConverterDialog::SeekToSlider(int position) {
    if (!g_pPreviewPlayer) return false;
    const MediaTime length = g_pPreviewPlayer->m_rtStopPosition;
    if (length == 0) return false;
    (void)g_pPreviewPlayer->SeekTo(TrackbarTarget(length, position));  // a refused seek leaves the position shown as it was
    return true;
}

void ConverterDialog::RefreshPosition() {
    // The user holds the thumb: neither the text nor the thumb moves.
    if (m_hInstance->m_bThumbHeld == 1) return;
    if (!g_pPreviewPlayer) {
        ShowLiveText(*m_stcFileLine, QString());
        return;
    }
    const MediaTime position = g_pPreviewPlayer->m_rtCurrentPosition;
    const MediaTime length = g_pPreviewPlayer->m_rtStopPosition;
    ShowLiveText(*m_stcFileLine,
                 QString::fromStdString(FileLineText(FileNameOfClip(m_szClipPath[0]), position, length)));
    if (length != 0) m_sldPosition->SetMediaLength(length);
    m_nSliderPos = TrackbarStepOf(position, length);
    m_sldPosition->setValue(m_nSliderPos);
}

void ConverterDialog::OnStartTime() {
    if (!g_pPreviewPlayer) return;
    m_rtStartTime = g_pPreviewPlayer->m_rtCurrentPosition;
    ShowLiveText(*m_stcStartTime, QString::fromStdString(HmsText(m_rtStartTime)));
}

void ConverterDialog::OnEndTime() {
    if (!g_pPreviewPlayer) return;
    m_rtEndTime = g_pPreviewPlayer->m_rtCurrentPosition;
    ShowLiveText(*m_stcEndTime, QString::fromStdString(HmsText(m_rtEndTime)));
}

void ConverterDialog::OnPlay() {
    if (g_pPreviewPlayer) g_pPreviewPlayer->StartPlayback();
}

void ConverterDialog::OnPause() {
    if (g_pPreviewPlayer) g_pPreviewPlayer->PausePlayback();
}

void ConverterDialog::OnStop() {
    if (g_pPreviewPlayer) g_pPreviewPlayer->StopPlayback();
}

void ConverterDialog::OnCloseMedia() {
    ClosePreview();
    m_nClipCount = 0;
    m_rtStartTime = 0;
    m_rtEndTime = 0;
    ShowLiveText(*m_stcStartTime, QStringLiteral("00:00:00"));
    ShowLiveText(*m_stcEndTime, QStringLiteral("00:00:00"));
    ShowLiveText(*m_stcFileLine, QString());
    m_sldPosition->SetMediaLength(0);
    EnableMediaControls(false);
    // Puts the stored output path back into its edit, discarding typed text.
    UpdateData(false);
}

}  // namespace veltrano
