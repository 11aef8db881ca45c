// The main dialog's start-up, its controls, its keys, and how it ends.

#include "app/AboutDialog.h"
#include "app/ConverterDialog.h"
#include "app/Resources.h"
#include "app/ThumbSlider.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace veltrano;
using namespace veltrano::test;

namespace {

QString Text(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return {};
}

QVariant Stored(const DialogHarness& h, const char* entry) {
    QSettings s(h.settingsFile(), QSettings::IniFormat);
    return s.value(QStringLiteral("Option/") + QLatin1String(entry));
}

// The one control carrying a template id.
QWidget* ById(QWidget& d, int id) {
    QWidget* found = nullptr;
    for (QWidget* w : d.findChildren<QWidget*>())
        if (w->property("controlId").isValid() && w->property("controlId").toInt() == id) {
            EXPECT_EQ(found, nullptr) << "two controls carry id " << id;
            found = w;
        }
    return found;
}

std::string MakeTone(DialogHarness& h, const std::string& name, double seconds, int rate = 8000) {
    const std::string path = h.PathInHome(name);
    std::string error;
    EXPECT_TRUE(MakeToneFile(path, AudioKind::Wav, seconds, rate, 1, 440.0, &error)) << error;
    return path;
}

TEST(DialogStartUp, ControlsCarryTheirIdsCaptionsAndStates) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Veltrano"));
    EXPECT_FALSE(d.windowIcon().isNull());
    EXPECT_EQ(d.OnQueryDragIcon().cacheKey(), d.windowIcon().cacheKey());

    struct Control {
        int id;
        const char* objectName;
        const char* caption;
        bool enabled;
        bool visible;
    } controls[] = {
        {ID_HELP, "m_btnHelp", "Help", true, true},
        {IDC_CONVERT, "m_btnConvert", "Convert", false, true},
        {IDC_OPEN_MEDIA, "m_btnOpenMedia", "Open Media File", true, true},
        {IDC_POSITION, "m_sldPosition", "", false, true},
        {IDC_CLOSE_MEDIA, "m_btnCloseMedia", "Close", true, false},
        {IDC_PLAY, "m_btnPlay", "Play", false, true},
        {IDC_PAUSE, "m_btnPause", "Pause", false, true},
        {IDC_STOP, "m_btnStop", "Stop", false, true},
        {IDC_START_TIME, "m_btnStartTime", "Start Time", false, true},
        {IDC_END_TIME, "m_btnEndTime", "End Time", false, true},
        {IDC_START_TIME_LABEL, "m_stcStartTime", "00:00:00", false, true},
        {IDC_END_TIME_LABEL, "m_stcEndTime", "00:00:00", false, true},
        {IDC_OUTPUT_LABEL, "m_stcOutputLabel", "Output File", true, true},
        {IDC_BROWSE, "m_btnBrowse", "Browse", true, true},
        {IDC_FILE_LINE, "m_stcFileLine", "", true, true},
        {IDCANCEL, "m_btnExit", "Exit", true, false},
        {IDC_SAMPLES_PER_SEC, "m_cboSamplesPerSec", "", true, true},
        {IDC_CHANNELS, "m_cboChannels", "", true, true},
        {IDC_BITS_PER_SAMPLE, "m_cboBitsPerSample", "", true, true},
        {IDC_CUSTOM_SAMPLES_PER_SEC, "m_nCustomSamplesPerSec", "44100", true, false},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.objectName);
        QWidget* w = ById(d, c.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName(), QLatin1String(c.objectName));
        EXPECT_EQ(Text(w), QString::fromUtf8(c.caption));
        EXPECT_EQ(w->isEnabled(), c.enabled);
        EXPECT_EQ(w->isVisible(), c.visible);
    }
    // No default button anywhere.
    for (QPushButton* b : d.findChildren<QPushButton*>()) EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    auto* group = d.findChild<QGroupBox*>(QStringLiteral("m_grpWaveFormat"));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("Wave format"));
    // The trackbar starts at 0 of 0..600.
    EXPECT_EQ(Trackbar(d)->minimum(), 0);
    EXPECT_EQ(Trackbar(d)->maximum(), 600);
    EXPECT_EQ(Trackbar(d)->value(), 0);
}

TEST(DialogStartUp, FirstRunShowsDefaultsAndTheMusicFolderPath) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    EXPECT_TRUE(h.boxes.shown().empty());
    EXPECT_EQ(List(d, "m_cboSamplesPerSec")->currentText(), QStringLiteral("44100"));
    EXPECT_EQ(List(d, "m_cboChannels")->currentText(), QStringLiteral("Stereo"));
    EXPECT_EQ(List(d, "m_cboBitsPerSample")->currentText(), QStringLiteral("16"));
    QStringList rates;
    for (int i = 0; i < List(d, "m_cboSamplesPerSec")->count(); ++i) rates << List(d, "m_cboSamplesPerSec")->itemText(i);
    EXPECT_EQ(rates.join(','), QStringLiteral("48000,44100,32000,22050,11025,8000,Custom define"));
    EXPECT_EQ(Edit(d, "m_nCustomSamplesPerSec")->text(), QStringLiteral("44100"));
    EXPECT_FALSE(Edit(d, "m_nCustomSamplesPerSec")->isVisible());
    const QString expected = h.musicFolder() + QStringLiteral("/output_new.wav");
    EXPECT_EQ(Edit(d, "m_strOutputFile")->text(), expected);
    EXPECT_EQ(h.state().outputFile, expected);
    EXPECT_EQ(QString::fromStdString(h.state().outputPath), expected);
    EXPECT_EQ(Label(d, "m_stcStatus")->text(), QStringLiteral("Output File: ") + expected);
    const ConverterDialogState s = h.state();
    EXPECT_EQ(ComputeOutputWaveFormat(s.indexSamplesPerSec, s.indexChannels, s.indexBitsPerSample, s.customSamplesPerSec),
              (OutputWaveFormat{44100, 2, 16, 4, 176400}));
}

TEST(DialogStartUp, TheMusicFolderIsTheXdgOneWhenItExistsAndTheHomeOtherwise) {
    {
        // A fresh account without a music folder: the home folder, and no message.
        DialogHarness h(/*withMusicFolder=*/false);
        ConverterDialog& d = h.Open();
        EXPECT_TRUE(h.boxes.shown().empty()) << h.boxes.shown()[0].text;
        EXPECT_EQ(Edit(d, "m_strOutputFile")->text(), h.home() + QStringLiteral("/output_new.wav"));
        // Every start alike.
        ConverterDialog& again = h.Open();
        EXPECT_TRUE(h.boxes.shown().empty());
        EXPECT_EQ(Label(again, "m_stcStatus")->text(), QStringLiteral("Output File: ") + h.home() + "/output_new.wav");
    }
    {
        // The folder the user's XDG folders name for music, as xdg-user-dir answers.
        DialogHarness h(/*withMusicFolder=*/false);
        QDir().mkpath(h.home() + QStringLiteral("/.config"));
        QDir().mkpath(h.home() + QStringLiteral("/Klänge"));
        QFile dirs(h.home() + QStringLiteral("/.config/user-dirs.dirs"));
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_MUSIC_DIR=\"$HOME/Kl\xC3\xA4nge\"\n");
        dirs.close();
        EXPECT_EQ(Edit(h.Open(), "m_strOutputFile")->text(), h.home() + QStringLiteral("/Klänge/output_new.wav"));
        // Named but gone: the home folder.
        QDir(h.home() + QStringLiteral("/Klänge")).removeRecursively();
        EXPECT_EQ(Edit(h.Open(), "m_strOutputFile")->text(), h.home() + QStringLiteral("/output_new.wav"));
        EXPECT_TRUE(h.boxes.shown().empty());
    }
}

TEST(DialogStartUp, StoredChoicesComeBackAndACustomRowShowsTheEdit) {
    DialogHarness h;
    SettingsStore& s = h.app().settings();
    s.WriteProfileString("Option", "output_cut_file", QStringLiteral("/tmp/x/take.wav"));
    s.WriteProfileInt("Option", "nIndex_nSamplesPerSecond", 6);
    s.WriteProfileInt("Option", "nIndex_nChannels", 1);
    s.WriteProfileInt("Option", "nIndex_wBitsPerSample", 1);
    s.WriteProfileInt("Option", "n_CustomSamplesPerSecond", -5);
    ConverterDialog& d = h.Open();
    EXPECT_EQ(Edit(d, "m_strOutputFile")->text(), QStringLiteral("/tmp/x/take.wav"));
    EXPECT_EQ(List(d, "m_cboSamplesPerSec")->currentIndex(), 6);
    EXPECT_EQ(List(d, "m_cboChannels")->currentText(), QStringLiteral("Mono"));
    EXPECT_EQ(List(d, "m_cboBitsPerSample")->currentText(), QStringLiteral("8"));
    EXPECT_EQ(Edit(d, "m_nCustomSamplesPerSec")->text(), QStringLiteral("-5"));
    EXPECT_TRUE(Edit(d, "m_nCustomSamplesPerSec")->isVisible());
}

TEST(DialogStartUp, AStoredRowOutsideItsListSelectsNothingAndFallsBack) {
    DialogHarness h;
    h.app().settings().WriteProfileInt("Option", "nIndex_nSamplesPerSecond", 9);
    h.app().settings().WriteProfileInt("Option", "nIndex_nChannels", 4);
    const std::string source = MakeTone(h, "short.wav", 0.5);
    ConverterDialog& d = h.Open();
    EXPECT_EQ(List(d, "m_cboSamplesPerSec")->currentIndex(), -1);
    EXPECT_EQ(List(d, "m_cboChannels")->currentIndex(), -1);
    // What is written then: 44100 Hz, two channels, 16 bits.
    ASSERT_TRUE(h.OpenMedia(source));
    const std::string out = h.PathInHome("fallback.wav");
    h.SetOutput(out);
    h.PressConvert();
    ASSERT_TRUE(WaitUntilIdle(d));
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.sampleRate, 44100u);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.bitsPerSample, 16);
    d.close();
    EXPECT_EQ(Stored(h, "nIndex_nSamplesPerSecond").toString(), QStringLiteral("-1"));
    EXPECT_EQ(Stored(h, "nIndex_nChannels").toString(), QStringLiteral("-1"));
}

TEST(DialogFormat, CustomDefineShowsAndHidesTheEditAndItsTextStillCounts) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    QLineEdit* custom = Edit(d, "m_nCustomSamplesPerSec");
    Choose(List(d, "m_cboSamplesPerSec"), 6);
    EXPECT_TRUE(custom->isVisible());
    EXPECT_EQ(h.state().indexSamplesPerSec, 6);
    custom->setText(QStringLiteral("96000"));
    Choose(List(d, "m_cboSamplesPerSec"), 1);
    EXPECT_FALSE(custom->isVisible());
    EXPECT_EQ(h.state().indexSamplesPerSec, 1);
    custom->setText(QStringLiteral("22050hz"));
    d.close();
    EXPECT_EQ(h.state().customSamplesPerSec, 22050) << "a hidden edit's text is still read";
    EXPECT_EQ(Stored(h, "n_CustomSamplesPerSecond").toString(), QStringLiteral("22050"));
}

QStringList Rows(const QComboBox* c) {
    QStringList rows;
    for (int i = 0; i < c->count(); ++i) rows << c->itemText(i);
    return rows;
}

// The format the dialog's rows stand for, as it reads them at Convert and close.
OutputWaveFormat FormatOf(const ConverterDialogState& s) {
    return ComputeOutputWaveFormat(s.indexSamplesPerSec, s.indexChannels, s.indexBitsPerSample, s.customSamplesPerSec);
}

TEST(DialogFormat, TheListsOfferTheWiderFormatsAfterTheSeedsRows) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    EXPECT_EQ(Rows(List(d, "m_cboChannels")), (QStringList{"Stereo", "Mono", "Same as source"}));
    EXPECT_EQ(Rows(List(d, "m_cboBitsPerSample")), (QStringList{"16", "8", "24", "32 (float)"}));
    Choose(List(d, "m_cboSamplesPerSec"), 0);
    Choose(List(d, "m_cboChannels"), 2);
    Choose(List(d, "m_cboBitsPerSample"), 3);
    // Stored as row numbers, they come back at the next start.
    d.close();
    EXPECT_EQ(FormatOf(h.state()), (OutputWaveFormat{48000, kSourceChannels, 32, 0, 0, SampleKind::Float}));
    EXPECT_EQ(Stored(h, "nIndex_nChannels").toString(), QStringLiteral("2"));
    EXPECT_EQ(Stored(h, "nIndex_wBitsPerSample").toString(), QStringLiteral("3"));
    ConverterDialog& again = h.Open();
    EXPECT_EQ(List(again, "m_cboChannels")->currentText(), QStringLiteral("Same as source"));
    EXPECT_EQ(List(again, "m_cboBitsPerSample")->currentText(), QStringLiteral("32 (float)"));
    Choose(List(again, "m_cboChannels"), 0);
    Choose(List(again, "m_cboBitsPerSample"), 2);
    again.close();
    EXPECT_EQ(FormatOf(h.state()), (OutputWaveFormat{48000, 2, 24, 6, 288000}));
}

TEST(DialogFormat, StoredSeedRowsKeepTheirMeaning) {
    DialogHarness h;
    h.app().settings().WriteProfileInt("Option", "nIndex_nChannels", 1);
    h.app().settings().WriteProfileInt("Option", "nIndex_wBitsPerSample", 1);
    ConverterDialog& d = h.Open();
    EXPECT_EQ(List(d, "m_cboChannels")->currentText(), QStringLiteral("Mono"));
    EXPECT_EQ(List(d, "m_cboBitsPerSample")->currentText(), QStringLiteral("8"));
    d.close();
    EXPECT_EQ(FormatOf(h.state()), (OutputWaveFormat{44100, 1, 8, 1, 44100}));
}

TEST(DialogClose, WritesTheFiveValuesEvenWhenNothingChanged) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    Edit(d, "m_strOutputFile")->setText(QStringLiteral("/tmp/typed/out.wav"));
    List(d, "m_cboChannels")->setCurrentIndex(1);
    Edit(d, "m_nCustomSamplesPerSec")->setText(QStringLiteral("  12000 Hz"));
    d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(Stored(h, "output_cut_file").toString(), QStringLiteral("/tmp/typed/out.wav"));
    EXPECT_EQ(Stored(h, "nIndex_nSamplesPerSecond").toString(), QStringLiteral("1"));
    EXPECT_EQ(Stored(h, "nIndex_nChannels").toString(), QStringLiteral("1"));
    EXPECT_EQ(Stored(h, "nIndex_wBitsPerSample").toString(), QStringLiteral("0"));
    EXPECT_EQ(Stored(h, "n_CustomSamplesPerSecond").toString(), QStringLiteral("12000"));
    EXPECT_FALSE(Stored(h, "LastPhotoFolder").isValid());
    EXPECT_EQ(h.state().outputPath, "/tmp/typed/out.wav");

    // The next start shows the same choices.
    ConverterDialog& again = h.Open();
    EXPECT_EQ(Edit(again, "m_strOutputFile")->text(), QStringLiteral("/tmp/typed/out.wav"));
    EXPECT_EQ(List(again, "m_cboChannels")->currentIndex(), 1);
    EXPECT_EQ(Edit(again, "m_nCustomSamplesPerSec")->text(), QStringLiteral("12000"));
}

TEST(DialogClose, IsRefusedWhileConvertingByTheCloseBoxAndEsc) {
    DialogHarness h;
    // Long enough that it is still converting through the checks below.
    const std::string source = MakeTone(h, "long.wav", 300.0, 48000);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(source));
    h.SetOutput(h.PathInHome("busy.wav"));
    h.PressConvert();
    ASSERT_TRUE(h.state().converting);
    d.close();
    QTest::keyClick(&d, Qt::Key_Escape);
    Edit(d, "m_strOutputFile")->setFocus();
    QTest::keyClick(Edit(d, "m_strOutputFile"), Qt::Key_Return);  // Enter never closes
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(h.state().converting);
    ASSERT_EQ(h.boxes.shown().size(), 2u);
    for (const BoxRequest& r : h.boxes.shown()) {
        EXPECT_EQ(r.text, "Please first stop Convert");
        EXPECT_EQ(r.kind, BoxKind::Application);
        EXPECT_EQ(r.caption, "veltrano");
        EXPECT_EQ(r.icon, BoxIcon::Warning);
    }
    EXPECT_FALSE(Stored(h, "output_cut_file").isValid()) << "nothing is saved while refusing";
}

TEST(DialogClose, EscTakesTheCloseBoxRoad) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    List(d, "m_cboBitsPerSample")->setCurrentIndex(1);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(Stored(h, "nIndex_wBitsPerSample").toString(), QStringLiteral("1"));
}

TEST(DialogKeys, EnterInAnEditOrAListKeepsTheDialogTheFileAndItsMarks) {
    DialogHarness h;
    const std::string source = MakeTone(h, "kept.wav", 3.0);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(source));
    Choose(List(d, "m_cboSamplesPerSec"), 6);
    const ConverterDialogState before = h.state();
    ASSERT_EQ(before.clipCount, 1);
    for (const char* name : {"m_strOutputFile", "m_nCustomSamplesPerSec", "m_cboSamplesPerSec", "m_cboChannels",
                             "m_cboBitsPerSample"}) {
        SCOPED_TRACE(name);
        QWidget* w = Control(d, name);
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(w, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(d.isVisible());
    }
    const ConverterDialogState after = h.state();
    EXPECT_EQ(after.clipCount, 1);
    EXPECT_EQ(after.clipPath, source);
    EXPECT_EQ(after.endTime, before.endTime);
    EXPECT_TRUE(Button(d, "m_btnConvert")->isEnabled());
    EXPECT_FALSE(Stored(h, "output_cut_file").isValid()) << "nothing was saved: the dialog did not end";
    EXPECT_TRUE(h.boxes.shown().empty());
}

TEST(DialogKeys, EnterOnAFocusedButtonClicksIt) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    Button(d, "m_btnHelp")->setFocus();
    QTest::keyClick(Button(d, "m_btnHelp"), Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(h.help.urls().size(), 1u);
}

TEST(DialogKeys, TabFollowsTheTemplate) {
    DialogHarness h;
    const std::string source = MakeTone(h, "tab.wav", 1.0);
    ConverterDialog& d = h.Open();
    Choose(List(d, "m_cboSamplesPerSec"), 6);
    ASSERT_TRUE(h.OpenMedia(source));  // the media controls take part once a file is open
    QStringList order;
    QWidget* first = Button(d, "m_btnHelp");
    QWidget* w = first;
    for (int i = 0; i < 20 && w; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (w && (!w->isVisible() || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus) || w == &d))
            w = w->nextInFocusChain();
        if (w == first) break;
    }
    EXPECT_EQ(order.join(' ').toStdString(),
              "m_btnHelp m_btnConvert m_btnOpenMedia m_sldPosition m_btnPlay m_btnPause m_btnStop "
              "m_btnStartTime m_btnEndTime m_strOutputFile m_btnBrowse m_cboSamplesPerSec m_cboChannels "
              "m_cboBitsPerSample m_nCustomSamplesPerSec");
}

TEST(DialogAbout, TheContextMenuOpensTheAboutBox) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    QString menuItem, seenTitle, seenText;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || menu->actions().isEmpty()) return;
        QAction* about = menu->actions().first();
        menuItem = about->text();
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
            if (!box) return;
            seenTitle = box->windowTitle();
            if (auto* l = box->findChild<QLabel*>(QStringLiteral("m_stcVersion"))) seenText = l->text();
            EXPECT_TRUE(box->okButton()->isDefault());
            box->okButton()->click();
        });
        menu->setActiveAction(about);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(10, 10), d.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&d, &right);
    EXPECT_EQ(menuItem, QStringLiteral("&About Veltrano"));
    EXPECT_EQ(seenTitle, QStringLiteral("About Veltrano"));
    EXPECT_EQ(seenText, QStringLiteral("Veltrano Version 1.0"));
}

}  // namespace
