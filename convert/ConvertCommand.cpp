// The Convert command of the main dialog: its checks, the replace question,
// the start of the conversion, the used-time ticks, the graph's events and
// the stop.

#include "app/ConverterDialog.h"
#include "app/OutputPath.h"
#include "convert/ConversionEngine.h"
#include "convert/ConvertChecks.h"
#include "convert/Progress.h"
#include "platform/MediaProbe.h"
#include "platform/OutputFile.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace veltrano {

void ConverterDialog::EngineDeleter::operator()(ConversionEngine* p) const { delete p; }

namespace {

constexpr int kConvertTimerPeriodMs = 1000;
constexpr int kProgressPeriodMs = 250;

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

void ConverterDialog::OnConvert() {
    IMessageBoxes& boxes = *m_services.boxes;
    // 1.
    if (m_nClipCount == 0) {
        boxes.AppBox(kOpenMediaFirstText);
        return;
    }
    // 2.
    if (m_bConverting != 0) {
        StopConversion();
        return;
    }
    // 3. A path the buffer cannot hold is refused, never cut.
    m_strOutputFile = outputEdit()->text();
    const std::string output = m_strOutputFile.toStdString();
    if (!CopyText(m_szOutputPath, output)) {
        boxes.DialogBox("Error", kOutputPathTooLongText, BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    // 4.
    if (!(m_rtEndTime > m_rtStartTime)) {
        boxes.DialogBox(boxes.ApplicationName(), kEndBeforeStartText);
        return;
    }
    // Before anything could replace the output: it must not be the media
    // itself, and the media must have sound to convert.
    const std::string source(TextOf(m_szAudioPath[0]));
    if (m_nAudioCount > 0 && NamesSameFile(output, source)) {
        boxes.DialogBox("Error", kOutputIsSourceText, BoxButtons::Ok, BoxIcon::Warning);
        return;
    }
    if (m_nAudioCount > 0) {
        MediaProbe probe;
        if (ProbeMedia(source, probe).succeeded() && !probe.hasAudio) {
            boxes.DialogBox("Error", kNoSoundStreamText, BoxButtons::Ok, BoxIcon::Warning);
            return;
        }
    }
    // 5. Only a regular file can be replaced; anything else is refused where
    // the question would come, without opening it. The old file is replaced
    // only when the new one is complete.
    if (const auto refusal = OutputFileRefusal(output)) {
        boxes.AppBox(*refusal);
        return;
    }
    if (FileExists(output)) {
        if (boxes.DialogBox("Warning", ReplaceQuestionText(output), BoxButtons::YesNo, BoxIcon::Warning) !=
            BoxAnswer::Yes)
            return;
    }
    // 6.
    UpdateData(true);
    // 7.
    ReadWaveFormatChoice();
    // 8.
    if (m_nCustomSamplesPerSec <= 0) {
        boxes.DialogBox("error", kRateTooSmallText);
        return;
    }
    if (const auto refusal = WaveFormatRefusal(m_nIndexSamplesPerSec, m_nIndexChannels, m_nIndexBitsPerSample,
                                               m_nCustomSamplesPerSec)) {
        boxes.DialogBox("error", *refusal);
        return;
    }
    const OutputWaveFormat format = CurrentOutputWaveFormat();
    // 9. Neither result is looked at: the render step runs even after a failed timeline step.
    ConversionHost host;
    host.boxes = m_services.boxes;
    host.notifyTarget = this;
    host.errorText = m_szErrorText;
    host.errorTextCapacity = sizeof m_szErrorText;
    host.onRunning = [this] {
        m_bConverting = 1;
        m_btnConvert->setText(QStringLiteral("Stop"));
        m_convertTimer.start(kConvertTimerPeriodMs, this);
        ShowProgress(true);
    };
    m_pEngine.reset(new ConversionEngine(std::move(host)));
    ConversionSource src;
    src.audioCount = m_nAudioCount;
    src.audioPath = source;
    src.startTime = m_rtStartTime;
    src.endTime = m_rtEndTime;
    m_pEngine->SetSource(src);
    m_pEngine->SetOutput(output, format);
    m_pEngine->CreateTimeline();
    m_pEngine->ConnectRenderEngine(m_pEngine->job.pTimeline);
}

void ConverterDialog::StopConversion() {
    // 1.
    m_convertTimer.stop();
    // 2.-8. Stop (after the graph has written the end of the file), notify
    // nobody, release the events, the control, the render engine, the timeline.
    if (m_pEngine) m_pEngine->StopAndRelease();
    ShowProgress(false);
    // 9.-12.
    m_bConverting = 0;
    m_btnConvert->setText(QStringLiteral("Convert"));
    m_nUsedSeconds = 0;
    // "Done" only once the new file has taken the output's place.
    if (m_pEngine && !m_pEngine->OutputCommitted()) {
        const std::string text = m_pEngine->CommitFailureText();
        m_stcStatus->setText(Q(ConversionFailedStatusText(text)));
        GetErrorText(Result(E_FAIL, text), m_szErrorText, sizeof m_szErrorText);
        m_services.boxes->AppBox(ConversionFailedText(text));
        return;
    }
    m_stcStatus->setText(Q(DoneText(std::string(TextOf(m_szOutputPath)))));
}

void ConverterDialog::OnConvertTimer(int timerId) {
    if (timerId != kConvertTimerId) return;
    ++m_nUsedSeconds;
    m_stcStatus->setText(Q(UsedTimeText(m_nUsedSeconds)));
}

void ConverterDialog::ShowProgress(bool converting) {
    if (converting) {
        m_convertClock.start();
        m_prgConvert->setValue(0);
        m_prgConvert->setFormat(ProgressText(0, std::nullopt));
        m_prgConvert->show();
        m_progressTimer.start(kProgressPeriodMs, this);
        return;
    }
    // What was written last stays on the bar for anyone reading it, hidden.
    OnProgressTimer();
    m_progressTimer.stop();
    m_prgConvert->hide();
}

void ConverterDialog::OnProgressTimer() {
    if (!m_pEngine) return;
    const int percent = m_pEngine->ProgressPercent();
    if (percent < m_prgConvert->value()) return;  // after the release the engine knows nothing more
    m_prgConvert->setValue(percent);
    m_prgConvert->setFormat(ProgressText(percent, RemainingSeconds(m_convertClock.elapsed(), percent)));
}

void ConverterDialog::OnGraphNotify() {
    if (!m_pEngine || !m_pEngine->job.pEvent) return;
    GraphEvent event;
    while (m_pEngine && m_pEngine->job.pEvent && m_pEngine->job.pEvent->GetEvent(event, 0).succeeded()) {
        const long code = event.code;
        const std::string text = event.text;
        m_pEngine->job.pEvent->FreeEventParams(event);
        if (code == EC_COMPLETE) {
            StopConversion();
        } else if (code == EC_ERRORABORT) {
            // A conversion that cannot go on ends now, and says why; it is never "Done".
            m_convertTimer.stop();
            m_pEngine->ReleaseAfterFailure();
            ShowProgress(false);
            m_bConverting = 0;
            m_btnConvert->setText(QStringLiteral("Convert"));
            m_nUsedSeconds = 0;
            m_stcStatus->setText(Q(ConversionFailedStatusText(text)));
            GetErrorText(Result(E_FAIL, text), m_szErrorText, sizeof m_szErrorText);
            m_services.boxes->AppBox(ConversionFailedText(text));
        }
    }
}

}  // namespace veltrano
