// The output path through the dialog: its default, Browse, and Help.

#include "app/ConverterDialog.h"
#include "app/OutputPath.h"
#include "tests/support/DialogFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>
#include <gtest/gtest.h>

using namespace veltrano;
using veltrano::test::DialogHarness;

namespace {

QString StoredOutput(const DialogHarness& h) {
    return QSettings(h.settingsFile(), QSettings::IniFormat).value("Option/output_cut_file").toString();
}

TEST(Browse, AsksWithTheWavFilterInTheFolderOfTheLastTakenPath) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    const QString before = d.m_strOutputFile;
    d.outputEdit()->setText(QStringLiteral("/somewhere/else/typed.wav"));  // typed, not yet taken
    d.OnBrowse();
    ASSERT_EQ(h.files.saveRequests().size(), 1u);
    const SaveFileRequest& r = h.files.saveRequests()[0];
    EXPECT_EQ(r.title, "Select Output");
    ASSERT_EQ(r.filters.size(), 1u);
    EXPECT_EQ(r.filters[0].description, "WAV file(*.wav)");
    EXPECT_EQ(r.filters[0].patterns, "*.wav");
    EXPECT_EQ(r.filterIndex, 1);
    EXPECT_EQ(r.initialFolder, h.musicFolder().toStdString());
    // Cancelled: nothing changes, not even the typed text.
    EXPECT_EQ(d.m_strOutputFile, before);
    EXPECT_EQ(d.outputEdit()->text(), QStringLiteral("/somewhere/else/typed.wav"));
    EXPECT_FALSE(QSettings(h.settingsFile(), QSettings::IniFormat).contains("Option/output_cut_file"));
}

TEST(Browse, TheChosenNameBecomesAWavPathEverywhere) {
    struct Case {
        std::string chosen, expected;
    } cases[] = {
        {"/home/u/Music/song.mp3", "/home/u/Music/song.wav"},
        {"/home/u/Music/take.1.wav", "/home/u/Music/take.1.wav"},
        {"/home/u/Music/noext", "/home/u/Music/noext.wav"},
        {"/home/u/dotted.folder/noext", "/home/u/dotted.folder/noext.wav"},
        {"/home/u/Музыка/曲", "/home/u/Музыка/曲.wav"},
    };
    DialogHarness h;
    ConverterDialog& d = h.Open();
    const QString status = d.m_stcStatus->text();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        h.files.QueueSaveAnswer(c.chosen);
        d.OnBrowse();
        const QString expected = QString::fromStdString(c.expected);
        EXPECT_EQ(d.m_strOutputFile, expected);
        EXPECT_EQ(d.outputEdit()->text(), expected);
        EXPECT_EQ(QString::fromUtf8(d.m_szOutputPath), expected);
        EXPECT_EQ(StoredOutput(h), expected);
        EXPECT_EQ(d.m_stcStatus->text(), status) << "Browse leaves the status line alone";
    }
    // The next Browse starts in the folder of the path just taken.
    d.OnBrowse();
    EXPECT_EQ(h.files.saveRequests().back().initialFolder, "/home/u/Музыка");
}

TEST(Browse, APathWithoutSeparatorStartsInTheCurrentFolder) {
    DialogHarness h;
    h.app().settings().WriteProfileString("Option", "output_cut_file", QStringLiteral("plain.wav"));
    ConverterDialog& d = h.Open();
    EXPECT_EQ(d.outputEdit()->text(), QStringLiteral("plain.wav"));
    d.OnBrowse();
    EXPECT_EQ(h.files.saveRequests().back().initialFolder, ".");
}

TEST(Browse, RefusesAPathTooLongForTheOutputBuffer) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    const QString before = d.m_strOutputFile;
    h.files.QueueSaveAnswer("/tmp/" + std::string(260, 'x') + ".mp3");
    d.OnBrowse();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].text.find("too long"), std::string::npos);
    EXPECT_EQ(d.m_strOutputFile, before);
    EXPECT_EQ(QString::fromUtf8(d.m_szOutputPath), before);
    // At the limit it is taken: 259 bytes in all.
    const std::string exact = "/tmp/" + std::string(259 - 5 - 4, 'y') + ".wav";
    ASSERT_EQ(exact.size(), 259u);
    h.files.QueueSaveAnswer(exact);
    d.OnBrowse();
    EXPECT_EQ(d.m_strOutputFile.toStdString(), exact);
}

TEST(OutputPathDefault, AStoredPathWinsAndAnOverlongOneIsIgnored) {
    DialogHarness h;
    h.app().settings().WriteProfileString("Option", "output_cut_file", QStringLiteral("/data/é/mix.wav"));
    EXPECT_EQ(h.Open().outputEdit()->text(), QStringLiteral("/data/é/mix.wav"));
    h.app().settings().WriteProfileString("Option", "output_cut_file", QString(300, 'z'));
    EXPECT_EQ(h.Open().outputEdit()->text(), h.musicFolder() + QStringLiteral("/output_new.wav"));
}

TEST(Help, OpensTheIntroductionPageBesideTheProgram) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    d.OnHelp();
    ASSERT_EQ(h.help.urls().size(), 1u);
    EXPECT_EQ(h.help.urls()[0], "file://" + h.home().toStdString() + "/bin/help/Introduction.html");
    // A launcher that fails shows nothing.
    h.help.SetResult(false);
    d.OnHelp();
    EXPECT_TRUE(h.boxes.shown().empty());
}

TEST(Help, TheShippedPageExistsInTheBuildTree) {
    const QByteArray bin = qgetenv("VELTRANO_BINARY_DIR");
    ASSERT_FALSE(bin.isEmpty());
    const std::string url = HelpPageUrl(bin.toStdString() + "/veltrano",
                                        [](const std::string& p) { return QFileInfo::exists(QString::fromStdString(p)); });
    const QString local = QUrl(QString::fromStdString(url)).toLocalFile();
    EXPECT_TRUE(QFileInfo::exists(local)) << local.toStdString();
    QFile f(local);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray html = f.readAll();
    for (const char* text : {"Open Media File", "Start Time", "Custom define", "veltrano.conf",
                             "Cannot open the file. You need to install appropriate decoders."})
        EXPECT_TRUE(html.contains(text)) << text;
}

}  // namespace
