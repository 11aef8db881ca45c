// The dialog from opening to the written file: the selection marked on the
// preview is what Convert writes, the progress bar follows the conversion,
// and closing the preview leaves nothing to convert.

#include "app/ConverterDialog.h"
#include "engine/ConvertChecks.h"
#include "core/Progress.h"
#include "ui/WindowMessages.h"
#include "preview/PreviewPlayer.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace veltrano;
using namespace veltrano::test;

namespace {

constexpr MediaTime kSecond = kUnitsPerSecond;

TEST(ProgressText, ShowsTheShareAndOnceKnownTheTimeLeft) {
    EXPECT_FALSE(RemainingSeconds(1500, 50).has_value()) << "too early to tell";
    EXPECT_FALSE(RemainingSeconds(5000, 0).has_value());
    EXPECT_FALSE(RemainingSeconds(5000, 100).has_value());
    EXPECT_EQ(RemainingSeconds(2000, 50), 2);
    EXPECT_EQ(RemainingSeconds(3000, 3), 97);
    EXPECT_EQ(RemainingSeconds(2001, 99), 1) << "rounded up";
    EXPECT_EQ(ProgressText(0, std::nullopt), "0%");
    EXPECT_EQ(ProgressText(25, 3725), "25%, about 01:02:05 left");
}

class DialogConversion : public ::testing::Test {
protected:
    void SetUp() override {
        source = h.PathInHome("clicks.wav");
        // Clicks at 2 s and 5 s in 8 s of silence, 48 kHz stereo.
        ASSERT_TRUE(test::MakeAudio(source, test::AudioKind::Wav, test::Clicks(8.0, {2.0, 5.0})));
        h.Open();
        ASSERT_TRUE(h.OpenMedia(source));
        ASSERT_NE(g_pPreviewPlayer, nullptr);
        g_pPreviewPlayer->RefreshPositions();
        QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    }
    ConverterDialog& d() { return h.dialog(); }
    // Marks the preview's position as the players' poll reports it.
    void MarkAt(MediaTime t, const char* button) {
        ASSERT_TRUE(g_pPreviewPlayer->SeekTo(t).succeeded());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            g_pPreviewPlayer->RefreshPositions();
            return std::llabs(g_pPreviewPlayer->m_rtCurrentPosition - t) < kSecond / 100;
        }, 3000));
        Button(d(), button)->click();
    }
    QString Status() { return Label(d(), "m_stcStatus")->text(); }
    std::string source;
    DialogHarness h;
};

TEST_F(DialogConversion, ConvertsExactlyTheMarkedStretch) {
    MarkAt(1 * kSecond + kSecond / 2, "m_btnStartTime");
    MarkAt(6 * kSecond, "m_btnEndTime");
    EXPECT_EQ(Label(d(), "m_stcStartTime")->text(), QStringLiteral("00:00:01"));
    EXPECT_EQ(Label(d(), "m_stcEndTime")->text(), QStringLiteral("00:00:06"));
    const std::string out = h.PathInHome("stretch.wav");
    h.SetOutput(out);
    Button(d(), "m_btnConvert")->click();
    ASSERT_TRUE(h.state().converting) << (h.boxes.shown().empty() ? "" : h.boxes.shown()[0].text);
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + out);
    const test::WavFile w = test::ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    // 1.5 s to 6 s at the default 44100: 4.5 s, clicks at 0.5 s and 3.5 s.
    EXPECT_NEAR(double(w.frames()), 4.5 * 44100, 1.0);
    const std::vector<float> left = w.channel(0);
    std::vector<std::size_t> peaks;
    for (std::size_t i = 0; i < left.size(); ++i)
        if (std::abs(left[i]) > 0.3 && (peaks.empty() || i - peaks.back() > 4410)) peaks.push_back(i);
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_NEAR(double(peaks[0]), 0.5 * 44100, 2.0);
    EXPECT_NEAR(double(peaks[1]), 3.5 * 44100, 2.0);
}

TEST_F(DialogConversion, AnEndBeforeTheStartIsShownThenRefusedByConvert) {
    MarkAt(5 * kSecond, "m_btnStartTime");
    MarkAt(2 * kSecond, "m_btnEndTime");
    EXPECT_EQ(Label(d(), "m_stcStartTime")->text(), QStringLiteral("00:00:05"));
    EXPECT_EQ(Label(d(), "m_stcEndTime")->text(), QStringLiteral("00:00:02"));
    Button(d(), "m_btnConvert")->click();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].text, "The End Time must be bigger than the Start Time");
    EXPECT_FALSE(h.state().converting);
}

TEST_F(DialogConversion, AfterThePreviewIsClosedConvertRefusesUntilAFileIsOpened) {
    QApplication::postEvent(&d(), new CommandEvent(1056));
    QCoreApplication::sendPostedEvents(&d());
    ASSERT_EQ(g_pPreviewPlayer, nullptr);
    EXPECT_FALSE(Button(d(), "m_btnConvert")->isEnabled());
    h.PressConvert();  // the button is disabled; the command itself refuses too
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].text, "Please open an media file first!");
    ASSERT_TRUE(h.OpenMedia(source));
    h.SetOutput(h.PathInHome("again.wav"));
    Button(d(), "m_btnConvert")->click();
    EXPECT_TRUE(h.state().converting);
    ASSERT_TRUE(WaitUntilIdle(d()));
}

TEST_F(DialogConversion, ProgressShowsWhileConvertingReachesAllAndHides) {
    // A longer file so the bar is seen moving.
    const std::string longer = h.PathInHome("long.wav");
    ASSERT_TRUE(test::MakeAudio(longer, test::AudioKind::Wav, test::Tone(120.0, 48000, 2, 440.0, 0.3)));
    ASSERT_TRUE(h.OpenMedia(longer));
    QProgressBar* bar = ProgressBar(d());
    EXPECT_FALSE(bar->isVisible()) << "hidden while idle";
    h.SetOutput(h.PathInHome("progress.wav"));
    Button(d(), "m_btnConvert")->click();
    ASSERT_TRUE(h.state().converting);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->value(), 0);
    std::vector<int> seen;
    while (h.state().converting && seen.size() < 2000) {
        QTest::qWait(20);
        seen.push_back(bar->value());
        if (h.state().converting) {
            EXPECT_TRUE(bar->isVisible());
        }
    }
    ASSERT_FALSE(h.state().converting);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "progress never goes back";
    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(test::ReadWavFile(h.PathInHome("progress.wav")).frames(), 120u * 44100);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(Status().startsWith(QStringLiteral("Done. Output File: ")));

    // Stopped half way: hidden again, short of 100, and the next run starts from 0.
    h.SetOutput(h.PathInHome("stopped.wav"));
    Button(d(), "m_btnConvert")->click();
    ASSERT_TRUE(h.state().converting);
    EXPECT_EQ(bar->value(), 0);
    Button(d(), "m_btnConvert")->click();  // "Stop"
    EXPECT_FALSE(h.state().converting);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_LT(bar->value(), 100);
}

TEST_F(DialogConversion, ClosingThePreviewWhileConvertingLetsTheConversionFinish) {
    const std::string longer = h.PathInHome("long.wav");
    ASSERT_TRUE(test::MakeAudio(longer, test::AudioKind::Wav, test::Tone(60.0, 48000, 2, 440.0, 0.3)));
    ASSERT_TRUE(h.OpenMedia(longer));
    const std::string out = h.PathInHome("after-close.wav");
    h.SetOutput(out);
    Button(d(), "m_btnConvert")->click();
    ASSERT_TRUE(h.state().converting);
    // The player window closed: the dialog empties, Convert reads "Stop" but is unavailable.
    QApplication::postEvent(&d(), new CommandEvent(1056));
    QCoreApplication::sendPostedEvents(&d(), kCommandEventType);
    EXPECT_EQ(h.state().clipCount, 0);
    EXPECT_FALSE(Button(d(), "m_btnConvert")->isEnabled());
    EXPECT_EQ(Button(d(), "m_btnConvert")->text(), QStringLiteral("Stop"));
    // Its command, sent all the same, says so and leaves the conversion running.
    h.PressConvert();
    EXPECT_EQ(h.boxes.texts(), std::vector<std::string>{"Please open an media file first!"});
    EXPECT_TRUE(h.state().converting);
    ASSERT_TRUE(WaitUntilIdle(d()));
    EXPECT_EQ(Button(d(), "m_btnConvert")->text(), QStringLiteral("Convert"));
    EXPECT_EQ(Status().toStdString(), "Done. Output File: " + out);
    EXPECT_EQ(test::ReadWavFile(out).frames(), 60u * 44100);
    EXPECT_EQ(h.boxes.shown().size(), 1u);
}

TEST_F(DialogConversion, ASourceGoneSinceItWasOpenedIsOneBoxAndNoFile) {
    const std::string gone = h.PathInHome("gone.wav");
    ASSERT_TRUE(test::MakeAudio(gone, test::AudioKind::Wav, test::Tone(2.0, 48000, 2, 440.0, 0.3)));
    ASSERT_TRUE(h.OpenMedia(gone));
    ASSERT_TRUE(QFile::remove(QString::fromStdString(gone)));
    const std::string out = h.PathInHome("from-gone.wav");
    h.SetOutput(out);
    Button(d(), "m_btnConvert")->click();
    ASSERT_EQ(h.boxes.shown().size(), 1u) << "one failure, one box";
    EXPECT_NE(h.boxes.shown()[0].text.find("gone.wav"), std::string::npos) << h.boxes.shown()[0].text;
    EXPECT_FALSE(h.state().converting);
    EXPECT_EQ(Button(d(), "m_btnConvert")->text(), QStringLiteral("Convert"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out))) << "nothing is left behind";
}

}  // namespace
