#include "app/ConverterDialog.h"

#include "app/AboutDialog.h"
#include "app/Accessibility.h"
#include "app/ConverterApp.h"
#include "app/ElidedLabel.h"
#include "app/Resources.h"
#include "app/ThumbSlider.h"
#include "engine/ConversionEngine.h"
#include "media/GraphEvents.h"
#include "media/MediaProbe.h"
#include "media/MediaSystem.h"
#include "preview/PreviewPlayer.h"
#include "ui/WindowMessages.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>

namespace veltrano {

namespace {

constexpr const char* kControlIdProperty = "controlId";

QPushButton* MakeButton(QWidget* parent, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QLabel* MakeSunkenStatic(QWidget* parent, Qt::Alignment align, bool elided = false) {
    QLabel* l = elided ? new ElidedLabel(parent) : new QLabel(parent);
    l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    l->setAlignment(align | Qt::AlignVCenter);
    return l;
}

template <std::size_t N>
QComboBox* MakeDropDownList(QWidget* parent, const std::array<const char*, N>& rows) {
    auto* c = new QComboBox(parent);
    c->setEditable(false);
    for (const char* r : rows) c->addItem(QString::fromUtf8(r));
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return c;
}

}  // namespace

ConverterDialog::ConverterDialog(ConverterApp& app, UiServices services, QWidget* parent)
    : QDialog(parent), m_hInstance(&app), m_hIcon(ApplicationIcon()), m_services(services) {
    BuildTemplate();
    WireMessageTable();
}

// A measurement still under way is abandoned with the dialog.
ConverterDialog::~ConverterDialog() = default;

void ConverterDialog::BuildTemplate() {
    setObjectName(QStringLiteral("ConverterDialog"));
    setProperty(kControlIdProperty, IDD_CONVERTER_DIALOG);
    setWindowTitle(QStringLiteral("Veltrano"));
    // Caption, system menu and minimise box; no maximise, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setAcceptDrops(true);

    m_btnHelp = MakeButton(this, "Help");
    m_stcStatus = MakeSunkenStatic(this, Qt::AlignLeft, /*elided=*/true);
    m_btnConvert = MakeButton(this, "Convert");
    m_btnOpenMedia = MakeButton(this, "Open Media File");
    m_sldPosition = new ThumbSlider(this);
    m_btnCloseMedia = MakeButton(this, "Close");
    m_btnPlay = MakeButton(this, "Play");
    m_btnPause = MakeButton(this, "Pause");
    m_btnStop = MakeButton(this, "Stop");
    m_btnStartTime = MakeButton(this, "Start Time");
    m_btnEndTime = MakeButton(this, "End Time");
    m_stcStartTime = MakeSunkenStatic(this, Qt::AlignHCenter);
    m_stcEndTime = MakeSunkenStatic(this, Qt::AlignHCenter);
    auto* outputLabel = new QLabel(QStringLiteral("Output File"), this);
    m_editOutputFile = new QLineEdit(this);
    m_btnBrowse = MakeButton(this, "Browse");
    m_stcFileLine = new ElidedLabel(this);
    m_btnExit = MakeButton(this, "Exit");
    m_grpWaveFormat = new QGroupBox(QStringLiteral("Wave format"), this);
    auto* rateLabel = new QLabel(QStringLiteral("Samples per second (Hz):"), m_grpWaveFormat);
    m_cboSamplesPerSec = MakeDropDownList(m_grpWaveFormat, kSamplesPerSecRows);
    auto* channelsLabel = new QLabel(QStringLiteral("Channels:"), m_grpWaveFormat);
    m_cboChannels = MakeDropDownList(m_grpWaveFormat, kChannelRows);
    auto* bitsLabel = new QLabel(QStringLiteral("Bits per sample:"), m_grpWaveFormat);
    m_cboBitsPerSample = MakeDropDownList(m_grpWaveFormat, kBitsPerSampleRows);
    m_editCustomRate = new QLineEdit(m_grpWaveFormat);

    const std::pair<QWidget*, std::pair<int, const char*>> controls[] = {
        {m_btnHelp, {ID_HELP, "m_btnHelp"}},
        {m_stcStatus, {IDC_STATUS, "m_stcStatus"}},
        {m_btnConvert, {IDC_CONVERT, "m_btnConvert"}},
        {m_btnOpenMedia, {IDC_OPEN_MEDIA, "m_btnOpenMedia"}},
        {m_sldPosition, {IDC_POSITION, "m_sldPosition"}},
        {m_btnCloseMedia, {IDC_CLOSE_MEDIA, "m_btnCloseMedia"}},
        {m_btnPlay, {IDC_PLAY, "m_btnPlay"}},
        {m_btnPause, {IDC_PAUSE, "m_btnPause"}},
        {m_btnStop, {IDC_STOP, "m_btnStop"}},
        {m_btnStartTime, {IDC_START_TIME, "m_btnStartTime"}},
        {m_btnEndTime, {IDC_END_TIME, "m_btnEndTime"}},
        {m_stcStartTime, {IDC_START_TIME_LABEL, "m_stcStartTime"}},
        {m_stcEndTime, {IDC_END_TIME_LABEL, "m_stcEndTime"}},
        {outputLabel, {IDC_OUTPUT_LABEL, "m_stcOutputLabel"}},
        {m_editOutputFile, {IDC_OUTPUT_FILE, "m_strOutputFile"}},
        {m_btnBrowse, {IDC_BROWSE, "m_btnBrowse"}},
        {m_stcFileLine, {IDC_FILE_LINE, "m_stcFileLine"}},
        {m_btnExit, {IDCANCEL, "m_btnExit"}},
        {m_cboSamplesPerSec, {IDC_SAMPLES_PER_SEC, "m_cboSamplesPerSec"}},
        {m_cboChannels, {IDC_CHANNELS, "m_cboChannels"}},
        {m_cboBitsPerSample, {IDC_BITS_PER_SAMPLE, "m_cboBitsPerSample"}},
        {m_editCustomRate, {IDC_CUSTOM_SAMPLES_PER_SEC, "m_nCustomSamplesPerSec"}},
    };
    for (const auto& [w, idName] : controls) {
        w->setProperty(kControlIdProperty, idName.first);
        w->setObjectName(QString::fromLatin1(idName.second));
    }
    m_grpWaveFormat->setObjectName(QStringLiteral("m_grpWaveFormat"));
    rateLabel->setObjectName(QStringLiteral("m_stcSamplesPerSecLabel"));
    channelsLabel->setObjectName(QStringLiteral("m_stcChannelsLabel"));
    bitsLabel->setObjectName(QStringLiteral("m_stcBitsPerSampleLabel"));

    outputLabel->setBuddy(m_editOutputFile);
    rateLabel->setBuddy(m_cboSamplesPerSec);
    channelsLabel->setBuddy(m_cboChannels);
    bitsLabel->setBuddy(m_cboBitsPerSample);
    DescribeForAssistiveTechnology();

    m_stcStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_stcFileLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // No length limit on the edit: a pasted or typed path that the buffer
    // cannot hold is refused whole at Convert, never cut to another name.
    m_editOutputFile->installEventFilter(this);  // a dropped file gives its path, not its URL
    m_editCustomRate->setMaxLength(127);
    rateLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    channelsLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    bitsLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // Time labels wide enough for "000:00:00" so a long file never clips them.
    const int timeWidth = fontMetrics().horizontalAdvance(QStringLiteral("000:00:00")) + 16;
    m_stcStartTime->setMinimumWidth(timeWidth);
    m_stcEndTime->setMinimumWidth(timeWidth);
    m_editCustomRate->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 12);
    m_stcFileLine->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("x")) * 44);
    m_stcStatus->setMinimumHeight(fontMetrics().height() + 6);
    m_stcStatus->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("x")) * 30);

    // The template's arrangement, row by row.
    auto* top = new QVBoxLayout(this);
    top->setSpacing(8);
    top->setContentsMargins(11, 11, 11, 8);

    auto* openRow = new QHBoxLayout;
    openRow->addWidget(m_btnOpenMedia);
    openRow->addSpacing(6);
    openRow->addWidget(m_stcFileLine, 1);
    top->addLayout(openRow);

    top->addWidget(m_sldPosition);

    auto* playRow = new QHBoxLayout;
    playRow->addWidget(m_btnPlay);
    playRow->addStretch(1);
    playRow->addWidget(m_btnPause);
    playRow->addStretch(1);
    playRow->addWidget(m_btnStop);
    top->addLayout(playRow);

    auto* selectionRow = new QHBoxLayout;
    selectionRow->addWidget(m_btnStartTime);
    selectionRow->addWidget(m_stcStartTime);
    selectionRow->addStretch(1);
    selectionRow->addWidget(m_btnEndTime);
    selectionRow->addWidget(m_stcEndTime);
    selectionRow->addStretch(0);
    top->addLayout(selectionRow);

    auto* grid = new QGridLayout(m_grpWaveFormat);
    grid->setHorizontalSpacing(10);
    grid->addWidget(rateLabel, 0, 0);
    grid->addWidget(m_cboSamplesPerSec, 0, 1);
    grid->addWidget(m_editCustomRate, 0, 2);
    grid->addWidget(channelsLabel, 1, 0);
    grid->addWidget(m_cboChannels, 1, 1);
    grid->addWidget(bitsLabel, 2, 0);
    grid->addWidget(m_cboBitsPerSample, 2, 1);
    grid->setColumnStretch(3, 1);
    // Hiding the custom edit must not move the lists.
    QSizePolicy keep = m_editCustomRate->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_editCustomRate->setSizePolicy(keep);
    top->addWidget(m_grpWaveFormat);

    top->addSpacing(4);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(outputLabel);
    outputRow->addWidget(m_editOutputFile, 1);
    outputRow->addWidget(m_btnBrowse);
    top->addLayout(outputRow);

    auto* commandRow = new QHBoxLayout;
    commandRow->addWidget(m_btnConvert);
    commandRow->addSpacing(16);
    commandRow->addWidget(m_btnHelp);
    commandRow->addStretch(1);
    commandRow->addWidget(m_btnCloseMedia);
    commandRow->addWidget(m_btnExit);
    top->addLayout(commandRow);

    m_prgConvert = new QProgressBar(this);
    m_prgConvert->setObjectName(QStringLiteral("m_prgConvert"));
    m_prgConvert->setAccessibleName(QStringLiteral("Conversion progress"));
    m_prgConvert->setRange(0, 100);
    m_prgConvert->setValue(0);  // a value from the start, for whoever reads it
    m_prgConvert->setTextVisible(true);
    m_prgConvert->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("100%, about 00:00:00 left")) + 24);
    m_prgConvert->hide();
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_stcStatus, 1);
    statusRow->addWidget(m_prgConvert);
    top->addLayout(statusRow);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // Equal widths for the buttons of a row, as the template draws them.
    const int buttonWidth = std::max({m_btnPlay->sizeHint().width(), m_btnStartTime->sizeHint().width(),
                                      m_btnEndTime->sizeHint().width(), m_btnHelp->sizeHint().width()});
    for (QPushButton* b : {m_btnPlay, m_btnPause, m_btnStop, m_btnStartTime, m_btnEndTime, m_btnHelp})
        b->setMinimumWidth(buttonWidth);
    m_btnConvert->setMinimumWidth(std::max(buttonWidth, m_btnConvert->sizeHint().width()) + 24);

    SetTabOrder();
}

void ConverterDialog::DescribeForAssistiveTechnology() {
    // Labels name the field beside them (buddies); captionless controls get a
    // name of their own. Labels whose text changes have no fixed name: their
    // text is what is read, and the description says what they are.
    m_sldPosition->setAccessibleName(QStringLiteral("Position"));
    m_stcStatus->setAccessibleDescription(QStringLiteral("Status line"));
    m_stcStartTime->setAccessibleDescription(QStringLiteral("Start time of the selection"));
    m_stcEndTime->setAccessibleDescription(QStringLiteral("End time of the selection"));
    m_stcFileLine->setAccessibleDescription(QStringLiteral("Media file, position and length"));
    m_editOutputFile->setAccessibleName(QStringLiteral("Output File"));
    m_editCustomRate->setAccessibleName(QStringLiteral("Custom samples per second"));
    m_cboSamplesPerSec->setAccessibleName(QStringLiteral("Samples per second (Hz):"));
    m_cboChannels->setAccessibleName(QStringLiteral("Channels:"));
    m_cboBitsPerSample->setAccessibleName(QStringLiteral("Bits per sample:"));
    // The two "Stop" buttons of a conversion and of the preview tell themselves apart.
    ShowConvertCaption(false);
    m_btnPlay->setAccessibleDescription(QStringLiteral("Plays the preview"));
    m_btnPause->setAccessibleDescription(QStringLiteral("Pauses the preview"));
    m_btnStop->setAccessibleDescription(QStringLiteral("Stops the preview and goes back to its start"));
    m_btnStartTime->setAccessibleDescription(QStringLiteral("Marks the preview's position as the start of the selection"));
    m_btnEndTime->setAccessibleDescription(QStringLiteral("Marks the preview's position as the end of the selection"));
}

void ConverterDialog::SetTabOrder() {
    // Template order; hidden and non-focusable controls are skipped by Qt.
    QWidget* order[] = {m_btnHelp,      m_btnConvert, m_btnOpenMedia,   m_sldPosition,  m_btnCloseMedia,
                        m_btnPlay,      m_btnPause,   m_btnStop,        m_btnStartTime, m_btnEndTime,
                        m_editOutputFile, m_btnBrowse, m_btnExit,       m_cboSamplesPerSec, m_cboChannels,
                        m_cboBitsPerSample, m_editCustomRate};
    for (std::size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void ConverterDialog::WireMessageTable() {
    connect(m_btnConvert, &QPushButton::clicked, this, [this] { OnConvert(); });
    connect(m_btnOpenMedia, &QPushButton::clicked, this, [this] { OnOpenMediaFile(); });
    connect(m_btnHelp, &QPushButton::clicked, this, [this] { OnHelp(); });
    // The held flag is the application's; the trackbar only tells what the button did.
    connect(m_sldPosition, &ThumbSlider::thumbPressed, this, [this] { m_hInstance->SetThumbHeld(true); });
    connect(m_sldPosition, &ThumbSlider::thumbReleased, this, [this] { m_hInstance->SetThumbHeld(false); });
    connect(m_sldPosition, &ThumbSlider::releasedCapture, this, [this] { OnTrackbarReleased(); });
    connect(m_sldPosition, &ThumbSlider::stepChosen, this, [this] { OnTrackbarReleased(); });
    connect(m_btnBrowse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(m_btnCloseMedia, &QPushButton::clicked, this, [this] { OnCloseMedia(); });
    connect(m_btnPlay, &QPushButton::clicked, this, [this] { OnPlay(); });
    connect(m_btnPause, &QPushButton::clicked, this, [this] { OnPause(); });
    connect(m_btnStop, &QPushButton::clicked, this, [this] { OnStop(); });
    connect(m_btnStartTime, &QPushButton::clicked, this, [this] { OnStartTime(); });
    connect(m_btnEndTime, &QPushButton::clicked, this, [this] { OnEndTime(); });
    connect(m_cboSamplesPerSec, &QComboBox::activated, this, [this] { OnSamplesPerSecChange(); });
    connect(m_btnExit, &QPushButton::clicked, this, [this] { reject(); });
}

void ConverterDialog::SetStatusText(const QString& text) { ShowLiveText(*m_stcStatus, text); }

void ConverterDialog::DoDataExchange(bool toMembers) {
    if (toMembers) m_strOutputFile = m_editOutputFile->text();
    else m_editOutputFile->setText(m_strOutputFile);
}

void ConverterDialog::showEvent(QShowEvent* e) {
    // The dialog initialises once, when it is first shown, as a modal run does.
    if (!m_bInitDone) {
        m_bInitDone = true;
        (void)OnInitDialog();  // a failed start-up has told why; the dialog stays open
    }
    QDialog::showEvent(e);
}

bool ConverterDialog::OnInitDialog() {
    // The still empty output path goes into its edit.
    DoDataExchange(false);
    // The About item lives in the dialog's context menu (contextMenuEvent).
    setWindowIcon(m_hIcon);
    m_osvi.dwOSVersionInfoSize = kOsVersionInfoSize;
    if (!GetVersionEx(m_osvi)) m_services.boxes->DialogBox("Error", "Can get Windows Version");
    // No conversion is held at start-up (the engine is created by Convert).
    m_pEngine.reset();
    // The media framework, initialised once by the program before the dialog.
    if (InitializeMedia().failed()) {
        m_services.boxes->OwnerlessBox("Could not initialize COM library.", "Error");
        return false;
    }
    // The output path: the stored one, else output_new.wav in the music folder.
    const QString fixedDefault = QDir::homePath() + QLatin1Char('/') + QString::fromLatin1(kDefaultOutputFileName);
    m_strOutputFile = GetDefaultOutputPath(QString::fromLatin1(kSectionOption), QString::fromLatin1(kEntryOutputFile),
                                           fixedDefault, CSIDL_MYMUSIC);
    CopyText(m_szOutputPath, m_strOutputFile.toStdString());
    m_editOutputFile->setText(m_strOutputFile);
    SetStatusText(QStringLiteral("Output File: %1").arg(QString::fromStdString(std::string(TextOf(m_szOutputPath)))));
    m_sldPosition->setRange(0, kTrackbarSteps);
    m_sldPosition->setValue(0);
    ShowLiveText(*m_stcStartTime, QStringLiteral("00:00:00"));
    ShowLiveText(*m_stcEndTime, QStringLiteral("00:00:00"));
    EnableMediaControls(false);
    // Close and Exit exist for their commands only.
    m_btnCloseMedia->hide();
    m_btnExit->hide();
    // The wave format chosen last time.
    SettingsStore& settings = m_hInstance->settings();
    const QString option = QString::fromLatin1(kSectionOption);
    m_nIndexSamplesPerSec = settings.GetProfileInt(option, QString::fromLatin1(kEntrySamplesPerSec), 1);
    m_nIndexChannels = settings.GetProfileInt(option, QString::fromLatin1(kEntryChannels), 0);
    m_nIndexBitsPerSample = settings.GetProfileInt(option, QString::fromLatin1(kEntryBitsPerSample), 0);
    m_nCustomSamplesPerSec = settings.GetProfileInt(option, QString::fromLatin1(kEntryCustomSamplesPerSec), 44100);
    auto selectRow = [](QComboBox* c, int row) { c->setCurrentIndex(row >= 0 && row < c->count() ? row : -1); };
    selectRow(m_cboSamplesPerSec, m_nIndexSamplesPerSec);
    selectRow(m_cboChannels, m_nIndexChannels);
    selectRow(m_cboBitsPerSample, m_nIndexBitsPerSample);
    m_editCustomRate->setText(QString::number(m_nCustomSamplesPerSec));
    m_editCustomRate->setVisible(m_nIndexSamplesPerSec == kCustomRateRow);
    // The window system sets the focus.
    return true;
}

void ConverterDialog::OnSysCommand(int commandId) {
    if ((commandId & 0xFFF0) == IDM_ABOUTBOX) {
        AboutDialog about(this);
        about.exec();
    }
}

void ConverterDialog::contextMenuEvent(QContextMenuEvent* e) {
    // The About item stands where the window menu would hold it.
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromUtf8(kAboutMenuText));
    about->setData(IDM_ABOUTBOX);
    if (QAction* chosen = menu.exec(e->globalPos()); chosen == about) OnSysCommand(IDM_ABOUTBOX);
}

void ConverterDialog::OnClose() {
    // Never end while a conversion writes: its output would be left broken.
    if (m_bConverting == 1) {
        m_services.boxes->AppBox("Please first stop Convert");
        return;
    }
    // The media framework stays up until the process ends (objects may still live).
    m_strOutputFile = m_editOutputFile->text();
    CopyText(m_szOutputPath, m_strOutputFile.toStdString());
    // The five settings, in this order.
    SettingsStore& settings = m_hInstance->settings();
    const QString option = QString::fromLatin1(kSectionOption);
    settings.WriteProfileString(option, QString::fromLatin1(kEntryOutputFile), m_strOutputFile);
    ReadWaveFormatChoice();
    settings.WriteProfileInt(option, QString::fromLatin1(kEntrySamplesPerSec), m_nIndexSamplesPerSec);
    settings.WriteProfileInt(option, QString::fromLatin1(kEntryChannels), m_nIndexChannels);
    settings.WriteProfileInt(option, QString::fromLatin1(kEntryBitsPerSample), m_nIndexBitsPerSample);
    settings.WriteProfileInt(option, QString::fromLatin1(kEntryCustomSamplesPerSec), m_nCustomSamplesPerSec);
    // An opening still under way is abandoned with the dialog.
    QDialog::reject();
}

void ConverterDialog::reject() {
    // Close box, Alt+F4 and Esc all take the same road.
    OnClose();
}

void ConverterDialog::accept() { OnClose(); }

void ConverterDialog::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // No button is a default one: Enter presses the focused button and
        // does nothing anywhere else, so a typed path or rate never ends the
        // dialog with the open file and its marks.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
        return;
    }
    QDialog::keyPressEvent(e);
}

bool ConverterDialog::event(QEvent* e) {
    const int type = static_cast<int>(e->type());
    if (type == kPlayerTickEventType) {
        RefreshPosition();
        return true;
    }
    if (type == kGraphNotifyEventType) {
        OnGraphNotify();
        return true;
    }
    if (type == kCommandEventType) {
        if (static_cast<CommandEvent*>(e)->id() == IDC_CLOSE_MEDIA) OnCloseMedia();
        return true;
    }
    if (type == kProbeDoneEventType) {
        OnDurationMeasured(*static_cast<ProbeDoneEvent*>(e));
        return true;
    }
    if (type == kPreviewOpenedEventType) {
        OnPreviewOpened(*static_cast<PreviewOpenedEvent*>(e));
        return true;
    }
    return QDialog::event(e);
}

ConverterDialogState ConverterDialog::StateForTests() const {
    ConverterDialogState s;
    s.clipCount = m_nClipCount;
    s.clipPath = TextOf(m_szClipPath[0]);
    s.clipDuration = m_rtClipDuration[0];
    s.audioCount = m_nAudioCount;
    s.audioPath = TextOf(m_szAudioPath[0]);
    s.startTime = m_rtStartTime;
    s.endTime = m_rtEndTime;
    s.sliderPos = m_nSliderPos;
    s.converting = m_bConverting != 0;
    s.usedSeconds = m_nUsedSeconds;
    s.convertTimerId = m_convertTimer.isActive() ? m_convertTimer.timerId() : 0;
    s.outputFile = m_strOutputFile;
    s.outputPath = TextOf(m_szOutputPath);
    s.indexSamplesPerSec = m_nIndexSamplesPerSec;
    s.indexChannels = m_nIndexChannels;
    s.indexBitsPerSample = m_nIndexBitsPerSample;
    s.customSamplesPerSec = m_nCustomSamplesPerSec;
    s.errorText = TextOf(m_szErrorText);
    s.mediaHasSound = m_bMediaHasSound;
    s.opening = m_nProbeTicket != 0 || m_nPreviewSerial != 0;
    if (m_pEngine) {
        const ConversionJob& job = m_pEngine->job();
        s.conversionReleased = !job.pTimeline && !job.pRenderEngine && !job.pControl && !job.pEvent;
    }
    return s;
}

void ConverterDialog::timerEvent(QTimerEvent* e) {
    if (e->timerId() == m_convertTimer.timerId()) {
        OnConvertTimer(kConvertTimerId);
        return;
    }
    if (e->timerId() == m_progressTimer.timerId()) {
        OnProgressTimer();
        return;
    }
    QDialog::timerEvent(e);
}

}  // namespace veltrano
