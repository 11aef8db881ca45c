// Position, selection and time display: the trackbar follows and seeks the
// preview, the buttons drive it, Start/End Time mark the selection, and
// closing the player window empties the dialog.

#include "app/ConverterApp.h"
#include "app/ConverterDialog.h"
#include "ui/WindowMessages.h"
#include "preview/PlayerWindow.h"
#include "preview/PreviewPlayer.h"
#include "app/ThumbSlider.h"
#include "app/Trackbar.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/TestMedia.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <gtest/gtest.h>

using namespace veltrano;
using veltrano::test::DialogHarness;

namespace {

constexpr MediaTime kSecond = kUnitsPerSecond;

TEST(Trackbar, StepsAreSixHundredthsOfTheLength) {
    EXPECT_EQ(TrackbarTarget(600 * kSecond, 300), 300 * kSecond);
    EXPECT_EQ(TrackbarTarget(600 * kSecond, 600), 600 * kSecond);
    EXPECT_EQ(TrackbarTarget(205 * kSecond, 1), 3416666);  // truncated
    EXPECT_EQ(TrackbarStepOf(1234 * kSecond / 10, 600 * kSecond), 123);
    EXPECT_EQ(TrackbarStepOf(600 * kSecond, 600 * kSecond), 600);
    EXPECT_EQ(TrackbarStepOf(5 * kSecond, 0), 0);
}

class Selection : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Ten minutes of 8 kHz mono: one trackbar step is one second.
        // In a folder of this process: another run of the suite (another build,
        // the same machine) removes its own copy when it ends.
        const QString folder = QDir::tempPath() + "/veltrano-selection-" + QString::number(QCoreApplication::applicationPid());
        ASSERT_TRUE(QDir().mkpath(folder));
        path_ = new std::string(folder.toStdString() + "/veltrano-selection-600s.wav");
        std::string error;
        ASSERT_TRUE(test::MakeToneFile(*path_, test::AudioKind::Wav, 600.0, 8000, 1, 440.0, &error)) << error;
    }
    static void TearDownTestSuite() {
        std::remove(path_->c_str());
        QDir().rmdir(QFileInfo(QString::fromStdString(*path_)).path());
        delete path_;
    }
    void SetUp() override {
        ConverterDialog& d = h.Open();
        h.files.QueueOpenAnswer(*path_);
        d.OnOpenMediaFile();
        ASSERT_NE(g_pPreviewPlayer, nullptr);
    }
    ConverterDialog& d() { return h.dialog(); }
    // The player's next poll and its tick, as the position timer makes them.
    void Tick() {
        g_pPreviewPlayer->RefreshPositions();
        QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    }
    bool WaitForPlayerAt(MediaTime expected, MediaTime tolerance = kSecond / 2) {
        return QTest::qWaitFor(
            [&] {
                g_pPreviewPlayer->RefreshPositions();
                return std::llabs(g_pPreviewPlayer->m_rtCurrentPosition - expected) <= tolerance;
            },
            3000);
    }
    QPoint HandleCentre() {
        QStyleOptionSlider opt;
        opt.initFrom(d().m_sldPosition);
        opt.minimum = d().m_sldPosition->minimum();
        opt.maximum = d().m_sldPosition->maximum();
        opt.sliderPosition = d().m_sldPosition->value();
        opt.orientation = Qt::Horizontal;
        return d().m_sldPosition->style()
            ->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, d().m_sldPosition)
            .center();
    }
    static std::string* path_;
    DialogHarness h;
};
std::string* Selection::path_ = nullptr;

TEST_F(Selection, NoSeekBeforeThePlayerHasPolledItsLength) {
    ASSERT_EQ(g_pPreviewPlayer->m_rtStopPosition, 0);
    EXPECT_FALSE(d().SeekToSlider(300));
    d().OnStartTime();
    EXPECT_EQ(d().m_rtStartTime, 0);
    EXPECT_EQ(d().m_stcStartTime->text(), QStringLiteral("00:00:00"));
}

TEST_F(Selection, ReleasingTheThumbSeeksToItsStep) {
    Tick();
    ASSERT_EQ(g_pPreviewPlayer->m_rtStopPosition, 600 * kSecond);
    ThumbSlider* slider = d().m_sldPosition;
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, HandleCentre());
    EXPECT_EQ(h.app().m_bThumbHeld, 1);
    slider->setValue(300);  // the drag
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, HandleCentre());
    EXPECT_EQ(h.app().m_bThumbHeld, 0);
    EXPECT_EQ(d().m_nSliderPos, 300);
    EXPECT_TRUE(WaitForPlayerAt(300 * kSecond));
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped) << "seeking does not start playback";
    QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    EXPECT_EQ(d().fileLine()->text(), QStringLiteral("veltrano-selection-600s.wav   00:05:00 / 00:10:00"));
    EXPECT_EQ(slider->value(), 300);
}

TEST_F(Selection, KeyboardMovesDoNotSeek) {
    Tick();
    d().m_sldPosition->setFocus();
    QTest::keyClick(d().m_sldPosition, Qt::Key_PageUp);
    QTest::keyClick(d().m_sldPosition, Qt::Key_End);
    EXPECT_GT(d().m_sldPosition->value(), 0);
    QTest::qWait(200);
    Tick();
    EXPECT_LT(g_pPreviewPlayer->m_rtCurrentPosition, kSecond);
    EXPECT_EQ(d().m_sldPosition->value(), 0) << "the refresh puts the thumb back";
}

TEST_F(Selection, TheThumbFollowsThePositionUnlessHeld) {
    Tick();
    ASSERT_TRUE(g_pPreviewPlayer->SeekTo(1234 * kSecond / 10).succeeded());
    ASSERT_TRUE(WaitForPlayerAt(1234 * kSecond / 10, kSecond / 10));
    h.app().m_bThumbHeld = 1;
    const QString line = d().fileLine()->text();
    QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    d().RefreshPosition();
    EXPECT_EQ(d().fileLine()->text(), line);
    EXPECT_EQ(d().m_sldPosition->value(), 0);
    h.app().m_bThumbHeld = 0;
    d().RefreshPosition();
    EXPECT_EQ(d().m_sldPosition->value(), 123);
    EXPECT_EQ(d().fileLine()->text(), QStringLiteral("veltrano-selection-600s.wav   00:02:03 / 00:10:00"));
}

TEST_F(Selection, PlayPauseStopDriveThePreviewAndMarkTheSelection) {
    d().m_btnPlay->click();
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Running);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        g_pPreviewPlayer->RefreshPositions();
        return g_pPreviewPlayer->m_rtCurrentPosition > kSecond;
    }, 5000));
    d().m_btnEndTime->click();  // end first: an end before the start is accepted
    const MediaTime end = d().m_rtEndTime;
    EXPECT_GT(end, kSecond);
    EXPECT_EQ(d().m_stcEndTime->text(), QStringLiteral("00:00:01"));
    g_pPreviewPlayer->SeekTo(90 * kSecond);
    ASSERT_TRUE(WaitForPlayerAt(90 * kSecond));
    d().m_btnStartTime->click();
    EXPECT_GE(d().m_rtStartTime, 89 * kSecond);
    EXPECT_EQ(d().m_stcStartTime->text().left(5), QStringLiteral("00:01"));
    EXPECT_GT(d().m_rtStartTime, d().m_rtEndTime);
    d().m_btnPause->click();
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Paused);
    d().m_btnStop->click();
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    EXPECT_TRUE(WaitForPlayerAt(0));
}

TEST_F(Selection, ClosingThePlayerWindowEmptiesTheDialog) {
    Tick();
    d().outputEdit()->setText(QStringLiteral("/typed/but/not/taken.wav"));
    d().m_rtStartTime = 3 * kSecond;
    // The close box: the player asks the dialog, which closes the media.
    QCloseEvent close;
    QApplication::sendEvent(g_pPreviewPlayer->m_hWnd, &close);
    QCoreApplication::sendPostedEvents(&d());
    EXPECT_EQ(g_pPreviewPlayer, nullptr);
    EXPECT_EQ(d().m_nClipCount, 0);
    EXPECT_EQ(d().m_nAudioCount, 1) << "the audio source list is not changed";
    EXPECT_EQ(d().m_rtStartTime, 0);
    EXPECT_EQ(d().m_rtEndTime, 0);
    EXPECT_EQ(d().m_stcStartTime->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(d().m_stcEndTime->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(d().fileLine()->text(), QString());
    EXPECT_EQ(d().m_sldPosition->value(), 0);
    EXPECT_FALSE(d().m_btnConvert->isEnabled());
    EXPECT_FALSE(d().m_btnPlay->isEnabled());
    EXPECT_EQ(d().outputEdit()->text(), d().m_strOutputFile) << "the stored path comes back";
    // Commands without a player do nothing.
    d().OnPlay();
    d().OnStartTime();
    EXPECT_FALSE(d().SeekToSlider(10));
}

TEST_F(Selection, ATickAfterThePlayerIsGoneEmptiesTheFileLine) {
    Tick();
    g_pPreviewPlayer->RefreshPositions();  // a tick is posted and still queued
    d().ClosePreview();
    EXPECT_FALSE(d().fileLine()->text().isEmpty());
    QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    EXPECT_EQ(d().fileLine()->text(), QString());
}

}  // namespace
