#pragma once
// The main dialog (template 102): owns all state of a run, the media lists,
// the selection, the output path and format choice, the conversion and every
// control. Its handlers are defined by subsystem: app/ (start-up, close,
// format, output path, help), source/ (opening, selection, position) and
// convert/ (the Convert command).

#include "core/WaveFormat.h"
#include "core/FixedText.h"
#include "core/MediaTime.h"
#include "ui/SystemInfo.h"
#include "ui/UiServices.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QDialog>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
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

class ConverterDialog : public QDialog {
    Q_OBJECT

public:
    ConverterDialog(ConverterApp& app, UiServices services, QWidget* parent = nullptr);
    ~ConverterDialog() override;

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
    QIcon OnQueryDragIcon() const { return m_hIcon; }
    // The close box, Alt+F4, Esc and Enter: refused while converting, otherwise
    // the settings are saved and the dialog ends.
    void OnClose();
    // toMembers: edit 1071 into m_strOutputFile; otherwise the other way.
    void DoDataExchange(bool toMembers);
    bool UpdateData(bool saveAndValidate) {
        DoDataExchange(saveAndValidate);
        return true;
    }
    QWidget* GetDlgItem(int id) const;

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
    // Opens a chosen path as the open dialog's answer would (steps 4 on).
    void OpenChosenMedia(const std::string& path);
    bool MeasureDuration(const char* path, MediaTime& duration);
    // path is clip entry 0, which a failed preview empties.
    bool OpenPreview(char (&path)[kMaxPath]);
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

    // Controls without a member of their own.
    QLineEdit* outputEdit() const { return m_editOutputFile; }
    QLineEdit* customRateEdit() const { return m_editCustomRate; }
    QLabel* fileLine() const { return m_stcFileLine; }
    const UiServices& services() const { return m_services; }
    ConverterApp& app() const { return *m_hInstance; }
    bool initialized() const { return m_bInitialized; }

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

public slots:
    void accept() override;
    void reject() override;

private:
    void BuildTemplate();
    void WireMessageTable();
    void SetTabOrder();
    void SetText(int id, const QString& text);
    void SetStatusText(const QString& text);

    UiServices m_services;
    QLineEdit* m_editOutputFile = nullptr;
    QLineEdit* m_editCustomRate = nullptr;
    QLabel* m_stcFileLine = nullptr;
    QPushButton* m_btnCloseMedia = nullptr;
    QPushButton* m_btnExit = nullptr;
    QGroupBox* m_grpWaveFormat = nullptr;
    std::map<int, QWidget*> m_controls;
    bool m_bInitialized = false;
    bool m_bInitDone = false;
    bool m_bClosing = false;

public:
    // ---- conversion state (convert/) ----
    QBasicTimer m_convertTimer;
    // The share of the selection written, shown beside the status line while
    // converting; refreshed more often than the used-time count.
    QProgressBar* m_prgConvert = nullptr;
    QBasicTimer m_progressTimer;
    QElapsedTimer m_convertClock;
    void OnProgressTimer();
    void ShowProgress(bool converting);
    void ShowRefusal(const ConvertRefusal& refusal);
    void ShowNotices(const std::vector<ConversionNotice>& notices);
    // The converting state ends: button, timers, progress.
    void FinishConversion();
    // Whether the open media has a sound stream, as measured when it was opened.
    bool m_bMediaHasSound = true;
    struct EngineDeleter {
        void operator()(ConversionEngine* p) const;
    };
    std::unique_ptr<ConversionEngine, EngineDeleter> m_pEngine;
};

}  // namespace veltrano
