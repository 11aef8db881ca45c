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
using namespace veltrano::test;

namespace {

constexpr MediaTime kSecond = kUnitsPerSecond;

TEST(Trackbar, StepsAreSixHundredthsOfTheLength) {
    EXPECT_EQ(TrackbarTarget(600 * kSecond, 300), 300 * kSecond);
    EXPECT_EQ(TrackbarTarget(600 * kSecond, 600), 600 * kSecond);
    EXPECT_EQ(TrackbarTarget(205 * kSecond, 1), 3416666);  // truncated
    EXPECT_EQ(TrackbarStepOf(1234 * kSecond / 10, 600 * kSecond), 123);
    EXPECT_EQ(TrackbarStepOf(600 * kSecond, 600 * kSecond), 600);
    EXPECT_EQ(TrackbarStepOf(5 * kSecond, 0), 0);
    EXPECT_EQ(TrackbarPositionText(600 * kSecond, 83), "00:01:23 of 00:10:00");
    EXPECT_EQ(TrackbarPositionText(205 * kSecond + kSecond / 2, 600), "00:03:25 of 00:03:25");
    EXPECT_EQ(TrackbarPositionText(0, 300), "00:00:00 of 00:00:00");
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
        h.Open();
        ASSERT_TRUE(h.OpenMedia(*path_));
        ASSERT_NE(g_pPreviewPlayer, nullptr);
    }
    ConverterDialog& d() { return h.dialog(); }
    ThumbSlider* slider() { return Trackbar(d()); }
    QString FileLine() { return Label(d(), "m_stcFileLine")->text(); }
    // The player's next poll and its tick, as the position timer makes them.
    void Tick() {
        g_pPreviewPlayer->RefreshPositions();
        QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    }
    // A tick that arrives while nothing is polled anew.
    void TickEvent() {
        QEvent tick(static_cast<QEvent::Type>(kPlayerTickEventType));
        QCoreApplication::sendEvent(&d(), &tick);
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
        opt.initFrom(slider());
        opt.minimum = slider()->minimum();
        opt.maximum = slider()->maximum();
        opt.sliderPosition = slider()->value();
        opt.orientation = Qt::Horizontal;
        return slider()->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider()).center();
    }
    static std::string* path_;
    DialogHarness h;
};
std::string* Selection::path_ = nullptr;

TEST_F(Selection, NoSeekBeforeThePlayerHasPolledItsLength) {
    ASSERT_EQ(g_pPreviewPlayer->m_rtStopPosition, 0);
    slider()->setFocus();
    QTest::keyClick(slider(), Qt::Key_End);
    EXPECT_EQ(h.state().sliderPos, 600) << "the step is taken";
    QTest::qWait(200);
    g_pPreviewPlayer->RefreshPositions();
    EXPECT_LT(g_pPreviewPlayer->m_rtCurrentPosition, kSecond) << "but nothing is sought without a length";
    Button(d(), "m_btnStartTime")->click();
    EXPECT_EQ(h.state().startTime, 0);
    EXPECT_EQ(Label(d(), "m_stcStartTime")->text(), QStringLiteral("00:00:00"));
}

TEST_F(Selection, ReleasingTheThumbSeeksToItsStep) {
    Tick();
    ASSERT_EQ(g_pPreviewPlayer->m_rtStopPosition, 600 * kSecond);
    QTest::mousePress(slider(), Qt::LeftButton, Qt::NoModifier, HandleCentre());
    EXPECT_EQ(h.app().m_bThumbHeld, 1);
    slider()->setValue(300);  // the drag
    QTest::mouseRelease(slider(), Qt::LeftButton, Qt::NoModifier, HandleCentre());
    EXPECT_EQ(h.app().m_bThumbHeld, 0);
    EXPECT_EQ(h.state().sliderPos, 300);
    EXPECT_TRUE(WaitForPlayerAt(300 * kSecond));
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped) << "seeking does not start playback";
    QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    EXPECT_EQ(FileLine(), QStringLiteral("veltrano-selection-600s.wav   00:05:00 / 00:10:00"));
    EXPECT_EQ(slider()->value(), 300);
}

TEST_F(Selection, KeysSeekAsADragDoes) {
    Tick();
    slider()->setFocus();
    struct Step {
        Qt::Key key;
        int expected;  // the trackbar's step, which is a second of this file
    } steps[] = {
        {Qt::Key_PageUp, 10}, {Qt::Key_Right, 11}, {Qt::Key_End, 600}, {Qt::Key_PageDown, 590},
        {Qt::Key_Left, 589},  {Qt::Key_Home, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.expected);
        QTest::keyClick(slider(), step.key);
        EXPECT_EQ(slider()->value(), step.expected);
        EXPECT_EQ(h.state().sliderPos, step.expected);
        ASSERT_TRUE(WaitForPlayerAt(step.expected * kSecond)) << g_pPreviewPlayer->m_rtCurrentPosition;
        // The next refresh shows the place sought, not the old one.
        Tick();
        EXPECT_EQ(slider()->value(), step.expected);
    }
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    EXPECT_EQ(h.app().m_bThumbHeld, 0);
}

TEST_F(Selection, TheThumbFollowsThePositionUnlessHeld) {
    Tick();
    ASSERT_TRUE(g_pPreviewPlayer->SeekTo(1234 * kSecond / 10).succeeded());
    ASSERT_TRUE(WaitForPlayerAt(1234 * kSecond / 10, kSecond / 10));
    h.app().m_bThumbHeld = 1;
    const QString line = FileLine();
    QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    TickEvent();
    EXPECT_EQ(FileLine(), line);
    EXPECT_EQ(slider()->value(), 0);
    h.app().m_bThumbHeld = 0;
    TickEvent();
    EXPECT_EQ(slider()->value(), 123);
    EXPECT_EQ(FileLine(), QStringLiteral("veltrano-selection-600s.wav   00:02:03 / 00:10:00"));
}

TEST_F(Selection, PlayPauseStopDriveThePreviewAndMarkTheSelection) {
    Button(d(), "m_btnPlay")->click();
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Running);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        g_pPreviewPlayer->RefreshPositions();
        return g_pPreviewPlayer->m_rtCurrentPosition > kSecond;
    }, 5000));
    Button(d(), "m_btnEndTime")->click();  // end first: an end before the start is accepted
    const MediaTime end = h.state().endTime;
    EXPECT_GT(end, kSecond);
    EXPECT_EQ(Label(d(), "m_stcEndTime")->text(), QStringLiteral("00:00:01"));
    EXPECT_TRUE(g_pPreviewPlayer->SeekTo(90 * kSecond).succeeded());
    ASSERT_TRUE(WaitForPlayerAt(90 * kSecond));
    Button(d(), "m_btnStartTime")->click();
    EXPECT_GE(h.state().startTime, 89 * kSecond);
    EXPECT_EQ(Label(d(), "m_stcStartTime")->text().left(5), QStringLiteral("00:01"));
    EXPECT_GT(h.state().startTime, h.state().endTime);
    Button(d(), "m_btnPause")->click();
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Paused);
    Button(d(), "m_btnStop")->click();
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    EXPECT_TRUE(WaitForPlayerAt(0));
}

TEST_F(Selection, ClosingThePlayerWindowEmptiesTheDialog) {
    Tick();
    Edit(d(), "m_strOutputFile")->setText(QStringLiteral("/typed/but/not/taken.wav"));
    // The close box: the player asks the dialog, which closes the media.
    QCloseEvent close;
    QApplication::sendEvent(g_pPreviewPlayer->m_hWnd, &close);
    QCoreApplication::sendPostedEvents(&d());
    EXPECT_EQ(g_pPreviewPlayer, nullptr);
    const ConverterDialogState s = h.state();
    EXPECT_EQ(s.clipCount, 0);
    EXPECT_EQ(s.audioCount, 1) << "the audio source list is not changed";
    EXPECT_EQ(s.startTime, 0);
    EXPECT_EQ(s.endTime, 0);
    EXPECT_EQ(Label(d(), "m_stcStartTime")->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(Label(d(), "m_stcEndTime")->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(FileLine(), QString());
    EXPECT_EQ(slider()->value(), 0);
    EXPECT_EQ(slider()->PositionText(), QStringLiteral("00:00:00 of 00:00:00"));
    EXPECT_FALSE(Button(d(), "m_btnConvert")->isEnabled());
    EXPECT_FALSE(Button(d(), "m_btnPlay")->isEnabled());
    EXPECT_EQ(Edit(d(), "m_strOutputFile")->text(), s.outputFile) << "the stored path comes back";
    // Commands without a player do nothing.
    SendCommand(Button(d(), "m_btnPlay"));
    SendCommand(Button(d(), "m_btnStartTime"));
    EXPECT_EQ(h.state().startTime, 0);
    EXPECT_TRUE(h.boxes.shown().empty());
}

TEST_F(Selection, ATickAfterThePlayerIsGoneEmptiesTheFileLine) {
    Tick();
    g_pPreviewPlayer->RefreshPositions();  // a tick is posted and still queued
    DropPreviewPlayer();
    EXPECT_FALSE(FileLine().isEmpty());
    QCoreApplication::sendPostedEvents(&d(), kPlayerTickEventType);
    EXPECT_EQ(FileLine(), QString());
}

}  // namespace
