// The main dialog's start-up, its controls, and how it ends.

#include "app/AboutDialog.h"
#include "app/ConverterDialog.h"
#include "app/Resources.h"
#include "app/ThumbSlider.h"
#include "tests/support/DialogFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace veltrano;
using veltrano::test::DialogHarness;

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

TEST(DialogStartUp, ControlsCarryTheirIdsCaptionsAndStates) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Veltrano"));
    EXPECT_FALSE(d.windowIcon().isNull());

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
        QWidget* w = d.GetDlgItem(c.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName(), QLatin1String(c.objectName));
        EXPECT_EQ(w->property("controlId").toInt(), c.id);
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
    EXPECT_EQ(d.m_sldPosition->minimum(), 0);
    EXPECT_EQ(d.m_sldPosition->maximum(), 600);
    EXPECT_EQ(d.m_sldPosition->value(), 0);
}

TEST(DialogStartUp, FirstRunShowsDefaultsAndTheMusicFolderPath) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    EXPECT_TRUE(h.boxes.shown().empty());
    EXPECT_EQ(d.m_cboSamplesPerSec->currentText(), QStringLiteral("44100"));
    EXPECT_EQ(d.m_cboChannels->currentText(), QStringLiteral("Stereo"));
    EXPECT_EQ(d.m_cboBitsPerSample->currentText(), QStringLiteral("16"));
    QStringList rates;
    for (int i = 0; i < d.m_cboSamplesPerSec->count(); ++i) rates << d.m_cboSamplesPerSec->itemText(i);
    EXPECT_EQ(rates.join(','), QStringLiteral("48000,44100,32000,22050,11025,8000,Custom define"));
    EXPECT_EQ(d.customRateEdit()->text(), QStringLiteral("44100"));
    EXPECT_FALSE(d.customRateEdit()->isVisible());
    const QString expected = h.musicFolder() + QStringLiteral("/output_new.wav");
    EXPECT_EQ(d.outputEdit()->text(), expected);
    EXPECT_EQ(d.m_strOutputFile, expected);
    EXPECT_EQ(QString::fromUtf8(d.m_szOutputPath), expected);
    EXPECT_EQ(d.m_stcStatus->text(), QStringLiteral("Output File: ") + expected);
    EXPECT_EQ(d.CurrentOutputWaveFormat(), (OutputWaveFormat{44100, 2, 16, 4, 176400}));
}

TEST(DialogStartUp, WithoutAMusicFolderTheHomeDefaultIsUsedAfterAMessage) {
    DialogHarness h(/*withMusicFolder=*/false);
    ConverterDialog& d = h.Open();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_EQ(h.boxes.shown()[0].text, "Can not get My Music directory!");
    EXPECT_EQ(h.boxes.shown()[0].caption, "Error");
    EXPECT_EQ(h.boxes.shown()[0].kind, BoxKind::DialogOwned);
    EXPECT_EQ(d.outputEdit()->text(), h.home() + QStringLiteral("/output_new.wav"));
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
    EXPECT_EQ(d.outputEdit()->text(), QStringLiteral("/tmp/x/take.wav"));
    EXPECT_EQ(d.m_cboSamplesPerSec->currentIndex(), 6);
    EXPECT_EQ(d.m_cboChannels->currentText(), QStringLiteral("Mono"));
    EXPECT_EQ(d.m_cboBitsPerSample->currentText(), QStringLiteral("8"));
    EXPECT_EQ(d.customRateEdit()->text(), QStringLiteral("-5"));
    EXPECT_TRUE(d.customRateEdit()->isVisible());
}

TEST(DialogStartUp, AStoredRowOutsideItsListSelectsNothingAndFallsBack) {
    DialogHarness h;
    h.app().settings().WriteProfileInt("Option", "nIndex_nSamplesPerSecond", 9);
    h.app().settings().WriteProfileInt("Option", "nIndex_nChannels", 4);
    ConverterDialog& d = h.Open();
    EXPECT_EQ(d.m_cboSamplesPerSec->currentIndex(), -1);
    EXPECT_EQ(d.m_cboChannels->currentIndex(), -1);
    d.ReadWaveFormatChoice();
    EXPECT_EQ(d.CurrentOutputWaveFormat(), (OutputWaveFormat{44100, 2, 16, 4, 176400}));
    d.close();
    EXPECT_EQ(Stored(h, "nIndex_nSamplesPerSecond").toString(), QStringLiteral("-1"));
    EXPECT_EQ(Stored(h, "nIndex_nChannels").toString(), QStringLiteral("-1"));
}

TEST(DialogFormat, CustomDefineShowsAndHidesTheEditAndItsTextStillCounts) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    d.m_cboSamplesPerSec->setCurrentIndex(6);
    d.OnSamplesPerSecChange();
    EXPECT_TRUE(d.customRateEdit()->isVisible());
    EXPECT_EQ(d.m_nIndexSamplesPerSec, 6);
    d.customRateEdit()->setText(QStringLiteral("96000"));
    d.m_cboSamplesPerSec->setCurrentIndex(1);
    d.OnSamplesPerSecChange();
    EXPECT_FALSE(d.customRateEdit()->isVisible());
    d.customRateEdit()->setText(QStringLiteral("22050hz"));
    d.ReadWaveFormatChoice();
    EXPECT_EQ(d.m_nCustomSamplesPerSec, 22050) << "a hidden edit's text is still read";
}

QStringList Rows(const QComboBox* c) {
    QStringList rows;
    for (int i = 0; i < c->count(); ++i) rows << c->itemText(i);
    return rows;
}

TEST(DialogFormat, TheListsOfferTheWiderFormatsAfterTheSeedsRows) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    EXPECT_EQ(Rows(d.m_cboChannels), (QStringList{"Stereo", "Mono", "Same as source"}));
    EXPECT_EQ(Rows(d.m_cboBitsPerSample), (QStringList{"16", "8", "24", "32 (float)"}));
    // What each new row reads as, alone and together.
    d.m_cboBitsPerSample->setCurrentIndex(2);
    d.ReadWaveFormatChoice();
    EXPECT_EQ(d.CurrentOutputWaveFormat(), (OutputWaveFormat{44100, 2, 24, 6, 264600}));
    d.m_cboSamplesPerSec->setCurrentIndex(0);
    d.m_cboChannels->setCurrentIndex(2);
    d.m_cboBitsPerSample->setCurrentIndex(3);
    d.ReadWaveFormatChoice();
    EXPECT_EQ(d.CurrentOutputWaveFormat(), (OutputWaveFormat{48000, kSourceChannels, 32, 0, 0, SampleKind::Float}));
    // Stored as row numbers, they come back at the next start.
    d.close();
    EXPECT_EQ(Stored(h, "nIndex_nChannels").toString(), QStringLiteral("2"));
    EXPECT_EQ(Stored(h, "nIndex_wBitsPerSample").toString(), QStringLiteral("3"));
    ConverterDialog& again = h.Open();
    EXPECT_EQ(again.m_cboChannels->currentText(), QStringLiteral("Same as source"));
    EXPECT_EQ(again.m_cboBitsPerSample->currentText(), QStringLiteral("32 (float)"));
}

TEST(DialogFormat, StoredSeedRowsKeepTheirMeaning) {
    DialogHarness h;
    h.app().settings().WriteProfileInt("Option", "nIndex_nChannels", 1);
    h.app().settings().WriteProfileInt("Option", "nIndex_wBitsPerSample", 1);
    ConverterDialog& d = h.Open();
    EXPECT_EQ(d.m_cboChannels->currentText(), QStringLiteral("Mono"));
    EXPECT_EQ(d.m_cboBitsPerSample->currentText(), QStringLiteral("8"));
    d.ReadWaveFormatChoice();
    EXPECT_EQ(d.CurrentOutputWaveFormat(), (OutputWaveFormat{44100, 1, 8, 1, 44100}));
}

TEST(DialogClose, WritesTheFiveValuesEvenWhenNothingChanged) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    d.outputEdit()->setText(QStringLiteral("/tmp/typed/out.wav"));
    d.m_cboChannels->setCurrentIndex(1);
    d.customRateEdit()->setText(QStringLiteral("  12000 Hz"));
    d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(Stored(h, "output_cut_file").toString(), QStringLiteral("/tmp/typed/out.wav"));
    EXPECT_EQ(Stored(h, "nIndex_nSamplesPerSecond").toString(), QStringLiteral("1"));
    EXPECT_EQ(Stored(h, "nIndex_nChannels").toString(), QStringLiteral("1"));
    EXPECT_EQ(Stored(h, "nIndex_wBitsPerSample").toString(), QStringLiteral("0"));
    EXPECT_EQ(Stored(h, "n_CustomSamplesPerSecond").toString(), QStringLiteral("12000"));
    EXPECT_FALSE(Stored(h, "LastPhotoFolder").isValid());
    EXPECT_EQ(QString::fromUtf8(d.m_szOutputPath), QStringLiteral("/tmp/typed/out.wav"));

    // The next start shows the same choices.
    ConverterDialog& again = h.Open();
    EXPECT_EQ(again.outputEdit()->text(), QStringLiteral("/tmp/typed/out.wav"));
    EXPECT_EQ(again.m_cboChannels->currentIndex(), 1);
    EXPECT_EQ(again.customRateEdit()->text(), QStringLiteral("12000"));
}

TEST(DialogClose, IsRefusedWhileConvertingByEveryRoad) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    d.m_bConverting = 1;
    d.close();
    QTest::keyClick(&d, Qt::Key_Escape);
    d.outputEdit()->setFocus();
    QTest::keyClick(d.outputEdit(), Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(h.boxes.shown().size(), 3u);
    for (const BoxRequest& r : h.boxes.shown()) {
        EXPECT_EQ(r.text, "Please first stop Convert");
        EXPECT_EQ(r.kind, BoxKind::Application);
        EXPECT_EQ(r.caption, "veltrano");
        EXPECT_EQ(r.icon, BoxIcon::Warning);
    }
    EXPECT_FALSE(Stored(h, "output_cut_file").isValid()) << "nothing is saved while refusing";
    d.m_bConverting = 0;
}

TEST(DialogClose, EscAndEnterTakeTheCloseBoxRoad) {
    {
        DialogHarness h;
        ConverterDialog& d = h.Open();
        d.m_cboBitsPerSample->setCurrentIndex(1);
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(Stored(h, "nIndex_wBitsPerSample").toString(), QStringLiteral("1"));
    }
    {
        DialogHarness h;
        ConverterDialog& d = h.Open();
        d.customRateEdit()->setText(QStringLiteral("8000"));
        d.m_cboSamplesPerSec->setCurrentIndex(6);
        d.OnSamplesPerSecChange();
        d.customRateEdit()->setFocus();
        QTest::keyClick(d.customRateEdit(), Qt::Key_Enter);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(Stored(h, "n_CustomSamplesPerSecond").toString(), QStringLiteral("8000"));
    }
}

TEST(DialogClose, EnterOnAFocusedButtonClicksItInstead) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    d.m_btnHelp->setFocus();
    QTest::keyClick(d.m_btnHelp, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(h.help.urls().size(), 1u);
}

TEST(DialogAbout, SystemCommandOpensTheAboutBox) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    QString seenTitle, seenText;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
        if (!about) return;
        seenTitle = about->windowTitle();
        if (auto* l = about->findChild<QLabel*>(QStringLiteral("m_stcVersion"))) seenText = l->text();
        EXPECT_TRUE(about->okButton()->isDefault());
        about->okButton()->click();
    });
    d.OnSysCommand(IDM_ABOUTBOX);
    EXPECT_EQ(seenTitle, QStringLiteral("About Veltrano"));
    EXPECT_EQ(seenText, QStringLiteral("Veltrano Version 1.0"));
    EXPECT_EQ(d.OnQueryDragIcon().cacheKey(), d.windowIcon().cacheKey());
}

TEST(DialogAccessibility, LabelsNameTheirFieldsAndCaptionlessControlsHaveNames) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    auto buddyOf = [&](const char* text) -> QWidget* {
        for (QLabel* l : d.findChildren<QLabel*>())
            if (l->text() == QLatin1String(text)) return l->buddy();
        return nullptr;
    };
    EXPECT_EQ(buddyOf("Output File"), d.outputEdit());
    EXPECT_EQ(buddyOf("Samples per second (Hz):"), d.m_cboSamplesPerSec);
    EXPECT_EQ(buddyOf("Channels:"), d.m_cboChannels);
    EXPECT_EQ(buddyOf("Bits per sample:"), d.m_cboBitsPerSample);
    for (QWidget* w : {static_cast<QWidget*>(d.m_sldPosition), static_cast<QWidget*>(d.m_stcStatus),
                       static_cast<QWidget*>(d.m_stcStartTime), static_cast<QWidget*>(d.m_stcEndTime),
                       static_cast<QWidget*>(d.fileLine()), static_cast<QWidget*>(d.customRateEdit())})
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
}

TEST(DialogTabOrder, FollowsTheTemplate) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    d.m_cboSamplesPerSec->setCurrentIndex(6);
    d.OnSamplesPerSecChange();
    d.EnableMediaControls(true);
    QStringList order;
    QWidget* w = d.m_btnHelp;
    for (int i = 0; i < 20 && w; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (w && (!w->isVisible() || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus) || w == &d))
            w = w->nextInFocusChain();
        if (w == d.m_btnHelp) break;
    }
    EXPECT_EQ(order.join(' ').toStdString(),
              "m_btnHelp m_btnConvert m_btnOpenMedia m_sldPosition m_btnPlay m_btnPause m_btnStop "
              "m_btnStartTime m_btnEndTime m_strOutputFile m_btnBrowse m_cboSamplesPerSec m_cboChannels "
              "m_cboBitsPerSample m_nCustomSamplesPerSec");
}

}  // namespace
