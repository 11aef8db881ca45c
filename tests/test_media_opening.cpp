// Open Media File: the open dialog, the measured length, the lists, the
// default selection, the labels, the preview, and every way it can fail.

#include "app/ConverterDialog.h"
#include "preview/PreviewPlayer.h"
#include "app/ThumbSlider.h"
#include "core/TimeText.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/MediaCache.h"
#include "tests/support/TestMedia.h"

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QUrl>
#include <gtest/gtest.h>

using namespace veltrano;
using veltrano::test::DialogHarness;

namespace {

class MediaOpening : public ::testing::Test {
protected:
    void TearDown() override {
        if (h.dialog_ok()) h.dialog().ClosePreview();
    }
    // Opens the path through the open dialog's answer.
    void OpenThroughDialog(const std::string& path) {
        h.files.QueueOpenAnswer(path);
        h.dialog().OnOpenMediaFile();
    }
    QString LastFolder() {
        return QSettings(h.settingsFile(), QSettings::IniFormat).value("Option/LastPhotoFolder").toString();
    }
    std::string MakeTone(const std::string& name, double seconds, test::AudioKind kind = test::AudioKind::Wav,
                         int rate = 8000) {
        const std::string path = h.PathInHome(name);
        std::string error;
        EXPECT_TRUE(test::MakeToneFile(path, kind, seconds, rate, 1, 440.0, &error)) << error;
        return path;
    }
    DialogHarness h;
};

TEST_F(MediaOpening, AskedForOneFileWithTheFiveFiltersInTheLastFolder) {
    ConverterDialog& d = h.Open();
    d.OnOpenMediaFile();  // cancelled
    ASSERT_EQ(h.files.openRequests().size(), 1u);
    const OpenFileRequest& r = h.files.openRequests()[0];
    EXPECT_EQ(r.title, "Select an Media file");
    EXPECT_EQ(r.filterIndex, 1);
    EXPECT_EQ(r.initialFolder, "");
    ASSERT_EQ(r.filters.size(), 5u);
    EXPECT_EQ(r.filters[0].description, "Any Files (*.*)");
    EXPECT_EQ(r.filters[0].patterns, "*.*;");
    EXPECT_EQ(r.filters[1].description, "Windows Media Files (*.asf;*.wma;*.wmv)");
    EXPECT_EQ(r.filters[3].patterns, "*.mp3; *.wav; *.ac3; *.ogg; *.mpa; *.mp2; *.au; *.aif; *.aiff; *.snd;*.ra;*.ram");
    EXPECT_EQ(r.filters[4].description, "Media Files (all types)");
    // Cancelled: nothing happened.
    EXPECT_EQ(d.m_nClipCount, 0);
    EXPECT_FALSE(d.m_btnConvert->isEnabled());
    EXPECT_EQ(g_pPreviewPlayer, nullptr);
}

TEST_F(MediaOpening, AnMp3Of205Point9SecondsIsListedAs205) {
    const std::string path = MakeTone("song.mp3", 205.9, test::AudioKind::Mp3, 22050);
    ConverterDialog& d = h.Open();
    OpenThroughDialog(path);
    EXPECT_TRUE(h.boxes.shown().empty()) << h.boxes.shown()[0].text;
    EXPECT_EQ(d.m_nClipCount, 1);
    EXPECT_EQ(d.m_nAudioCount, 1);
    EXPECT_STREQ(d.m_szClipPath[0], path.c_str());
    EXPECT_STREQ(d.m_szAudioPath[0], path.c_str());
    EXPECT_EQ(d.m_rtClipDuration[0], 205 * kUnitsPerSecond);
    EXPECT_EQ(d.m_rtStartTime, 0);
    EXPECT_EQ(d.m_rtEndTime, 205 * kUnitsPerSecond);
    EXPECT_EQ(d.fileLine()->text(), QStringLiteral("song.mp3   00:00:00 / 00:03:25"));
    EXPECT_EQ(d.m_stcStartTime->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(d.m_stcEndTime->text(), QStringLiteral("00:03:25"));
    EXPECT_EQ(d.m_stcStatus->text(), QStringLiteral("Output File: ") + d.m_strOutputFile);
    for (QWidget* w : {static_cast<QWidget*>(d.m_btnConvert), static_cast<QWidget*>(d.m_sldPosition),
                       static_cast<QWidget*>(d.m_btnPlay), static_cast<QWidget*>(d.m_btnEndTime),
                       static_cast<QWidget*>(d.m_stcEndTime)})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_STREQ(g_pPreviewPlayer->m_szFileName, path.c_str());
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    EXPECT_EQ(LastFolder(), h.home() + QLatin1Char('/'));
    // The next open starts in that folder.
    d.OnOpenMediaFile();
    EXPECT_EQ(h.files.openRequests().back().initialFolder, (h.home() + QLatin1Char('/')).toStdString());
}

TEST_F(MediaOpening, AFileUnderOneSecondGivesAnEmptySelection) {
    const std::string path = MakeTone("blip.wav", 0.6);
    ConverterDialog& d = h.Open();
    OpenThroughDialog(path);
    EXPECT_EQ(d.m_nClipCount, 1);
    EXPECT_EQ(d.m_rtClipDuration[0], 0);
    EXPECT_EQ(d.m_rtStartTime, d.m_rtEndTime);
    EXPECT_EQ(d.m_stcEndTime->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(d.fileLine()->text(), QStringLiteral("blip.wav   00:00:00 / 00:00:00"));
}

TEST(TimeText, HoursGrowPastTwoDigits) {
    EXPECT_EQ(HmsText(MediaTime{0}), std::string("00:00:00"));
    EXPECT_EQ(HmsText(MediaTime{(3600 + 120 + 5) * kUnitsPerSecond + 9'999'999}), std::string("01:02:05"));
    EXPECT_EQ(HmsText(MediaTime{360000} * kUnitsPerSecond), std::string("100:00:00"));
    EXPECT_EQ(HmsText(MediaTime{1234567} * kUnitsPerSecond), std::string("342:56:07"));
    EXPECT_EQ(FileLineText(std::string("a b.mp3"), 61 * kUnitsPerSecond, 205 * kUnitsPerSecond),
              std::string("a b.mp3   00:01:01 / 00:03:25"));
}

TEST_F(MediaOpening, AnUnreadableFileShowsTwoBoxesAndLeavesTheOpenFileShown) {
    const std::string good = MakeTone("good.wav", 2.0);
    const std::string bad = h.PathInHome("fake.mp3");
    ASSERT_TRUE(test::MakeTextFile(bad));
    ConverterDialog& d = h.Open();
    OpenThroughDialog(good);
    PreviewPlayer* before = g_pPreviewPlayer;
    ASSERT_NE(before, nullptr);
    const QString line = d.fileLine()->text(), end = d.m_stcEndTime->text(), status = d.m_stcStatus->text();
    const MediaTime start = d.m_rtStartTime, stop = d.m_rtEndTime;
    h.app().settings().WriteProfileString("Option", "LastPhotoFolder", QStringLiteral("/kept/"));

    OpenThroughDialog(bad);
    ASSERT_EQ(h.boxes.shown().size(), 2u);
    EXPECT_EQ(h.boxes.shown()[0].text,
              "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt.");
    EXPECT_EQ(h.boxes.shown()[0].caption, "Veltrano");
    EXPECT_EQ(h.boxes.shown()[0].kind, BoxKind::Ownerless);
    EXPECT_EQ(h.boxes.shown()[1].text, "Can not get the duration of the clip!");
    EXPECT_EQ(h.boxes.shown()[1].caption, "Error");
    EXPECT_EQ(h.boxes.shown()[1].kind, BoxKind::DialogOwned);
    EXPECT_EQ(h.boxes.shown()[1].icon, BoxIcon::None);
    // The lists are emptied; everything else stays as it was.
    EXPECT_EQ(d.m_nClipCount, 0);
    EXPECT_EQ(d.m_nAudioCount, 0);
    EXPECT_STREQ(d.m_szClipPath[0], bad.c_str());
    EXPECT_EQ(g_pPreviewPlayer, before);
    EXPECT_EQ(d.fileLine()->text(), line);
    EXPECT_EQ(d.m_stcEndTime->text(), end);
    EXPECT_EQ(d.m_stcStatus->text(), status);
    EXPECT_EQ(d.m_rtStartTime, start);
    EXPECT_EQ(d.m_rtEndTime, stop);
    EXPECT_TRUE(d.m_btnConvert->isEnabled());
    EXPECT_EQ(LastFolder(), QStringLiteral("/kept/"));
}

TEST_F(MediaOpening, BrokenAndMissingFilesAreRefusedTheSameWay) {
    ConverterDialog& d = h.Open();
    const std::string zero = test::CachedZeroByteFile();
    const std::string truncated = test::CachedTruncatedVideo();
    const std::string missing = test::MissingFile();
    for (const std::string& path : {zero, truncated, missing}) {
        SCOPED_TRACE(path);
        h.boxes.clear();
        OpenThroughDialog(path);
        ASSERT_EQ(h.boxes.shown().size(), 2u);
        EXPECT_EQ(h.boxes.shown()[1].text, "Can not get the duration of the clip!");
        EXPECT_EQ(d.m_nClipCount, 0);
        EXPECT_EQ(g_pPreviewPlayer, nullptr);
    }
}

TEST_F(MediaOpening, ASecondFileReplacesTheFirstPlayerAndSelection) {
    const std::string first = MakeTone("first.wav", 3.0);
    const std::string second = MakeTone("second.wav", 5.0);
    ConverterDialog& d = h.Open();
    OpenThroughDialog(first);
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    d.m_rtStartTime = 1 * kUnitsPerSecond;
    OpenThroughDialog(second);
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_STREQ(g_pPreviewPlayer->m_szFileName, second.c_str());
    EXPECT_EQ(d.m_rtStartTime, 0);
    EXPECT_EQ(d.m_rtEndTime, 5 * kUnitsPerSecond);
    EXPECT_EQ(d.fileLine()->text(), QStringLiteral("second.wav   00:00:00 / 00:00:05"));
    // Exactly one player window remains.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("PreviewWindow")) ++windows;
    EXPECT_LE(windows, 1);
}

TEST_F(MediaOpening, NamesOutsideAsciiOpenAndShow) {
    ConverterDialog& d = h.Open();
    for (const std::string name : {"é à ü.wav", "音楽 テスト.wav"}) {
        SCOPED_TRACE(name);
        const std::string path = MakeTone(name, 2.0);
        OpenThroughDialog(path);
        EXPECT_EQ(d.m_nClipCount, 1);
        EXPECT_EQ(d.fileLine()->text(), QString::fromStdString(name) + QStringLiteral("   00:00:00 / 00:00:02"));
        ASSERT_NE(g_pPreviewPlayer, nullptr);
        EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    }
}

TEST_F(MediaOpening, TheFullScreenSettingOpensAVideoInFullScreen) {
    const std::string video = test::CachedVideo(160, 120, 1.0, true);
    h.Open();
    OpenThroughDialog(video);
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_FALSE(g_pPreviewPlayer->m_bFullScreen) << "normal size by default";
    h.app().settings().WriteProfileInt("Setup", "g_bFullscreen", 1);
    OpenThroughDialog(video);
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_TRUE(g_pPreviewPlayer->m_bFullScreen);
    // A sound file has no picture to show in full screen.
    OpenThroughDialog(MakeTone("plain.wav", 1.0));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_FALSE(g_pPreviewPlayer->m_bFullScreen);
}

TEST_F(MediaOpening, APathTooLongForTheListsIsRefusedWhole) {
    ConverterDialog& d = h.Open();
    OpenThroughDialog("/tmp/" + std::string(300, 'a') + ".wav");
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].text.find("too long"), std::string::npos);
    EXPECT_EQ(d.m_nClipCount, 0);
    EXPECT_STREQ(d.m_szClipPath[0], "");
}

TEST_F(MediaOpening, ADroppedFileOpensAsAChosenOneAndSeveralAreRefused) {
    const std::string a = MakeTone("dropped.wav", 2.0);
    const std::string b = MakeTone("other.wav", 2.0);
    ConverterDialog& d = h.Open();
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&d, &enter);
        QDropEvent dropEvent(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&d, &dropEvent);
        return enter.isAccepted();
    };
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(a))}));
    EXPECT_EQ(d.m_nClipCount, 1);
    EXPECT_EQ(d.fileLine()->text(), QStringLiteral("dropped.wav   00:00:00 / 00:00:02"));
    EXPECT_EQ(LastFolder(), h.home() + QLatin1Char('/'));

    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(b))}));
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].text.find("one media file"), std::string::npos);
    EXPECT_STREQ(d.m_szClipPath[0], a.c_str()) << "the open file stays";

    // What is not a local file is not taken.
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/a.mp3"))}));

    // A dropped file that cannot be read fails as a chosen one does.
    const std::string bad = h.PathInHome("bad.mp3");
    ASSERT_TRUE(test::MakeTextFile(bad));
    h.boxes.clear();
    drop({QUrl::fromLocalFile(QString::fromStdString(bad))});
    ASSERT_EQ(h.boxes.shown().size(), 2u);
    EXPECT_EQ(h.boxes.shown()[1].text, "Can not get the duration of the clip!");
}

}  // namespace
