// What assistive technology reads of the dialog, through Qt's accessibility
// interfaces (what its AT-SPI bridge hands a screen reader): labels whose text
// changes read as that text and tell when it changed, the trackbar reads as a
// time, the two Stop buttons tell themselves apart, the progress bar has its value.

#include "app/Accessibility.h"
#include "app/ConverterDialog.h"
#include "app/ThumbSlider.h"
#include "preview/PreviewPlayer.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/TestMedia.h"
#include "ui/WindowMessages.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace veltrano;
using namespace veltrano::test;

namespace {

constexpr MediaTime kSecond = kUnitsPerSecond;

// What the dialog told assistive technology (Qt itself passes it on only
// while a screen reader's bridge is up, which the offscreen tests lack).
std::vector<std::pair<QObject*, QAccessible::Event>> g_events;
void Record(QObject* o, QAccessible::Event e) { g_events.emplace_back(o, e); }

QString Read(QObject* o, QAccessible::Text t) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(o);
    return iface ? iface->text(t) : QStringLiteral("<no interface>");
}

class DialogAccessibility : public ::testing::Test {
protected:
    void SetUp() override {
        SetAccessibilityListenerForTests(&Record);
        g_events.clear();
    }
    void TearDown() override {
        h.Destroy();
        SetAccessibilityListenerForTests(nullptr);
    }
    bool Told(QObject* o, QAccessible::Event type) const {
        for (const auto& [object, event] : g_events)
            if (object == o && event == type) return true;
        return false;
    }
    std::string Tone(const std::string& name, double seconds) {
        const std::string path = h.PathInHome(name);
        std::string error;
        EXPECT_TRUE(MakeToneFile(path, AudioKind::Wav, seconds, 8000, 1, 440.0, &error)) << error;
        return path;
    }
    DialogHarness h;
};

TEST_F(DialogAccessibility, ChangingLabelsReadAsTheirTextAndTellWhenItChanges) {
    const std::string song = Tone("song.wav", 2.5);
    ConverterDialog& d = h.Open();
    struct {
        const char* name;
        const char* role;
    } labels[] = {{"m_stcStatus", "Status line"},
                  {"m_stcStartTime", "Start time of the selection"},
                  {"m_stcEndTime", "End time of the selection"},
                  {"m_stcFileLine", "Media file, position and length"}};
    for (const auto& l : labels) {
        SCOPED_TRACE(l.name);
        QLabel* label = Label(d, l.name);
        EXPECT_TRUE(label->accessibleName().isEmpty()) << "a fixed name would hide the text";
        EXPECT_EQ(Read(label, QAccessible::Name), label->text());
        EXPECT_EQ(Read(label, QAccessible::Description), QLatin1String(l.role));
    }

    g_events.clear();
    ASSERT_TRUE(h.OpenMedia(song));
    EXPECT_EQ(Read(Label(d, "m_stcFileLine"), QAccessible::Name), QStringLiteral("song.wav   00:00:00 / 00:00:02"));
    EXPECT_EQ(Read(Label(d, "m_stcEndTime"), QAccessible::Name), QStringLiteral("00:00:02"));
    EXPECT_TRUE(Told(Label(d, "m_stcFileLine"), QAccessible::NameChanged));
    EXPECT_TRUE(Told(Label(d, "m_stcEndTime"), QAccessible::NameChanged));
    EXPECT_FALSE(Told(Label(d, "m_stcStartTime"), QAccessible::NameChanged)) << "00:00:00 before and after";

    // The status line's news: the used time, then where the file went.
    g_events.clear();
    const std::string out = h.PathInHome("spoken.wav");
    h.SetOutput(out);
    h.PressConvert();
    ASSERT_TRUE(h.state().converting);
    Tick(d, h.state().convertTimerId);
    EXPECT_EQ(Read(Label(d, "m_stcStatus"), QAccessible::Name), QStringLiteral("Please wait... Used Time: 00:00:01"));
    EXPECT_TRUE(Told(Label(d, "m_stcStatus"), QAccessible::NameChanged));
    g_events.clear();
    ASSERT_TRUE(WaitUntilIdle(d));
    EXPECT_EQ(Read(Label(d, "m_stcStatus"), QAccessible::Name).toStdString(), "Done. Output File: " + out);
    EXPECT_TRUE(Told(Label(d, "m_stcStatus"), QAccessible::NameChanged));

    // A marked time is told too.
    g_events.clear();
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    ASSERT_TRUE(g_pPreviewPlayer->SeekTo(kSecond + kSecond / 2).succeeded());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        g_pPreviewPlayer->RefreshPositions();
        return g_pPreviewPlayer->m_rtCurrentPosition >= kSecond;
    }, 3000));
    Button(d, "m_btnEndTime")->click();
    EXPECT_EQ(Read(Label(d, "m_stcEndTime"), QAccessible::Name), QStringLiteral("00:00:01"));
    EXPECT_TRUE(Told(Label(d, "m_stcEndTime"), QAccessible::NameChanged));
}

TEST_F(DialogAccessibility, TheTrackbarReadsAsATimeAndSeeksWhenSet) {
    const std::string ten = Tone("ten-minutes.wav", 600.0);
    ConverterDialog& d = h.Open();
    ThumbSlider* slider = Trackbar(d);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(slider);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Slider);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Position"));
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("00:00:00 of 00:00:00"));

    ASSERT_TRUE(h.OpenMedia(ten));
    // Known from the measurement before the preview's first poll.
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("00:00:00 of 00:10:00"));
    QAccessibleValueInterface* value = iface->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->maximumValue().toDouble(), 600.0);
    EXPECT_EQ(value->minimumValue().toDouble(), 0.0);

    g_events.clear();
    slider->setValue(83);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("00:01:23 of 00:10:00"));
    EXPECT_EQ(iface->text(QAccessible::Description), QStringLiteral("00:01:23 of 00:10:00"));
    EXPECT_EQ(value->currentValue().toDouble(), 83.0);
    EXPECT_TRUE(Told(slider, QAccessible::DescriptionChanged));

    // A value set by assistive technology seeks the preview, as the keys do.
    g_pPreviewPlayer->RefreshPositions();
    QCoreApplication::sendPostedEvents(&d, kPlayerTickEventType);
    value->setCurrentValue(300.0);
    EXPECT_EQ(slider->value(), 300);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        g_pPreviewPlayer->RefreshPositions();
        return std::llabs(g_pPreviewPlayer->m_rtCurrentPosition - 300 * kSecond) < kSecond / 2;
    }, 3000));
}

TEST_F(DialogAccessibility, ConvertAndThePreviewsStopTellThemselvesApart) {
    const std::string source = Tone("long.wav", 240.0);
    ConverterDialog& d = h.Open();
    QPushButton* convert = Button(d, "m_btnConvert");
    QPushButton* stop = Button(d, "m_btnStop");
    EXPECT_EQ(Read(stop, QAccessible::Name), QStringLiteral("Stop"));
    EXPECT_TRUE(Read(stop, QAccessible::Description).contains(QStringLiteral("preview")));
    EXPECT_TRUE(Read(convert, QAccessible::Description).contains(QStringLiteral("Converts")));

    ASSERT_TRUE(h.OpenMedia(source));
    h.SetOutput(h.PathInHome("apart.wav"));
    h.PressConvert();
    ASSERT_TRUE(h.state().converting);
    // Both read "Stop" now; what they stop differs.
    EXPECT_EQ(Read(convert, QAccessible::Name), QStringLiteral("Stop"));
    EXPECT_TRUE(Read(convert, QAccessible::Description).contains(QStringLiteral("conversion")));
    EXPECT_NE(Read(convert, QAccessible::Description), Read(stop, QAccessible::Description));
    EXPECT_FALSE(Read(stop, QAccessible::Description).contains(QStringLiteral("conversion")));
    convert->click();  // Stop
    ASSERT_TRUE(WaitUntilIdle(d));
    EXPECT_EQ(Read(convert, QAccessible::Name), QStringLiteral("Convert"));
    EXPECT_TRUE(Read(convert, QAccessible::Description).contains(QStringLiteral("Converts")));
}

TEST_F(DialogAccessibility, TheProgressBarReportsItsValue) {
    const std::string source = Tone("progress.wav", 120.0);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(source));
    QProgressBar* bar = ProgressBar(d);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->valueInterface(), nullptr);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Conversion progress"));
    h.SetOutput(h.PathInHome("progress-out.wav"));
    h.PressConvert();
    ASSERT_TRUE(h.state().converting);
    while (h.state().converting) {
        QTest::qWait(20);
        EXPECT_EQ(iface->valueInterface()->currentValue().toInt(), bar->value());
    }
    EXPECT_EQ(iface->valueInterface()->currentValue().toInt(), 100);
    EXPECT_EQ(iface->valueInterface()->maximumValue().toInt(), 100);
}

}  // namespace
