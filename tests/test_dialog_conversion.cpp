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

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace veltrano;
using veltrano::test::DialogHarness;

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
        ConverterDialog& d = h.Open();
        h.files.QueueOpenAnswer(source);
        d.OnOpenMediaFile();
        ASSERT_NE(g_pPreviewPlayer, nullptr);
        g_pPreviewPlayer->RefreshPositions();
        QCoreApplication::sendPostedEvents(&d, kPlayerTickEventType);
    }
    ConverterDialog& d() { return h.dialog(); }
    // Marks the preview's position as the players' poll reports it.
    void MarkAt(MediaTime t, void (ConverterDialog::*mark)()) {
        ASSERT_TRUE(g_pPreviewPlayer->SeekTo(t).succeeded());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            g_pPreviewPlayer->RefreshPositions();
            return std::llabs(g_pPreviewPlayer->m_rtCurrentPosition - t) < kSecond / 100;
        }, 3000));
        (d().*mark)();
    }
    bool WaitUntilIdle() {
        return QTest::qWaitFor([&] { return d().m_bConverting == 0; }, 20000);
    }
    std::string source;
    DialogHarness h;
};

TEST_F(DialogConversion, ConvertsExactlyTheMarkedStretch) {
    MarkAt(1 * kSecond + kSecond / 2, &ConverterDialog::OnStartTime);
    MarkAt(6 * kSecond, &ConverterDialog::OnEndTime);
    EXPECT_EQ(d().m_stcStartTime->text(), QStringLiteral("00:00:01"));
    EXPECT_EQ(d().m_stcEndTime->text(), QStringLiteral("00:00:06"));
    const std::string out = h.PathInHome("stretch.wav");
    d().outputEdit()->setText(QString::fromStdString(out));
    d().m_btnConvert->click();
    ASSERT_EQ(d().m_bConverting, 1) << (h.boxes.shown().empty() ? "" : h.boxes.shown()[0].text);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(d().m_stcStatus->text().toStdString(), "Done. Output File: " + out);
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
    MarkAt(5 * kSecond, &ConverterDialog::OnStartTime);
    MarkAt(2 * kSecond, &ConverterDialog::OnEndTime);
    EXPECT_EQ(d().m_stcStartTime->text(), QStringLiteral("00:00:05"));
    EXPECT_EQ(d().m_stcEndTime->text(), QStringLiteral("00:00:02"));
    d().m_btnConvert->click();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].text, "The End Time must be bigger than the Start Time");
    EXPECT_EQ(d().m_bConverting, 0);
}

TEST_F(DialogConversion, AfterThePreviewIsClosedConvertRefusesUntilAFileIsOpened) {
    QApplication::postEvent(&d(), new CommandEvent(1056));
    QCoreApplication::sendPostedEvents(&d());
    ASSERT_EQ(g_pPreviewPlayer, nullptr);
    d().OnConvert();  // the button is disabled; the command itself refuses too
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].text, "Please open an media file first!");
    h.files.QueueOpenAnswer(source);
    d().OnOpenMediaFile();
    d().outputEdit()->setText(QString::fromStdString(h.PathInHome("again.wav")));
    d().OnConvert();
    EXPECT_EQ(d().m_bConverting, 1);
    ASSERT_TRUE(WaitUntilIdle());
}

TEST_F(DialogConversion, ProgressShowsWhileConvertingReachesAllAndHides) {
    // A longer file so the bar is seen moving.
    const std::string longer = h.PathInHome("long.wav");
    ASSERT_TRUE(test::MakeAudio(longer, test::AudioKind::Wav, test::Tone(120.0, 48000, 2, 440.0, 0.3)));
    h.files.QueueOpenAnswer(longer);
    d().OnOpenMediaFile();
    QProgressBar* bar = d().m_prgConvert;
    EXPECT_FALSE(bar->isVisible()) << "hidden while idle";
    d().outputEdit()->setText(QString::fromStdString(h.PathInHome("progress.wav")));
    d().OnConvert();
    ASSERT_EQ(d().m_bConverting, 1);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->value(), 0);
    std::vector<int> seen;
    while (d().m_bConverting == 1 && seen.size() < 2000) {
        QTest::qWait(20);
        seen.push_back(bar->value());
        if (d().m_bConverting == 1) {
            EXPECT_TRUE(bar->isVisible());
        }
    }
    ASSERT_FALSE(d().m_bConverting);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "progress never goes back";
    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(test::ReadWavFile(h.PathInHome("progress.wav")).frames(), 120u * 44100);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(d().m_stcStatus->text().startsWith(QStringLiteral("Done. Output File: ")));

    // Stopped half way: hidden again, short of 100, and the next run starts from 0.
    d().outputEdit()->setText(QString::fromStdString(h.PathInHome("stopped.wav")));
    d().OnConvert();
    ASSERT_EQ(d().m_bConverting, 1);
    EXPECT_EQ(bar->value(), 0);
    d().OnConvert();  // "Stop"
    EXPECT_EQ(d().m_bConverting, 0);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_LT(bar->value(), 100);
}

}  // namespace
