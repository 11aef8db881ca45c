// The dialog's Convert command: its checks in order, the replace question, the
// converting state, the used-time line, Stop, completion and failure.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "app/OutputPath.h"
#include "core/Paths.h"
#include "engine/ConversionEngine.h"
#include "engine/ConvertChecks.h"
#include "preview/PreviewPlayer.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>
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
        media_ = new QTemporaryDir();
        ASSERT_TRUE(MakeAudio(Path("tone.flac"), AudioKind::Flac, Tone(2.0, 48000, 2, 440.0)));
        ASSERT_TRUE(WriteWavFile(Path("long.wav"), Tone(240.0, 48000, 2, 440.0, 0.3)));
        VideoSpec silent;
        silent.withAudio = false;
        ASSERT_TRUE(MakeVideo(Path("silent.mp4"), silent));
    }
    static void TearDownTestSuite() {
        delete media_;
        media_ = nullptr;
    }
    static std::string Path(const std::string& name) { return media_->filePath(QString::fromStdString(name)).toStdString(); }

    void SetUp() override { h.Open(); }
    ConverterDialog& d() { return h.dialog(); }

    // What a successful open leaves behind: the whole file listed and selected.
    void Open(const std::string& path) {
        ASSERT_TRUE(h.OpenMedia(path));
        ASSERT_EQ(h.state().clipCount, 1);
        h.boxes.clear();
    }
    // A mark set as Start Time or End Time sets it, at a place of the preview.
    void Mark(const char* button, MediaTime t) {
        ASSERT_TRUE(g_pPreviewPlayer->SeekTo(t).succeeded());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            g_pPreviewPlayer->RefreshPositions();
            return std::llabs(g_pPreviewPlayer->m_rtCurrentPosition - t) < kUnitsPerSecond / 100;
        }, 3000));
        Button(d(), button)->click();
    }
    void SetCustomRate(const QString& text) {
        Choose(List(d(), "m_cboSamplesPerSec"), kCustomRateRow);
        Edit(d(), "m_nCustomSamplesPerSec")->setText(text);
    }
    void Convert() { h.PressConvert(); }
    QString Status() { return Label(d(), "m_stcStatus")->text(); }
    QString Caption() { return Button(d(), "m_btnConvert")->text(); }

    static QTemporaryDir* media_;
    DialogHarness h;
};

QTemporaryDir* ConvertCommand::media_ = nullptr;

TEST_F(ConvertCommand, ConvertsTheSelectionAndReportsDone) {
    Open(Path("tone.flac"));
    Mark("m_btnStartTime", 5'000'000);  // to the end of the file
    h.SetOutput(h.PathInHome("done.wav"));
    Choose(List(d(), "m_cboSamplesPerSec"), 5);  // 8000
    Choose(List(d(), "m_cboChannels"), 1);       // mono
    Choose(List(d(), "m_cboBitsPerSample"), 1);  // 8 bits
    Convert();
    EXPECT_TRUE(h.boxes.shown().empty());
    EXPECT_TRUE(h.state().converting);
    EXPECT_EQ(Caption(), "Stop");
    EXPECT_NE(h.state().convertTimerId, 0);
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_EQ(h.state().convertTimerId, 0);
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + h.PathInHome("done.wav"));
    EXPECT_TRUE(h.state().conversionReleased);
    const WavFile w = ReadWavFile(h.PathInHome("done.wav"));
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.sampleRate, 8000u);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.bitsPerSample, 8);
    EXPECT_EQ(w.frames(), 12000u);
    EXPECT_NEAR(ToneFrequency(w.channel(0), 8000), 440.0, 0.5);
}

// The rows added to the lists reach the file: the source's channels in their
// places and 32-bit float; 24 bits with the seed's stereo.
TEST_F(ConvertCommand, TheWiderRowsReachTheFile) {
    const std::string surround = Path("surround.flac");
    ASSERT_TRUE(MakeAudio(surround, AudioKind::Flac, Tone(1.0, 48000, 6, 440.0, 0.4)));
    struct Case {
        int channelsRow, bitsRow;
        std::uint16_t channels, bits, sampleType;
        std::uint32_t mask;
    } cases[] = {{kSourceChannelsRow, 3, 6, 32, 3, 0x3F}, {0, 2, 2, 24, 1, 0x3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channelsRow) + "/" + std::to_string(c.bitsRow));
        Open(surround);
        const std::string out = h.PathInHome("wide.wav");
        h.SetOutput(out);
        QFile::remove(QString::fromStdString(out));
        Choose(List(d(), "m_cboSamplesPerSec"), 0);  // 48000
        Choose(List(d(), "m_cboChannels"), c.channelsRow);
        Choose(List(d(), "m_cboBitsPerSample"), c.bitsRow);
        Convert();
        ASSERT_TRUE(h.state().converting) << (h.boxes.texts().empty() ? "" : h.boxes.texts()[0]);
        ASSERT_TRUE(WaitUntilIdle(d()));
        EXPECT_EQ(Status().toStdString(), "Done. Output File: " + out);
        const WavFile w = ReadWavFile(out);
        ASSERT_TRUE(w.ok) << w.error;
        EXPECT_EQ(w.formatTag, 0xFFFE);
        EXPECT_EQ(w.sampleType, c.sampleType);
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(w.bitsPerSample, c.bits);
        EXPECT_EQ(w.channelMask, c.mask);
        EXPECT_EQ(w.frames(), 48000u);
        for (int ch = 0; ch < w.channels; ++ch) EXPECT_NEAR(ToneFrequency(w.channel(ch), 48000), 440.0, 0.5) << ch;
    }
}

TEST_F(ConvertCommand, ChecksComeInTheirOrder) {
    // Nothing open: only that is said, whatever else is wrong.
    h.SetOutput(Path("tone.flac"));
    EXPECT_FALSE(Button(d(), "m_btnConvert")->isEnabled());
    Convert();  // the command itself refuses too
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].kind, BoxKind::Application);
    EXPECT_EQ(h.boxes.shown()[0].text, kOpenMediaFirstText);
    EXPECT_EQ(h.boxes.shown()[0].icon, BoxIcon::Warning);

    // An empty selection comes before the output (which is the source here) and the rate.
    Open(Path("tone.flac"));
    Mark("m_btnStartTime", 15'000'000);
    Mark("m_btnEndTime", 15'000'000);
    h.SetOutput(Path("tone.flac"));
    SetCustomRate("0");
    Convert();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].kind, BoxKind::DialogOwned);
    EXPECT_EQ(h.boxes.shown()[0].caption, "veltrano");
    EXPECT_EQ(h.boxes.shown()[0].text, kEndBeforeStartText);
    EXPECT_EQ(h.boxes.shown()[0].icon, BoxIcon::None);
    EXPECT_EQ(h.state().outputFile.toStdString(), Path("tone.flac"));  // the edit was read all the same

    // The replace question comes before the rate check; a No ends it there.
    h.boxes.clear();
    Mark("m_btnStartTime", 0);
    const std::string existing = h.PathInHome("existing.wav");
    ASSERT_TRUE(MakeTextFile(existing, "keep me"));
    h.SetOutput(existing);
    Convert();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].caption, "Warning");
    EXPECT_EQ(h.boxes.shown()[0].text, existing + " exists. Do you want to replace it?");
    EXPECT_EQ(h.boxes.shown()[0].buttons, BoxButtons::YesNo);
    EXPECT_EQ(h.boxes.shown()[0].icon, BoxIcon::Warning);
    EXPECT_EQ(ReadAll(existing), "keep me");
    EXPECT_TRUE(h.state().conversionReleased);
    EXPECT_FALSE(h.state().converting);

    // After a Yes the rate is checked; its refusal keeps the old file.
    h.boxes.clear();
    h.boxes.QueueAnswer(BoxAnswer::Yes);
    Convert();
    ASSERT_EQ(h.boxes.texts().size(), 2u);
    EXPECT_EQ(h.boxes.shown()[1].caption, "error");
    EXPECT_EQ(h.boxes.shown()[1].text, kRateTooSmallText);
    EXPECT_EQ(ReadAll(existing), "keep me");
    EXPECT_FALSE(h.state().converting);
    EXPECT_EQ(Caption(), "Convert");
}

TEST_F(ConvertCommand, RateRefusals) {
    Open(Path("tone.flac"));
    h.SetOutput(h.PathInHome("rate.wav"));
    // Whatever row is chosen, the custom number must be above 0.
    for (const QString& text : {QString(""), QString("0"), QString(" -5"), QString("abc")}) {
        h.boxes.clear();
        Choose(List(d(), "m_cboSamplesPerSec"), 1);
        Edit(d(), "m_nCustomSamplesPerSec")->setText(text);
        Convert();
        ASSERT_EQ(h.boxes.texts(), std::vector<std::string>{kRateTooSmallText}) << text.toStdString();
    }
    // A rate whose bytes per second do not fit a wave header.
    h.boxes.clear();
    SetCustomRate("1500000000");
    Convert();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].caption, "error");
    EXPECT_EQ(h.boxes.shown()[0].text, *WaveFormatRefusal(ComputeOutputWaveFormat(kCustomRateRow, 0, 0, 1500000000)));
    EXPECT_FALSE(h.state().converting);
}

TEST_F(ConvertCommand, OutputRefusals) {
    Open(Path("tone.flac"));
    // A path longer than the buffer is refused, never cut.
    std::string longPath = h.home().toStdString() + "/";
    while (longPath.size() < 300) longPath += "\xC3\xA9";
    longPath += ".wav";
    h.SetOutput(longPath);
    Convert();
    ASSERT_EQ(h.boxes.texts(), std::vector<std::string>{kOutputPathTooLongText});
    EXPECT_EQ(h.boxes.shown()[0].caption, "Error");
    // At the limit the path is taken whole; one byte more is refused, never cut.
    const std::string limitFolder = h.home().toStdString() + "/";
    const std::string atLimit = limitFolder + std::string(259 - limitFolder.size() - 4, 'n') + ".wav";
    ASSERT_EQ(atLimit.size(), 259u);
    h.boxes.clear();
    h.SetOutput(atLimit.substr(0, 255) + "x.wav");  // 260 bytes
    Convert();
    ASSERT_EQ(h.boxes.texts(), std::vector<std::string>{kOutputPathTooLongText});
    h.boxes.clear();
    h.SetOutput(atLimit);
    Convert();
    EXPECT_TRUE(h.boxes.shown().empty());
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_TRUE(ReadWavFile(atLimit).ok);

    // The media itself, by its name, a relative name or a link, is never replaced.
    const std::string before = ReadAll(Path("tone.flac"));
    ASSERT_EQ(::symlink(Path("tone.flac").c_str(), Path("link.wav").c_str()), 0);
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(media_->path());
    for (const std::string& out : {Path("tone.flac"), std::string("tone.flac"), std::string("./link.wav")}) {
        h.boxes.clear();
        h.boxes.SetDefaultYes(true);
        h.SetOutput(out);
        Convert();
        ASSERT_EQ(h.boxes.texts(), std::vector<std::string>{kOutputIsSourceText}) << out;
    }
    QDir::setCurrent(cwd);
    EXPECT_EQ(ReadAll(Path("tone.flac")), before);

    // What is not a regular file is refused where the replace question would
    // come, as an application box, without being opened; it stays as it was.
    SpecialOutputs special;
    ASSERT_TRUE(MakeSpecialOutputs(h.home().toStdString(), special));
    for (const auto& [path, kind] : special.made) {
        h.boxes.clear();
        h.boxes.SetDefaultYes(true);
        h.SetOutput(path);
        Convert();
        ASSERT_EQ(h.boxes.shown().size(), 1u) << path;
        EXPECT_EQ(h.boxes.shown()[0].kind, BoxKind::Application);
        EXPECT_EQ(h.boxes.shown()[0].text, "Cannot write " + path + ": it is " + kind + ", not a regular file.");
        EXPECT_FALSE(h.state().converting);
    }
    ExpectSpecialOutputsUntouched(special);
    RemoveSpecialOutputs(special);
}

TEST_F(ConvertCommand, MediaWithoutSoundIsRefused) {
    d().OpenChosenMedia(Path("silent.mp4"));
    ASSERT_TRUE(WaitForOpening(d()));
    ASSERT_EQ(h.state().clipCount, 1);
    EXPECT_FALSE(h.state().mediaHasSound);
    h.boxes.clear();
    h.SetOutput(h.PathInHome("silent.wav"));
    Convert();
    EXPECT_EQ(h.boxes.texts(), std::vector<std::string>{kNoSoundStreamText});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(h.PathInHome("silent.wav"))));
}

TEST_F(ConvertCommand, YesReplacesTheFile) {
    Open(Path("tone.flac"));
    const std::string out = h.PathInHome("replace.wav");
    ASSERT_TRUE(MakeTextFile(out, "old"));
    h.SetOutput(out);
    h.boxes.QueueAnswer(BoxAnswer::Yes);
    Convert();
    ASSERT_TRUE(WaitUntilIdle(d()));
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.frames(), 88200u);
}

TEST_F(ConvertCommand, UsedTimeCountsTicksAndRestartsOnTheNextConversion) {
    Open(Path("long.wav"));
    h.SetOutput(h.PathInHome("ticks.wav"));
    Convert();
    ASSERT_TRUE(h.state().converting);
    const int timer = h.state().convertTimerId;
    ASSERT_NE(timer, 0);
    const QString before = Status();
    Tick(d(), timer + 1000);  // another timer: nothing
    EXPECT_EQ(Status(), before);
    Tick(d(), timer);
    EXPECT_EQ(Status(), "Please wait... Used Time: 00:00:01");
    for (int i = 1; i < 3661; ++i) Tick(d(), timer);
    EXPECT_EQ(Status(), "Please wait... Used Time: 01:01:01");
    EXPECT_EQ(h.state().usedSeconds, 3661);
    Convert();  // Stop
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_EQ(h.state().usedSeconds, 0);
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + h.PathInHome("ticks.wav"));

    h.boxes.SetDefaultYes(true);
    Convert();
    ASSERT_TRUE(h.state().converting);
    Tick(d(), h.state().convertTimerId);
    EXPECT_EQ(Status(), "Please wait... Used Time: 00:00:01");
}

TEST_F(ConvertCommand, StopLeavesACompleteFileAndTheDoneLine) {
    Open(Path("long.wav"));
    const std::string out = h.PathInHome("stop.wav");
    h.SetOutput(out);
    Convert();
    ASSERT_TRUE(h.state().converting);
    // Some sound written, and more to come (a slower build writes nothing in the first milliseconds).
    auto* progress = d().findChild<QProgressBar*>();
    ASSERT_TRUE(progress);
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->value() > 0; }, 20000));
    Button(d(), "m_btnConvert")->click();  // "Stop"
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + out);
    EXPECT_TRUE(h.boxes.shown().empty());
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    EXPECT_GT(w.frames(), 0u);
    EXPECT_LT(w.frames(), 240u * 44100u);
}

TEST_F(ConvertCommand, AWriteFailureEndsTheConversionAsFailedWithOneBox) {
    Open(Path("long.wav"));
    const std::string out = h.PathInHome("full.wav");
    h.SetOutput(out);
    ASSERT_TRUE(MakeTextFile(out, "old"));
    h.boxes.SetDefaultYes(true);
    const ScopedFileSizeLimit diskFull(256 * 1024);
    Convert();
    ASSERT_TRUE(h.state().converting);
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_EQ(h.state().convertTimerId, 0);
    EXPECT_TRUE(Status().startsWith("Conversion failed: ")) << Status().toStdString();
    EXPECT_FALSE(Status().contains("Done"));
    ASSERT_EQ(h.boxes.shown().size(), 2u);  // the replace question, then the failure
    EXPECT_EQ(h.boxes.shown()[1].kind, BoxKind::Application);
    EXPECT_EQ(h.boxes.shown()[1].text.rfind("The conversion failed: ", 0), 0u);
    EXPECT_NE(h.boxes.shown()[1].detail.find(out), std::string::npos) << "the detail names the file";
    EXPECT_FALSE(h.state().errorText.empty());
    // The file it was to replace is as it was, and nothing else is left.
    EXPECT_EQ(ReadAll(out), "old");
    EXPECT_EQ(QDir(QFileInfo(QString::fromStdString(out)).path()).entryList({"full.wav*"}, QDir::Files),
              QStringList{"full.wav"});
}

TEST_F(ConvertCommand, ABuildFailureIsOneBoxWithItsReasonAndLeavesTheDialogIdle) {
    Open(Path("tone.flac"));
    // A folder that is not there is refused by the checks, in plain words,
    // before anything is built.
    const std::string missing = h.PathInHome("no/such/folder/out.wav");
    h.SetOutput(missing);
    Convert();
    ASSERT_EQ(h.boxes.texts(), std::vector<std::string>{"Cannot write " + missing + ": No such file or directory."});
    EXPECT_EQ(h.boxes.shown()[0].kind, BoxKind::Application);
    EXPECT_FALSE(h.state().converting);
    EXPECT_EQ(Caption(), "Convert");
    EXPECT_EQ(h.state().convertTimerId, 0);
}

TEST_F(ConvertCommand, ConvertGoesOnWhileTheOpenFileStaysOpen) {
    // An opening that fails while a conversion runs changes nothing: the
    // conversion runs on and Stop still stops it.
    Open(Path("long.wav"));
    h.SetOutput(h.PathInHome("kept-going.wav"));
    Convert();
    ASSERT_TRUE(h.state().converting);
    const std::string bad = h.PathInHome("bad.mp3");
    ASSERT_TRUE(MakeTextFile(bad));
    ASSERT_TRUE(h.OpenMedia(bad));
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.state().clipCount, 1);
    EXPECT_TRUE(h.state().converting);
    EXPECT_TRUE(Button(d(), "m_btnConvert")->isEnabled());
    EXPECT_EQ(Caption(), "Stop");
    Button(d(), "m_btnConvert")->click();
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + h.PathInHome("kept-going.wav"));
}

}  // namespace
