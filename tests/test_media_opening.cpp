// Open Media File: the open dialog, the measured length, the lists, the
// default selection, the labels, the preview, every way it can fail, and a
// window that keeps answering while a slow file is measured and cued.

#include "app/ConverterDialog.h"
#include "app/MediaOpening.h"
#include "app/ThumbSlider.h"
#include "core/TimeText.h"
#include "preview/PreviewPlayer.h"
#include "tests/support/DialogFixture.h"
#include "tests/support/MediaCache.h"
#include "tests/support/SlowFileSource.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace veltrano;
using namespace veltrano::test;

namespace {

constexpr MediaTime kSecond = kUnitsPerSecond;

class MediaOpening : public ::testing::Test {
protected:
    QString LastFolder() {
        return QSettings(h.settingsFile(), QSettings::IniFormat).value("Option/LastPhotoFolder").toString();
    }
    std::string MakeTone(const std::string& name, double seconds, AudioKind kind = AudioKind::Wav, int rate = 8000) {
        const std::string path = h.PathInHome(name);
        std::string error;
        EXPECT_TRUE(MakeToneFile(path, kind, seconds, rate, 1, 440.0, &error)) << error;
        return path;
    }
    QString FileLine() { return Label(h.dialog(), "m_stcFileLine")->text(); }
    QString EndLabel() { return Label(h.dialog(), "m_stcEndTime")->text(); }
    QString Status() { return Label(h.dialog(), "m_stcStatus")->text(); }
    bool Drop(QWidget* target, const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        return enter.isAccepted();
    }
    DialogHarness h;
};

TEST_F(MediaOpening, AskedForOneFileWithTheFiveFiltersInTheLastFolder) {
    ConverterDialog& d = h.Open();
    Button(d, "m_btnOpenMedia")->click();  // cancelled
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
    // The classic types first, then what the installed decoders read today.
    const std::string& all = r.filters[4].patterns;
    EXPECT_EQ(all.rfind("*.asf;*.wma;*.wmv;*.avi;*.vob;*.qt;*.mov;*.mpg;*.mpeg;*.dat;*.mp4;*.divx;*.div;*.ogm;*.wav;"
                        "*.mpa;*.mp2;*.mp3;*.au;*.aif;*.aiff;*.snd;*.ogg;*.ac3;*.rmvb;*.rm;*.ra;*.ram;",
                        0),
              0u);
    QStringList patterns = QString::fromStdString(all).split(';');
    for (const char* ext : {"flac", "m4a", "m4b", "aac", "mka", "mkv", "webm", "opus", "oga", "wv", "ape", "ts", "m2ts",
                            "m4v", "3gp", "amr", "wma"})
        EXPECT_TRUE(patterns.contains(QStringLiteral("*.") + QLatin1String(ext))) << ext;
    EXPECT_EQ(patterns.removeDuplicates(), 0);
    // Cancelled: nothing happened.
    EXPECT_EQ(h.state().clipCount, 0);
    EXPECT_FALSE(Button(d, "m_btnConvert")->isEnabled());
    EXPECT_EQ(g_pPreviewPlayer, nullptr);
}

TEST_F(MediaOpening, AnMp3Of205Point9SecondsShows205AndSelectsAllOfIt) {
    const std::string path = MakeTone("song.mp3", 205.9, AudioKind::Mp3, 22050);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(path));
    EXPECT_TRUE(h.boxes.shown().empty()) << h.boxes.shown()[0].text;
    const ConverterDialogState s = h.state();
    EXPECT_EQ(s.clipCount, 1);
    EXPECT_EQ(s.audioCount, 1);
    EXPECT_EQ(s.clipPath, path);
    EXPECT_EQ(s.audioPath, path);
    EXPECT_EQ(s.clipDuration, 205 * kSecond) << "the clip's duration counts whole seconds";
    EXPECT_EQ(s.startTime, 0);
    // The default selection ends at the measured length, not at the whole second.
    EXPECT_NEAR(double(s.endTime), 205.9 * kSecond, 0.1 * kSecond);
    EXPECT_EQ(FileLine(), QStringLiteral("song.mp3   00:00:00 / 00:03:25"));
    EXPECT_EQ(Label(d, "m_stcStartTime")->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(EndLabel(), QStringLiteral("00:03:25"));
    EXPECT_EQ(Status(), QStringLiteral("Output File: ") + s.outputFile);
    for (const char* name : {"m_btnConvert", "m_sldPosition", "m_btnPlay", "m_btnEndTime", "m_stcEndTime"})
        EXPECT_TRUE(Control(d, name)->isEnabled()) << name;
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_STREQ(g_pPreviewPlayer->m_szFileName, path.c_str());
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    EXPECT_EQ(LastFolder(), h.home() + QLatin1Char('/'));
    // The next open starts in that folder.
    Button(d, "m_btnOpenMedia")->click();
    EXPECT_EQ(h.files.openRequests().back().initialFolder, (h.home() + QLatin1Char('/')).toStdString());
}

TEST_F(MediaOpening, ConvertingTheWholeFileConvertsAllOfIt) {
    // 7.616 s: the labels say 00:00:07; the output holds every sample.
    const std::string path = MakeTone("whole.wav", 7.616);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(path));
    EXPECT_EQ(EndLabel(), QStringLiteral("00:00:07"));
    const std::string out = h.PathInHome("whole-out.wav");
    h.SetOutput(out);
    Button(d, "m_btnConvert")->click();
    ASSERT_TRUE(WaitUntilIdle(d));
    const WavFile w = ReadWavFile(out);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.frames(), std::uint64_t(7.616 * 44100 + 0.5));
}

TEST_F(MediaOpening, AFileUnderOneSecondShowsZeroAndStillSelectsItsSound) {
    const std::string path = MakeTone("blip.wav", 0.6);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(path));
    const ConverterDialogState s = h.state();
    EXPECT_EQ(s.clipCount, 1);
    EXPECT_EQ(s.clipDuration, 0);
    EXPECT_EQ(s.startTime, 0);
    EXPECT_EQ(s.endTime, 6 * kSecond / 10);
    EXPECT_EQ(EndLabel(), QStringLiteral("00:00:00"));
    EXPECT_EQ(FileLine(), QStringLiteral("blip.wav   00:00:00 / 00:00:00"));
    EXPECT_TRUE(Button(d, "m_btnConvert")->isEnabled());
}

TEST(TimeText, HoursGrowPastTwoDigits) {
    EXPECT_EQ(HmsText(MediaTime{0}), std::string("00:00:00"));
    EXPECT_EQ(HmsText(MediaTime{(3600 + 120 + 5) * kUnitsPerSecond + 9'999'999}), std::string("01:02:05"));
    EXPECT_EQ(HmsText(MediaTime{360000} * kUnitsPerSecond), std::string("100:00:00"));
    EXPECT_EQ(HmsText(MediaTime{1234567} * kUnitsPerSecond), std::string("342:56:07"));
    EXPECT_EQ(FileLineText(std::string("a b.mp3"), 61 * kUnitsPerSecond, 205 * kUnitsPerSecond),
              std::string("a b.mp3   00:01:01 / 00:03:25"));
}

TEST(OpenFailure, TheDetailSaysWhatLiesThereInPlainWords) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const std::string empty = folder + "/empty.mp3";
    const std::string text = folder + "/text.mp3";
    ASSERT_TRUE(MakeZeroByteFile(empty));
    ASSERT_TRUE(MakeTextFile(text));
    const std::string fifo = folder + "/pipe.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(KindOfPath(folder), PathKind::Folder);
    EXPECT_EQ(KindOfPath(empty), PathKind::EmptyFile);
    EXPECT_EQ(KindOfPath(text), PathKind::File);
    EXPECT_EQ(KindOfPath(fifo), PathKind::NotAFile);
    EXPECT_EQ(KindOfPath(folder + "/gone.mp3"), PathKind::Missing);
    EXPECT_EQ(KindOfPath(text + "/below"), PathKind::Missing);
    EXPECT_EQ(OpenFailureDetail(folder, PathKind::Folder, "x"), folder + " is a folder, not a media file.");
    EXPECT_EQ(OpenFailureDetail(empty, PathKind::EmptyFile, "x"), empty + " is empty: it holds no sound or picture.");
    EXPECT_EQ(OpenFailureDetail(text, PathKind::File, "Could not determine type of stream."),
              text + " cannot be read as sound or video: Could not determine type of stream.");
    EXPECT_EQ(OpenFailureDetail(text, PathKind::File, ""), text + " cannot be read as sound or video.");
    ::unlink(fifo.c_str());
}

TEST_F(MediaOpening, AFailedOpenLeavesTheOpenFileAsItWasWithOneBox) {
    const std::string good = MakeTone("good.wav", 2.0);
    const std::string bad = h.PathInHome("fake.mp3");
    ASSERT_TRUE(MakeTextFile(bad));
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(good));
    PreviewPlayer* before = g_pPreviewPlayer;
    ASSERT_NE(before, nullptr);
    const ConverterDialogState kept = h.state();
    const QString line = FileLine(), end = EndLabel(), status = Status();
    h.app().settings().WriteProfileString("Option", "LastPhotoFolder", QStringLiteral("/kept/"));

    ASSERT_TRUE(h.OpenMedia(bad));
    ASSERT_EQ(h.boxes.shown().size(), 1u) << "one failure, one box";
    const BoxRequest& box = h.boxes.shown()[0];
    EXPECT_EQ(box.text, "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt.");
    EXPECT_EQ(box.caption, "Veltrano");
    EXPECT_EQ(box.kind, BoxKind::Ownerless);
    EXPECT_EQ(box.detail.rfind(bad + " cannot be read as sound or video", 0), 0u) << box.detail;
    // As if the open dialog had been cancelled.
    const ConverterDialogState s = h.state();
    EXPECT_EQ(s.clipCount, 1);
    EXPECT_EQ(s.audioCount, 1);
    EXPECT_EQ(s.clipPath, good);
    EXPECT_EQ(s.audioPath, good);
    EXPECT_EQ(s.startTime, kept.startTime);
    EXPECT_EQ(s.endTime, kept.endTime);
    EXPECT_EQ(g_pPreviewPlayer, before);
    EXPECT_EQ(before->m_ePlayState, Stopped);
    EXPECT_EQ(FileLine(), line);
    EXPECT_EQ(EndLabel(), end);
    EXPECT_EQ(Status(), status);
    EXPECT_EQ(LastFolder(), QStringLiteral("/kept/"));
    EXPECT_TRUE(Button(d, "m_btnOpenMedia")->isEnabled());
    // And Convert converts the file still open.
    h.boxes.clear();
    const std::string out = h.PathInHome("still.wav");
    h.SetOutput(out);
    Button(d, "m_btnConvert")->click();
    ASSERT_TRUE(WaitUntilIdle(d));
    EXPECT_TRUE(h.boxes.shown().empty());
    EXPECT_EQ(ReadWavFile(out).frames(), 2u * 44100);
}

TEST_F(MediaOpening, BrokenMissingAndFolderPathsAreRefusedWithOneBoxEach) {
    ConverterDialog& d = h.Open();
    struct Case {
        std::string path;
        std::string detailStart;
    } cases[] = {
        {CachedZeroByteFile(), CachedZeroByteFile() + " is empty"},
        {CachedTruncatedVideo(), CachedTruncatedVideo() + " cannot be read as sound or video"},
        {MissingFile(), MissingFile() + " does not exist"},
        {h.home().toStdString(), h.home().toStdString() + " is a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        h.boxes.clear();
        d.OpenChosenMedia(c.path);  // as the command line names it
        ASSERT_TRUE(WaitForOpening(d));
        ASSERT_EQ(h.boxes.shown().size(), 1u);
        EXPECT_EQ(h.boxes.shown()[0].detail.rfind(c.detailStart, 0), 0u) << h.boxes.shown()[0].detail;
        EXPECT_EQ(h.state().clipCount, 0);
        EXPECT_EQ(g_pPreviewPlayer, nullptr);
        EXPECT_FALSE(Button(d, "m_btnConvert")->isEnabled());
    }
}

TEST_F(MediaOpening, ASecondFileReplacesTheFirstPlayerAndSelection) {
    const std::string first = MakeTone("first.wav", 3.0);
    const std::string second = MakeTone("second.wav", 5.0);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(first));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    ASSERT_TRUE(g_pPreviewPlayer->SeekTo(kSecond).succeeded());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        g_pPreviewPlayer->RefreshPositions();
        return g_pPreviewPlayer->m_rtCurrentPosition >= kSecond / 2;
    }, 3000));
    Button(d, "m_btnStartTime")->click();
    ASSERT_GT(h.state().startTime, 0);
    ASSERT_TRUE(h.OpenMedia(second));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_STREQ(g_pPreviewPlayer->m_szFileName, second.c_str());
    EXPECT_EQ(h.state().startTime, 0);
    EXPECT_EQ(h.state().endTime, 5 * kSecond);
    EXPECT_EQ(Label(d, "m_stcStartTime")->text(), QStringLiteral("00:00:00"));
    EXPECT_EQ(FileLine(), QStringLiteral("second.wav   00:00:00 / 00:00:05"));
    // Exactly one player window remains.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("PreviewWindow")) ++windows;
    EXPECT_LE(windows, 1);
}

TEST_F(MediaOpening, NamesOutsideAsciiOpenAndShow) {
    h.Open();
    for (const std::string name : {"é à ü.wav", "音楽 テスト.wav"}) {
        SCOPED_TRACE(name);
        const std::string path = MakeTone(name, 2.0);
        ASSERT_TRUE(h.OpenMedia(path));
        EXPECT_EQ(h.state().clipCount, 1);
        EXPECT_EQ(FileLine(), QString::fromStdString(name) + QStringLiteral("   00:00:00 / 00:00:02"));
        ASSERT_NE(g_pPreviewPlayer, nullptr);
        EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    }
}

TEST_F(MediaOpening, TheFullScreenSettingOpensAVideoInFullScreen) {
    const std::string video = CachedVideo(160, 120, 1.0, true);
    h.Open();
    ASSERT_TRUE(h.OpenMedia(video));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_FALSE(g_pPreviewPlayer->m_bFullScreen) << "normal size by default";
    h.app().settings().WriteProfileInt("Setup", "g_bFullscreen", 1);
    ASSERT_TRUE(h.OpenMedia(video));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_TRUE(g_pPreviewPlayer->m_bFullScreen);
    // A sound file has no picture to show in full screen.
    ASSERT_TRUE(h.OpenMedia(MakeTone("plain.wav", 1.0)));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_FALSE(g_pPreviewPlayer->m_bFullScreen);
}

TEST_F(MediaOpening, APathTooLongForTheListsIsRefusedWhole) {
    h.Open();
    ASSERT_TRUE(h.OpenMedia("/tmp/" + std::string(300, 'a') + ".wav"));
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].text.find("too long"), std::string::npos);
    EXPECT_EQ(h.state().clipCount, 0);
    EXPECT_EQ(h.state().clipPath, "");
}

TEST_F(MediaOpening, DropsOpenOneFileAndRefuseSeveralFilesAndFolders) {
    const std::string a = MakeTone("dropped.wav", 2.0);
    const std::string b = MakeTone("other.wav", 2.0);
    ConverterDialog& d = h.Open();
    EXPECT_TRUE(Drop(&d, {QUrl::fromLocalFile(QString::fromStdString(a))}));
    ASSERT_TRUE(WaitForOpening(d));
    EXPECT_EQ(h.state().clipCount, 1);
    EXPECT_EQ(FileLine(), QStringLiteral("dropped.wav   00:00:00 / 00:00:02"));
    EXPECT_EQ(LastFolder(), h.home() + QLatin1Char('/'));

    EXPECT_TRUE(Drop(&d, {QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(b))}));
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].text.find("one media file"), std::string::npos);
    EXPECT_EQ(h.state().clipPath, a) << "the open file stays";

    // A folder is refused, saying so, before anything changes.
    h.boxes.clear();
    const QString folder = h.home() + QStringLiteral("/a folder");
    QDir().mkpath(folder);
    EXPECT_TRUE(Drop(&d, {QUrl::fromLocalFile(folder)}));
    EXPECT_FALSE(h.state().opening);
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].text.find("folder"), std::string::npos);
    EXPECT_EQ(h.boxes.shown()[0].detail, folder.toStdString() + " is a folder.");
    EXPECT_EQ(h.state().clipPath, a);
    EXPECT_EQ(FileLine(), QStringLiteral("dropped.wav   00:00:00 / 00:00:02"));

    // What is not a local file is not taken.
    EXPECT_FALSE(Drop(&d, {QUrl(QStringLiteral("https://example.org/a.mp3"))}));

    // A dropped file that cannot be read fails as a chosen one does.
    const std::string bad = h.PathInHome("bad.mp3");
    ASSERT_TRUE(MakeTextFile(bad));
    h.boxes.clear();
    Drop(&d, {QUrl::fromLocalFile(QString::fromStdString(bad))});
    ASSERT_TRUE(WaitForOpening(d));
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].detail.find(bad), std::string::npos);
    EXPECT_EQ(h.state().clipPath, a);
}

TEST_F(MediaOpening, AFileDroppedOnTheOutputEditGivesItsPath) {
    ConverterDialog& d = h.Open();
    QLineEdit* edit = Edit(d, "m_strOutputFile");
    const QString target = h.home() + QStringLiteral("/out folder/ä take.wav");
    EXPECT_TRUE(Drop(edit, {QUrl::fromLocalFile(target)}));
    EXPECT_EQ(edit->text(), target) << "a path, never a file:// URL";
    EXPECT_FALSE(h.state().opening) << "nothing is opened as media";
    EXPECT_EQ(h.state().clipCount, 0);
    EXPECT_TRUE(h.boxes.shown().empty());
}

// ---- a source that answers slowly ----

class SlowOpening : public MediaOpening {
protected:
    // Counts what the event loop delivers while the test waits.
    struct Loop {
        Loop() {
            timer.setInterval(5);
            QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
            timer.start();
        }
        QTimer timer;
        int ticks = 0;
    };
    SlowFileSource slow;
};

TEST_F(SlowOpening, TheWindowKeepsAnsweringWhileALengthIsMeasured) {
    const std::string path = MakeTone("slow.wav", 3.0);
    ConverterDialog& d = h.Open();
    slow.Hold(1);
    h.files.QueueOpenAnswer(path);
    Button(d, "m_btnOpenMedia")->click();
    // The button has returned while the length is still being read.
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.waiting() > 0; }, kOpenTimeoutMs));
    ASSERT_TRUE(h.state().opening);
    Loop loop;
    ASSERT_TRUE(QTest::qWaitFor([&] { return loop.ticks >= 20; }, kOpenTimeoutMs)) << "timers fire meanwhile";
    // It repaints and its controls answer; nothing of the file shows yet.
    int paints = 0;
    struct PaintCounter : QObject {
        int* n;
        explicit PaintCounter(int* count) : n(count) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++*n;
            return false;
        }
    } counter(&paints);
    Label(d, "m_stcStatus")->installEventFilter(&counter);
    Label(d, "m_stcStatus")->update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return paints > 0; }, kOpenTimeoutMs));
    Label(d, "m_stcStatus")->removeEventFilter(&counter);
    Button(d, "m_btnHelp")->click();
    EXPECT_EQ(h.help.urls().size(), 1u);
    EXPECT_FALSE(Button(d, "m_btnOpenMedia")->isEnabled()) << "one opening at a time";
    EXPECT_EQ(h.state().clipCount, 0);
    EXPECT_EQ(FileLine(), QString());
    EXPECT_EQ(g_pPreviewPlayer, nullptr);
    EXPECT_TRUE(h.boxes.shown().empty());

    slow.Release();
    ASSERT_TRUE(WaitForOpening(d));
    EXPECT_EQ(h.state().clipCount, 1);
    EXPECT_EQ(FileLine(), QStringLiteral("slow.wav   00:00:00 / 00:00:03"));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    EXPECT_TRUE(Button(d, "m_btnOpenMedia")->isEnabled());
    EXPECT_TRUE(Button(d, "m_btnConvert")->isEnabled());
    EXPECT_TRUE(h.boxes.shown().empty());
}

TEST_F(SlowOpening, WhileThePreviewIsCuedTheOpeningWaitsForIt) {
    const std::string path = MakeTone("cued.wav", 2.0);
    ConverterDialog& d = h.Open();
    slow.Hold(2);  // the measurement reads at once, the preview's reader waits
    h.files.QueueOpenAnswer(path);
    Button(d, "m_btnOpenMedia")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.waiting() > 0; }, kOpenTimeoutMs));
    Loop loop;
    ASSERT_TRUE(QTest::qWaitFor([&] { return loop.ticks >= 20; }, kOpenTimeoutMs));
    // Measured and listed; the last steps wait for the preview.
    EXPECT_TRUE(h.state().opening);
    EXPECT_EQ(h.state().clipCount, 1);
    EXPECT_EQ(FileLine(), QStringLiteral("cued.wav   00:00:00 / 00:00:02"));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_TRUE(g_pPreviewPlayer->Opening());
    EXPECT_FALSE(Button(d, "m_btnConvert")->isEnabled());
    EXPECT_FALSE(Button(d, "m_btnOpenMedia")->isEnabled());

    slow.Release();
    ASSERT_TRUE(WaitForOpening(d));
    ASSERT_NE(g_pPreviewPlayer, nullptr);
    EXPECT_FALSE(g_pPreviewPlayer->Opening());
    EXPECT_EQ(g_pPreviewPlayer->m_ePlayState, Stopped);
    EXPECT_TRUE(Button(d, "m_btnConvert")->isEnabled());
    EXPECT_TRUE(Button(d, "m_btnOpenMedia")->isEnabled());
    EXPECT_TRUE(h.boxes.shown().empty());
}

TEST_F(SlowOpening, AConversionKeepsCountingWhileAFileIsMeasured) {
    const std::string running = MakeTone("running.wav", 20.0);
    const std::string next = MakeTone("next.wav", 2.0);
    ConverterDialog& d = h.Open();
    ASSERT_TRUE(h.OpenMedia(running));
    // From here every reader is slow: the conversion's, then the measurement's.
    slow.Hold(slow.made() + 1);
    h.SetOutput(h.PathInHome("running-out.wav"));
    Button(d, "m_btnConvert")->click();
    ASSERT_TRUE(h.state().converting);
    h.files.QueueOpenAnswer(next);
    Button(d, "m_btnOpenMedia")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return h.state().opening && slow.waiting() >= 2; }, kOpenTimeoutMs));
    // The used time goes on, second by second, while the length is awaited.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == QStringLiteral("Please wait... Used Time: 00:00:02"); },
                                kOpenTimeoutMs))
        << Status().toStdString();
    EXPECT_TRUE(h.state().opening);
    EXPECT_TRUE(h.state().converting);
    EXPECT_EQ(h.state().audioPath, running);
    slow.Release();
    ASSERT_TRUE(WaitForOpening(d));
    EXPECT_EQ(h.state().audioPath, next);
    // The running conversion goes on with the file it started with.
    ASSERT_TRUE(WaitUntilIdle(d));
    EXPECT_EQ(ReadWavFile(h.PathInHome("running-out.wav")).frames(), 20u * 44100);
    EXPECT_TRUE(h.boxes.shown().empty());
}

TEST_F(SlowOpening, ClosingTheDialogAbandonsAMeasurementUnderWay) {
    const std::string path = MakeTone("abandoned.wav", 2.0);
    ConverterDialog& d = h.Open();
    slow.Hold(1);
    h.files.QueueOpenAnswer(path);
    Button(d, "m_btnOpenMedia")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.waiting() > 0; }, kOpenTimeoutMs));
    d.close();
    EXPECT_FALSE(d.isVisible());
    h.Destroy();  // returns without the file's answer
    QTest::qWait(50);
    EXPECT_EQ(slow.waiting(), 0);
    EXPECT_TRUE(h.boxes.shown().empty());
    EXPECT_EQ(g_pPreviewPlayer, nullptr);
}

}  // namespace
