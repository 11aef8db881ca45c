// The Convert command of the main dialog: its checks, the replace question,
// the start of the conversion, the used-time ticks, the graph's events and
// the stop.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/Logging.h"
#include "app/OutputPath.h"
#include "engine/ConversionEngine.h"
#include "engine/ConvertChecks.h"
#include "core/Paths.h"
#include "core/Progress.h"

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

void ConverterDialog::ShowRefusal(const ConvertRefusal& refusal) {
    IMessageBoxes& boxes = *m_services.boxes;
    switch (refusal.check) {
    case ConvertCheck::MediaOpen:
    case ConvertCheck::OutputKind:
    case ConvertCheck::OutputFolder: boxes.AppBox(refusal.text); break;
    case ConvertCheck::Selection: boxes.DialogBox(boxes.ApplicationName(), refusal.text); break;
    case ConvertCheck::OutputPathLength:
    case ConvertCheck::OutputIsSource:
    case ConvertCheck::OutputIsOtherInput:
    case ConvertCheck::Sound: boxes.DialogBox("Error", refusal.text, BoxButtons::Ok, BoxIcon::Warning); break;
    case ConvertCheck::Replace: break;  // the user said No: nothing more to say
    case ConvertCheck::Rate:
    case ConvertCheck::FormatRange: boxes.DialogBox("error", refusal.text); break;
    }
}

void ConverterDialog::OnConvert() {
    IMessageBoxes& boxes = *m_services.boxes;
    if (m_nClipCount == 0) {
        boxes.AppBox(kOpenMediaFirstText);
        return;
    }
    if (m_bConverting != 0) {
        StopConversion();
        return;
    }
    UpdateData(true);
    ReadWaveFormatChoice();
    const std::string output = m_strOutputFile.toStdString();
    ConvertCheckInput in;
    in.output = output;
    in.source = std::string(TextOf(m_szAudioPath[0]));
    in.audioCount = m_nAudioCount;
    in.startTime = m_rtStartTime;
    in.endTime = m_rtEndTime;
    in.hasSound = m_bMediaHasSound;
    in.format = CurrentOutputWaveFormat();
    in.customSamplesPerSec = m_nCustomSamplesPerSec;
    // An existing output is replaced only once the new one is written.
    const auto askReplace = [&boxes](const std::string& question) {
        return boxes.DialogBox("Warning", question, BoxButtons::YesNo, BoxIcon::Warning) == BoxAnswer::Yes;
    };
    if (const auto refusal = CheckConversion(in, askReplace)) {
        ShowRefusal(*refusal);
        return;
    }
    CopyText(m_szOutputPath, output);  // fits: the checks refused a longer path
    ConversionRequest request;
    request.source.audioCount = m_nAudioCount;
    request.source.audioPath = in.source;
    request.source.startTime = m_rtStartTime;
    request.source.endTime = m_rtEndTime;
    request.outputPath = output;
    request.format = in.format;
    request.analysis = m_sourceAnalysis;
    request.dither = m_hInstance->settings().GetProfileInt(QString::fromLatin1(kSectionSetup), QStringLiteral("dither"),
                                                           1) != 0;
    if (!m_pEngine) {
        m_pEngine.reset(new ConversionEngine());
        connect(m_pEngine.get(), &ConversionEngine::ended, this, &ConverterDialog::OnGraphNotify);
    }
    const ConversionEngine::Outcome started = m_pEngine->Start(request);
    ShowNotices(m_pEngine->notices());
    if (started != ConversionEngine::Outcome::Running) return;
    m_bConverting = 1;
    ShowConvertCaption(true);
    m_convertTimer.start(kConvertTimerPeriodMs, this);
    ShowProgress(true);
}

void ConverterDialog::ShowNotices(const std::vector<ConversionNotice>& notices) {
    if (notices.empty()) return;
    // One failure, one box: the first step that failed, with its reason under
    // it. Later notices only follow from that one; they go to the log.
    const ConversionNotice& n = notices.front();
    // The system's text of the failure stays readable, within its buffer.
    if (!n.reason.empty()) GetErrorText(Result(E_FAIL, n.reason), m_szErrorText, sizeof m_szErrorText);
    IMessageBoxes& boxes = *m_services.boxes;
    if (n.kind == ConversionNotice::Kind::Error) boxes.DialogBox("Error", n.text, BoxButtons::Ok, BoxIcon::None, n.reason);
    else boxes.AppBox(n.text, n.reason);
    for (std::size_t i = 1; i < notices.size(); ++i)
        qCInfo(lcApp) << "conversion not started:" << notices[i].text.c_str() << notices[i].reason.c_str();
}

void ConverterDialog::ShowConvertCaption(bool converting) {
    m_btnConvert->setText(converting ? QStringLiteral("Stop") : QStringLiteral("Convert"));
    // Read beside the preview's own Stop, the caption alone would not say which.
    m_btnConvert->setAccessibleDescription(
        converting ? QStringLiteral("Stops the conversion; the output file keeps what was written")
                   : QStringLiteral("Converts the selection of the media file into the output file"));
}

void ConverterDialog::StopConversion() {
    m_convertTimer.stop();
    // The conversion brings the graph to its end so the file is complete;
    // the dialog goes on in OnGraphNotify once it has.
    if (m_pEngine && m_pEngine->Running()) {
        m_pEngine->Stop();
        return;
    }
    FinishConversion();
}

void ConverterDialog::FinishConversion() {
    ShowProgress(false);
    m_bConverting = 0;
    ShowConvertCaption(false);
    m_nUsedSeconds = 0;
}

void ConverterDialog::OnConvertTimer(int timerId) {
    if (timerId != kConvertTimerId) return;
    ++m_nUsedSeconds;
    SetStatusText(Q(UsedTimeText(m_nUsedSeconds)));
}

void ConverterDialog::ShowProgress(bool converting) {
    if (converting) {
        m_convertClock.start();
        m_prgConvert->setValue(0);
        m_prgConvert->setFormat(Q(ProgressText(0, std::nullopt)));
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
    m_prgConvert->setFormat(Q(ProgressText(percent, RemainingSeconds(m_convertClock.elapsed(), percent))));
}

void ConverterDialog::OnGraphNotify() {
    if (!m_pEngine) return;
    m_convertTimer.stop();
    FinishConversion();
    if (m_pEngine->outcome() == ConversionEngine::Outcome::Failed) {
        // A conversion that cannot go on ends now, and says why; it is never "Done".
        const std::string text = m_pEngine->failureText();
        SetStatusText(Q(ConversionFailedStatusText(text)));
        GetErrorText(Result(E_FAIL, text), m_szErrorText, sizeof m_szErrorText);
        m_services.boxes->AppBox(ConversionFailedText(text),
                                 "The output file " + m_pEngine->OutputPath() + " keeps what was written before.");
        return;
    }
    SetStatusText(Q(DoneText(std::string(TextOf(m_szOutputPath)))));
}

}  // namespace veltrano
