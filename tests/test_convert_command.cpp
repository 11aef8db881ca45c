// The dialog's Convert command: its checks in order, the replace question, the
// converting state, the used-time line, Stop, completion and failure.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/OutputPath.h"
#include "core/Paths.h"
#include "engine/ConversionEngine.h"
#include "engine/ConvertChecks.h"
#include "tests/support/RecordingUiServices.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace veltrano;
using namespace veltrano::test;

namespace {

std::string ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

class ConvertCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home_ = new QTemporaryDir();
        qputenv("HOME", home_->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home_->path() + "/.config").toUtf8());
        QDir(home_->path()).mkpath("Music");
        ASSERT_TRUE(MakeAudio(Path("tone.flac"), AudioKind::Flac, Tone(2.0, 48000, 2, 440.0)));
        ASSERT_TRUE(WriteWavFile(Path("long.wav"), Tone(240.0, 48000, 2, 440.0, 0.3)));
        VideoSpec silent;
        silent.withAudio = false;
        ASSERT_TRUE(MakeVideo(Path("silent.mp4"), silent));
    }
    static void TearDownTestSuite() {
        delete home_;
        home_ = nullptr;
    }
    static std::string Path(const std::string& name) { return home_->filePath(QString::fromStdString(name)).toStdString(); }

    void SetUp() override {
        app_ = std::make_unique<ConverterApp>(QStringLiteral("/tmp/x/veltrano"));
        app_->settings().SetFilePath(home_->filePath("settings.ini"));
        dlg_ = std::make_unique<ConverterDialog>(*app_, UiServices{&boxes_, &files_, &help_});
        dlg_->show();
        boxes_.clear();
    }
    void TearDown() override {
        if (dlg_->m_bConverting) dlg_->StopConversion();
        dlg_.reset();
    }

    // What a successful open leaves behind.
    void Open(const std::string& path, double seconds) {
        dlg_->m_nClipCount = 1;
        CopyText(dlg_->m_szClipPath[0], path);
        CopyText(dlg_->m_szAudioPath[0], path);
        dlg_->m_nAudioCount = 1;
        dlg_->m_rtStartTime = 0;
        dlg_->m_rtEndTime = MediaTime(seconds * kUnitsPerSecond);
    }
    void SetOutput(const std::string& path) { dlg_->outputEdit()->setText(QString::fromStdString(path)); }
    void SetCustomRate(const QString& text) {
        dlg_->m_cboSamplesPerSec->setCurrentIndex(kCustomRateRow);
        dlg_->customRateEdit()->setText(text);
    }
    bool WaitUntilIdle(int ms = 20000) {
        return QTest::qWaitFor([&] { return dlg_->m_bConverting == 0; }, ms);
    }
    QString Status() const { return dlg_->m_stcStatus->text(); }
    QString Caption() const { return dlg_->m_btnConvert->text(); }

    static QTemporaryDir* home_;
    RecordingMessageBoxes boxes_;
    RecordingFileDialogs files_;
    RecordingHelpLauncher help_;
    std::unique_ptr<ConverterApp> app_;
    std::unique_ptr<ConverterDialog> dlg_;
};

QTemporaryDir* ConvertCommand::home_ = nullptr;

TEST_F(ConvertCommand, ConvertsTheSelectionAndReportsDone) {
    Open(Path("tone.flac"), 2.0);
    dlg_->m_rtStartTime = 5'000'000;
    SetOutput(Path("done.wav"));
    dlg_->m_cboSamplesPerSec->setCurrentIndex(5);  // 8000
    dlg_->m_cboChannels->setCurrentIndex(1);        // mono
    dlg_->m_cboBitsPerSample->setCurrentIndex(1);   // 8 bits
    dlg_->OnConvert();
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(dlg_->m_bConverting, 1);
    EXPECT_EQ(Caption(), "Stop");
    EXPECT_TRUE(dlg_->m_convertTimer.isActive());
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_FALSE(dlg_->m_convertTimer.isActive());
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + Path("done.wav"));
    const ConversionJob& job = dlg_->m_pEngine->job();
    EXPECT_FALSE(job.pTimeline || job.pRenderEngine || job.pControl || job.pEvent);
    const WavFile w = ReadWavFile(Path("done.wav"));
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.sampleRate, 8000u);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.bitsPerSample, 8);
    EXPECT_EQ(w.frames(), 12000u);
    EXPECT_NEAR(ToneFrequency(w.channel(0), 8000), 440.0, 0.5);
}

TEST_F(ConvertCommand, ChecksComeInTheirOrder) {
    // Nothing open: only that is said, whatever else is wrong.
    SetOutput(Path("tone.flac"));
    dlg_->m_rtEndTime = 0;
    dlg_->OnConvert();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].kind, BoxKind::Application);
    EXPECT_EQ(boxes_.shown()[0].text, kOpenMediaFirstText);
    EXPECT_EQ(boxes_.shown()[0].icon, BoxIcon::Warning);

    // An empty selection comes before the output (which is the source here) and the rate.
    boxes_.clear();
    Open(Path("tone.flac"), 2.0);
    dlg_->m_rtStartTime = dlg_->m_rtEndTime;
    SetCustomRate("0");
    dlg_->OnConvert();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].kind, BoxKind::DialogOwned);
    EXPECT_EQ(boxes_.shown()[0].caption, "veltrano");
    EXPECT_EQ(boxes_.shown()[0].text, kEndBeforeStartText);
    EXPECT_EQ(boxes_.shown()[0].icon, BoxIcon::None);
    EXPECT_EQ(dlg_->m_strOutputFile.toStdString(), Path("tone.flac"));  // the edit was read all the same

    // The replace question comes before the rate check; a No ends it there.
    boxes_.clear();
    dlg_->m_rtStartTime = 0;
    const std::string existing = Path("existing.wav");
    ASSERT_TRUE(MakeTextFile(existing, "keep me"));
    SetOutput(existing);
    dlg_->OnConvert();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].caption, "Warning");
    EXPECT_EQ(boxes_.shown()[0].text, existing + " exists. Do you want to replace it?");
    EXPECT_EQ(boxes_.shown()[0].buttons, BoxButtons::YesNo);
    EXPECT_EQ(boxes_.shown()[0].icon, BoxIcon::Warning);
    EXPECT_EQ(ReadAll(existing), "keep me");
    EXPECT_FALSE(dlg_->m_pEngine);

    // After a Yes the rate is checked; its refusal keeps the old file.
    boxes_.clear();
    boxes_.QueueAnswer(BoxAnswer::Yes);
    dlg_->OnConvert();
    ASSERT_EQ(boxes_.texts().size(), 2u);
    EXPECT_EQ(boxes_.shown()[1].caption, "error");
    EXPECT_EQ(boxes_.shown()[1].text, kRateTooSmallText);
    EXPECT_EQ(ReadAll(existing), "keep me");
    EXPECT_EQ(dlg_->m_bConverting, 0);
    EXPECT_EQ(Caption(), "Convert");
}

TEST_F(ConvertCommand, RateRefusals) {
    Open(Path("tone.flac"), 2.0);
    SetOutput(Path("rate.wav"));
    // Whatever row is chosen, the custom number must be above 0.
    for (const QString& text : {QString(""), QString("0"), QString(" -5"), QString("abc")}) {
        boxes_.clear();
        dlg_->m_cboSamplesPerSec->setCurrentIndex(1);
        dlg_->customRateEdit()->setText(text);
        dlg_->OnConvert();
        ASSERT_EQ(boxes_.texts(), std::vector<std::string>{kRateTooSmallText}) << text.toStdString();
    }
    // A rate whose bytes per second do not fit a wave header.
    boxes_.clear();
    SetCustomRate("1500000000");
    dlg_->OnConvert();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].caption, "error");
    EXPECT_EQ(boxes_.shown()[0].text, *WaveFormatRefusal(kCustomRateRow, 0, 0, 1500000000));
    EXPECT_EQ(dlg_->m_bConverting, 0);
}

TEST_F(ConvertCommand, OutputRefusals) {
    Open(Path("tone.flac"), 2.0);
    // A path longer than the buffer is refused, never cut.
    std::string longPath = home_->path().toStdString() + "/";
    while (longPath.size() < 300) longPath += "\xC3\xA9";
    longPath += ".wav";
    SetOutput(longPath);
    dlg_->OnConvert();
    ASSERT_EQ(boxes_.texts(), std::vector<std::string>{kOutputPathTooLongText});
    EXPECT_EQ(boxes_.shown()[0].caption, "Error");

    // The media itself, by its name, a relative name or a link, is never replaced.
    const std::string before = ReadAll(Path("tone.flac"));
    ASSERT_EQ(::symlink(Path("tone.flac").c_str(), Path("link.wav").c_str()), 0);
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(home_->path());
    for (const std::string& out : {Path("tone.flac"), std::string("tone.flac"), std::string("./link.wav")}) {
        boxes_.clear();
        boxes_.SetDefaultYes(true);
        SetOutput(out);
        dlg_->OnConvert();
        ASSERT_EQ(boxes_.texts(), std::vector<std::string>{kOutputIsSourceText}) << out;
    }
    QDir::setCurrent(cwd);
    EXPECT_EQ(ReadAll(Path("tone.flac")), before);

    // A selection too long for a wave file is refused before anything is built.
    boxes_.clear();
    SetOutput(Path("huge.wav"));
    dlg_->m_rtEndTime = MediaTime(7) * 3600 * kUnitsPerSecond;
    dlg_->m_cboSamplesPerSec->setCurrentIndex(1);
    dlg_->customRateEdit()->setText("44100");
    dlg_->OnConvert();
    ASSERT_EQ(boxes_.texts().size(), 1u);
    EXPECT_EQ(boxes_.texts()[0], *OutputSizeRefusal(dlg_->m_rtEndTime, dlg_->CurrentOutputWaveFormat()));
    EXPECT_FALSE(dlg_->m_pEngine);
}

TEST_F(ConvertCommand, MediaWithoutSoundIsRefused) {
    dlg_->OpenChosenMedia(Path("silent.mp4"));
    ASSERT_EQ(dlg_->m_nClipCount, 1);
    SetOutput(Path("silent.wav"));
    dlg_->OnConvert();
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{kNoSoundStreamText});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("silent.wav"))));
}

TEST_F(ConvertCommand, YesReplacesTheFile) {
    Open(Path("tone.flac"), 2.0);
    const std::string out = Path("replace.wav");
    ASSERT_TRUE(MakeTextFile(out, "old"));
    SetOutput(out);
    boxes_.QueueAnswer(BoxAnswer::Yes);
    dlg_->OnConvert();
    ASSERT_TRUE(WaitUntilIdle());
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.frames(), 88200u);
}

TEST_F(ConvertCommand, UsedTimeCountsTicksAndRestartsOnTheNextConversion) {
    Open(Path("long.wav"), 240.0);
    SetOutput(Path("ticks.wav"));
    dlg_->OnConvert();
    ASSERT_EQ(dlg_->m_bConverting, 1);
    const QString before = Status();
    dlg_->OnConvertTimer(kConvertTimerId + 1);  // another timer: nothing
    EXPECT_EQ(Status(), before);
    dlg_->OnConvertTimer(kConvertTimerId);
    EXPECT_EQ(Status(), "Please wait... Used Time: 00:00:01");
    for (int i = 1; i < 3661; ++i) dlg_->OnConvertTimer(kConvertTimerId);
    EXPECT_EQ(Status(), "Please wait... Used Time: 01:01:01");
    dlg_->OnConvert();  // Stop
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(dlg_->m_nUsedSeconds, 0);
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + Path("ticks.wav"));

    boxes_.SetDefaultYes(true);
    dlg_->OnConvert();
    ASSERT_EQ(dlg_->m_bConverting, 1);
    dlg_->OnConvertTimer(kConvertTimerId);
    EXPECT_EQ(Status(), "Please wait... Used Time: 00:00:01");
}

TEST_F(ConvertCommand, StopLeavesACompleteFileAndTheDoneLine) {
    Open(Path("long.wav"), 240.0);
    const std::string out = Path("stop.wav");
    SetOutput(out);
    dlg_->OnConvert();
    ASSERT_EQ(dlg_->m_bConverting, 1);
    // Some sound written, and more to come (a slower build writes nothing in the first milliseconds).
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg_->m_pEngine && dlg_->m_pEngine->ProgressPercent() > 0; }, 20000));
    // An opening that failed meanwhile empties the list: the button says so and the conversion goes on.
    dlg_->m_nClipCount = 0;
    dlg_->OnConvert();
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{kOpenMediaFirstText});
    EXPECT_EQ(dlg_->m_bConverting, 1);
    dlg_->m_nClipCount = 1;
    dlg_->OnConvert();
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(dlg_->m_bConverting, 0);
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + out);
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    EXPECT_GT(w.frames(), 0u);
    EXPECT_LT(w.frames(), 240u * 44100u);
}

TEST_F(ConvertCommand, AWriteFailureEndsTheConversionAsFailed) {
    Open(Path("long.wav"), 240.0);
    const std::string out = Path("full.wav");
    SetOutput(out);
    ASSERT_TRUE(MakeTextFile(out, "old"));
    boxes_.SetDefaultYes(true);
    const ScopedFileSizeLimit diskFull(256 * 1024);
    dlg_->OnConvert();
    ASSERT_EQ(dlg_->m_bConverting, 1);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_FALSE(dlg_->m_convertTimer.isActive());
    EXPECT_TRUE(Status().startsWith("Conversion failed: ")) << Status().toStdString();
    EXPECT_FALSE(Status().contains("Done"));
    ASSERT_EQ(boxes_.shown().size(), 2u);  // the replace question, then the failure
    EXPECT_EQ(boxes_.shown()[1].kind, BoxKind::Application);
    EXPECT_EQ(boxes_.shown()[1].text.rfind("The conversion failed: ", 0), 0u);
    EXPECT_STRNE(dlg_->m_szErrorText, "");
    // What was written stays readable.
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
}

TEST_F(ConvertCommand, ABuildFailureLeavesTheDialogIdle) {
    Open(Path("tone.flac"), 2.0);
    SetOutput(Path("no/such/folder/out.wav"));
    dlg_->OnConvert();
    // One failure, one box: the step's text, and the reason under it.
    ASSERT_EQ(boxes_.texts(), std::vector<std::string>{"can not pControl->Run()!!!"});
    EXPECT_EQ(boxes_.shown()[0].detail, std::string(dlg_->m_szErrorText));
    EXPECT_NE(boxes_.shown()[0].detail.find("out.wav"), std::string::npos) << boxes_.shown()[0].detail;
    EXPECT_EQ(dlg_->m_bConverting, 0);
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_FALSE(dlg_->m_convertTimer.isActive());

    // No audio source listed: the timeline has no group.
    boxes_.clear();
    SetOutput(Path("nogroup.wav"));
    dlg_->m_nAudioCount = 0;
    dlg_->OnConvert();
    EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Could not GetGroupCount( &Groups )"});
    EXPECT_EQ(Caption(), "Convert");
}

}  // namespace
