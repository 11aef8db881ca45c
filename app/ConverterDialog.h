#pragma once
// The main dialog (template 102): owns all state of a run, the media lists,
// the selection, the output path and format choice, the conversion and every
// control. Its handlers are defined by subject: start-up, close and window
// behaviour here; opening (MediaOpening.cpp), the selection and position
// (Selection.cpp), the Convert command (ConvertCommand.cpp), the format choice,
// the output path and help, and drops.
//
// Everything runs on the user-interface thread, which never waits on media:
// a file's length is measured on a worker thread and its preview is cued on
// GStreamer's threads; both answer with posted events, and the opening goes
// on from there in its order.

#include "core/WaveFormat.h"
#include "core/FixedText.h"
#include "core/MediaTime.h"
#include "media/SourceAnalysis.h"
#include "ui/SystemInfo.h"
#include "ui/UiServices.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QDialog>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QGroupBox;
class QProgressBar;

namespace veltrano {

class ConverterApp;
class ThumbSlider;
class ConversionEngine;
class MediaProber;
class ProbeDoneEvent;
class PreviewOpenedEvent;
struct ConversionNotice;
struct ConvertRefusal;

inline constexpr int kMaxClips = 1000;
inline constexpr int kMaxAudioSources = 100;
inline constexpr int kTrackbarSteps = 600;
inline constexpr int kConvertTimerId = 1112;

// Default output path and the settings it comes from.
inline constexpr const char* kDefaultOutputFileName = "output_new.wav";
inline constexpr const char* kEntryOutputFile = "output_cut_file";
inline constexpr const char* kEntrySamplesPerSec = "nIndex_nSamplesPerSecond";
inline constexpr const char* kEntryChannels = "nIndex_nChannels";
inline constexpr const char* kEntryBitsPerSample = "nIndex_wBitsPerSample";
inline constexpr const char* kEntryCustomSamplesPerSec = "n_CustomSamplesPerSecond";
inline constexpr const char* kEntryLastFolder = "LastPhotoFolder";
inline constexpr int CSIDL_MYMUSIC = 13;

// A copy of what a run holds, for tests; the program never reads it.
struct ConverterDialogState {
    int clipCount = 0;
    std::string clipPath;        // clip entry 0
    MediaTime clipDuration = 0;  // clip duration 0, whole seconds
    int audioCount = 0;
    std::string audioPath;  // audio source entry 0
    MediaTime startTime = 0;
    MediaTime endTime = 0;
    int sliderPos = 0;
    bool converting = false;
    int usedSeconds = 0;
    int convertTimerId = 0;  // 0 while the used-time timer is off
    QString outputFile;      // m_strOutputFile
    std::string outputPath;  // m_szOutputPath
    int indexSamplesPerSec = 0;
    int indexChannels = 0;
    int indexBitsPerSample = 0;
    int customSamplesPerSec = 0;
    std::string errorText;
    bool mediaHasSound = false;
    bool opening = false;            // a file is being measured or its preview cued
    bool conversionReleased = true;  // the conversion holds no graph, engine or timeline
};

class ConverterDialog : public QDialog {
    Q_OBJECT

public:
    ConverterDialog(ConverterApp& app, UiServices services, QWidget* parent = nullptr);
    ~ConverterDialog() override;

    // Opens a chosen path as the open dialog's answer would (from the length
    // measurement on); the command line and drops come this way. The opening
    // goes on after this returns, as the media's answers arrive.
    void OpenChosenMedia(const std::string& path);

    QIcon OnQueryDragIcon() const { return m_hIcon; }

    ConverterDialogState StateForTests() const;

public slots:
    // The close box, Alt+F4 and Esc: refused while converting, otherwise the
    // settings are saved and the dialog ends.
    void accept() override;
    void reject() override;

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // ---- members, in their long-standing order ----
    char m_szErrorText[160] = {};
    std::int32_t m_nClipCount = 0;
    char m_szClipPath[kMaxClips][kMaxPath] = {};
    MediaTime m_rtClipDuration[kMaxClips] = {};
    std::int32_t m_nAudioCount = 0;
    char m_szAudioPath[kMaxAudioSources][kMaxPath] = {};
    std::int32_t m_bConverting = 0;
    std::int32_t m_nUsedSeconds = 0;
    char m_szOutputPath[kMaxPath] = {};
    MediaTime m_rtStartTime = 0;
    MediaTime m_rtEndTime = 0;
    ConverterApp* m_hInstance;  // the application object, handed to what needs it
    std::int32_t m_nSliderPos = 0;
    QPushButton* m_btnHelp = nullptr;
    QPushButton* m_btnOpenMedia = nullptr;
    QLabel* m_stcStatus = nullptr;
    QPushButton* m_btnConvert = nullptr;
    ThumbSlider* m_sldPosition = nullptr;
    QLabel* m_stcEndTime = nullptr;
    QLabel* m_stcStartTime = nullptr;
    QPushButton* m_btnEndTime = nullptr;
    QPushButton* m_btnStartTime = nullptr;
    QPushButton* m_btnStop = nullptr;
    QPushButton* m_btnPause = nullptr;
    QPushButton* m_btnPlay = nullptr;
    QPushButton* m_btnBrowse = nullptr;
    QString m_strOutputFile;
    QIcon m_hIcon;
    std::int32_t m_nIndexSamplesPerSec = 1;
    std::int32_t m_nIndexChannels = 0;
    std::int32_t m_nIndexBitsPerSample = 0;
    std::int32_t m_nCustomSamplesPerSec = 44100;
    QComboBox* m_cboSamplesPerSec = nullptr;
    QComboBox* m_cboChannels = nullptr;
    QComboBox* m_cboBitsPerSample = nullptr;
    OsVersionInfo m_osvi;

    // ---- start-up, close and window behaviour ----
    bool OnInitDialog();
    void OnSysCommand(int commandId);
    void OnClose();
    // toMembers: edit 1071 into m_strOutputFile; otherwise the other way.
    void DoDataExchange(bool toMembers);
    bool UpdateData(bool saveAndValidate) {
        DoDataExchange(saveAndValidate);
        return true;
    }

    // ---- wave format choice ----
    void OnSamplesPerSecChange();
    bool ReadWaveFormatChoice();
    OutputWaveFormat CurrentOutputWaveFormat() const {
        return ComputeOutputWaveFormat(m_nIndexSamplesPerSec, m_nIndexChannels, m_nIndexBitsPerSample,
                                       m_nCustomSamplesPerSec);
    }

    // ---- output path and help ----
    QString GetDefaultOutputPath(const QString& section, const QString& entry, const QString& defaultPath,
                                 int folderId);
    void OnBrowse();
    void OnHelp();

    // ---- media list and opening ----
    void OnOpenMediaFile();
    // Starts measuring the path; OnDurationMeasured goes on with the answer.
    void MeasureDuration(const std::string& path);
    void OnDurationMeasured(const ProbeDoneEvent& measured);
    // path is clip entry 0, which a failed preview empties. False when the
    // preview failed at once; true while it is being cued (OnPreviewOpened
    // goes on then).
    bool OpenPreview(char (&path)[kMaxPath]);
    void OnPreviewOpened(const PreviewOpenedEvent& opened);
    // The opening's last steps, once the preview has answered.
    void FinishOpening();
    // One opening at a time: Open Media File is unavailable while one goes on.
    void SetOpening(bool opening);
    bool ClosePreview();
    void EnableMediaControls(bool enable);

    // ---- position, selection and time display ----
    void OnTrackbarReleased();
    bool SeekToSlider(int position);
    void RefreshPosition();
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnStartTime();
    void OnEndTime();
    void OnCloseMedia();

    // ---- the Convert command ----
    void OnConvert();
    void StopConversion();
    void OnConvertTimer(int timerId);
    void OnGraphNotify();
    void OnProgressTimer();
    void ShowProgress(bool converting);
    void ShowRefusal(const ConvertRefusal& refusal);
    void ShowNotices(const std::vector<ConversionNotice>& notices);
    // The converting state ends: button, timers, progress.
    void FinishConversion();
    // The Convert button's caption and what it tells assistive technology.
    void ShowConvertCaption(bool converting);

    // ---- drops ----
    void DropOnOutputEdit(QDropEvent* e);

    void BuildTemplate();
    void DescribeForAssistiveTechnology();
    void WireMessageTable();
    void SetTabOrder();
    void SetStatusText(const QString& text);

    UiServices m_services;
    QLineEdit* m_editOutputFile = nullptr;
    QLineEdit* m_editCustomRate = nullptr;
    QLabel* m_stcFileLine = nullptr;
    QPushButton* m_btnCloseMedia = nullptr;
    QPushButton* m_btnExit = nullptr;
    QGroupBox* m_grpWaveFormat = nullptr;
    bool m_bInitDone = false;

    // ---- opening state ----
    std::unique_ptr<MediaProber> m_prober;
    std::uint64_t m_nProbeTicket = 0;    // the measurement awaited, 0 when none
    std::uint64_t m_nPreviewSerial = 0;  // the player whose cueing is awaited, 0 when none
    // Whether the open media has a sound stream, as measured when it was opened.
    bool m_bMediaHasSound = true;
    // What measuring it learned that its conversion can use again.
    SourceAnalysisRef m_sourceAnalysis;

    // ---- conversion state ----
    QBasicTimer m_convertTimer;
    // The share of the selection written, shown beside the status line while
    // converting; refreshed more often than the used-time count.
    QProgressBar* m_prgConvert = nullptr;
    QBasicTimer m_progressTimer;
    QElapsedTimer m_convertClock;
    struct EngineDeleter {
        void operator()(ConversionEngine* p) const;
    };
    std::unique_ptr<ConversionEngine, EngineDeleter> m_pEngine;
};

}  // namespace veltrano
