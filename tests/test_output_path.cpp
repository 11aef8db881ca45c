// The output path through the dialog: its default, Browse, and Help.

#include "app/ConverterDialog.h"
#include "app/OutputPath.h"
#include "tests/support/DialogFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>
#include <gtest/gtest.h>

using namespace veltrano;
using namespace veltrano::test;

namespace {

QString StoredOutput(const DialogHarness& h) {
    return QSettings(h.settingsFile(), QSettings::IniFormat).value("Option/output_cut_file").toString();
}

TEST(Browse, AsksWithTheWavFilterInTheFolderOfTheLastTakenPath) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    const QString before = h.state().outputFile;
    Edit(d, "m_strOutputFile")->setText(QStringLiteral("/somewhere/else/typed.wav"));  // typed, not yet taken
    Button(d, "m_btnBrowse")->click();
    ASSERT_EQ(h.files.saveRequests().size(), 1u);
    const SaveFileRequest& r = h.files.saveRequests()[0];
    EXPECT_EQ(r.title, "Select Output");
    ASSERT_EQ(r.filters.size(), 1u);
    EXPECT_EQ(r.filters[0].description, "WAV file(*.wav)");
    EXPECT_EQ(r.filters[0].patterns, "*.wav");
    EXPECT_EQ(r.filterIndex, 1);
    EXPECT_EQ(r.initialFolder, h.musicFolder().toStdString());
    // Cancelled: nothing changes, not even the typed text.
    EXPECT_EQ(h.state().outputFile, before);
    EXPECT_EQ(Edit(d, "m_strOutputFile")->text(), QStringLiteral("/somewhere/else/typed.wav"));
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
    const QString status = Label(d, "m_stcStatus")->text();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        h.files.QueueSaveAnswer(c.chosen);
        Button(d, "m_btnBrowse")->click();
        const QString expected = QString::fromStdString(c.expected);
        EXPECT_EQ(h.state().outputFile, expected);
        EXPECT_EQ(Edit(d, "m_strOutputFile")->text(), expected);
        EXPECT_EQ(QString::fromStdString(h.state().outputPath), expected);
        EXPECT_EQ(StoredOutput(h), expected);
        EXPECT_EQ(Label(d, "m_stcStatus")->text(), status) << "Browse leaves the status line alone";
    }
    // The next Browse starts in the folder of the path just taken.
    Button(d, "m_btnBrowse")->click();
    EXPECT_EQ(h.files.saveRequests().back().initialFolder, "/home/u/Музыка");
}

TEST(Browse, APathWithoutSeparatorStartsInTheCurrentFolder) {
    DialogHarness h;
    h.app().settings().WriteProfileString("Option", "output_cut_file", QStringLiteral("plain.wav"));
    ConverterDialog& d = h.Open();
    EXPECT_EQ(Edit(d, "m_strOutputFile")->text(), QStringLiteral("plain.wav"));
    Button(d, "m_btnBrowse")->click();
    EXPECT_EQ(h.files.saveRequests().back().initialFolder, ".");
}

TEST(Browse, RefusesAPathTooLongForTheOutputBuffer) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    const QString before = h.state().outputFile;
    h.files.QueueSaveAnswer("/tmp/" + std::string(260, 'x') + ".mp3");
    Button(d, "m_btnBrowse")->click();
    ASSERT_EQ(h.boxes.shown().size(), 1u);
    EXPECT_NE(h.boxes.shown()[0].text.find("too long"), std::string::npos);
    EXPECT_EQ(h.state().outputFile, before);
    EXPECT_EQ(QString::fromStdString(h.state().outputPath), before);
    // At the limit it is taken: 259 bytes in all.
    const std::string exact = "/tmp/" + std::string(259 - 5 - 4, 'y') + ".wav";
    ASSERT_EQ(exact.size(), 259u);
    h.files.QueueSaveAnswer(exact);
    Button(d, "m_btnBrowse")->click();
    EXPECT_EQ(h.state().outputFile.toStdString(), exact);
}

TEST(OutputPathDefault, AStoredPathWinsAndAnOverlongOneIsIgnored) {
    DialogHarness h;
    h.app().settings().WriteProfileString("Option", "output_cut_file", QStringLiteral("/data/é/mix.wav"));
    EXPECT_EQ(Edit(h.Open(), "m_strOutputFile")->text(), QStringLiteral("/data/é/mix.wav"));
    h.app().settings().WriteProfileString("Option", "output_cut_file", QString(300, 'z'));
    EXPECT_EQ(Edit(h.Open(), "m_strOutputFile")->text(), h.musicFolder() + QStringLiteral("/output_new.wav"));
}

TEST(Help, OpensTheIntroductionPageBesideTheProgram) {
    DialogHarness h;
    ConverterDialog& d = h.Open();
    Button(d, "m_btnHelp")->click();
    ASSERT_EQ(h.help.urls().size(), 1u);
    EXPECT_EQ(h.help.urls()[0], "file://" + h.home().toStdString() + "/bin/help/Introduction.html");
    // A launcher that fails shows nothing.
    h.help.SetResult(false);
    Button(d, "m_btnHelp")->click();
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
