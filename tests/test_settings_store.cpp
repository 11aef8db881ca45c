// The settings file: defaults, round trips, values we did not write, and two
// copies of the program sharing one file.

#include "app/SettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace veltrano;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.path() + QStringLiteral("/Orsivak/veltrano.conf"); }
    void WriteRaw(const QByteArray& content) {
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    QByteArray ReadRaw() const {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(SettingsStoreTest, MissingFileGivesDefaults) {
    SettingsStore s(path());
    EXPECT_EQ(s.GetProfileInt("Option", "nIndex_nSamplesPerSecond", 1), 1);
    EXPECT_EQ(s.GetProfileInt("Option", "n_CustomSamplesPerSecond", 44100), 44100);
    EXPECT_EQ(s.GetProfileString("Option", "LastPhotoFolder", ""), QString());
    EXPECT_FALSE(QFileInfo::exists(path())) << "reading must not create the file";
}

TEST_F(SettingsStoreTest, ValuesRoundTripIncludingNegativeAndUnicode) {
    SettingsStore s(path());
    EXPECT_TRUE(s.WriteProfileInt("Option", "nIndex_nChannels", -1));
    EXPECT_TRUE(s.WriteProfileInt("Option", "n_CustomSamplesPerSecond", 0));
    EXPECT_TRUE(s.WriteProfileString("Option", "output_cut_file", QStringLiteral("/home/é/音楽/a, b=c.wav")));
    EXPECT_TRUE(s.WriteProfileInt("Setup", "g_bFullscreen", 1));

    SettingsStore again(path());
    EXPECT_EQ(again.GetProfileInt("Option", "nIndex_nChannels", 5), -1);
    EXPECT_EQ(again.GetProfileInt("Option", "n_CustomSamplesPerSecond", 44100), 0);
    EXPECT_EQ(again.GetProfileString("Option", "output_cut_file", ""), QStringLiteral("/home/é/音楽/a, b=c.wav"));
    EXPECT_EQ(again.GetProfileInt("Setup", "g_bFullscreen", 0), 1);
    EXPECT_TRUE(ReadRaw().contains("[Option]"));
    EXPECT_TRUE(ReadRaw().contains("[Setup]"));
}

TEST_F(SettingsStoreTest, ValuesThatAreNotIntegersReadAsDefault) {
    WriteRaw("[Option]\n"
             "nIndex_nSamplesPerSecond=abc\n"
             "nIndex_nChannels=1.5\n"
             "nIndex_wBitsPerSample=99999999999\n"
             "n_CustomSamplesPerSecond=\n"
             "output_cut_file=a, b\n"
             "LastPhotoFolder=/music/\n");
    SettingsStore s(path());
    EXPECT_EQ(s.GetProfileInt("Option", "nIndex_nSamplesPerSecond", 1), 1);
    EXPECT_EQ(s.GetProfileInt("Option", "nIndex_nChannels", 0), 0);
    EXPECT_EQ(s.GetProfileInt("Option", "nIndex_wBitsPerSample", 0), 0);
    EXPECT_EQ(s.GetProfileInt("Option", "n_CustomSamplesPerSecond", 44100), 44100);
    // An unquoted comma makes a list: not a text we wrote.
    EXPECT_EQ(s.GetProfileString("Option", "output_cut_file", "dflt"), QStringLiteral("dflt"));
    EXPECT_EQ(s.GetProfileString("Option", "LastPhotoFolder", ""), QStringLiteral("/music/"));
}

TEST_F(SettingsStoreTest, GarbageFileReadsAsDefaultsAndIsRepairedByAWrite) {
    WriteRaw(QByteArray("\x00\xff\xfe[[[Option\n=====\n\x01\x02", 22));
    SettingsStore s(path());
    EXPECT_EQ(s.GetProfileInt("Option", "nIndex_nSamplesPerSecond", 1), 1);
    s.WriteProfileInt("Option", "nIndex_nSamplesPerSecond", 3);
    EXPECT_EQ(SettingsStore(path()).GetProfileInt("Option", "nIndex_nSamplesPerSecond", 1), 3);
}

TEST_F(SettingsStoreTest, FailedWriteIsReportedAndLeavesReadsAtDefaults) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes through read-only folders";
    QDir().mkpath(QFileInfo(path()).absolutePath());
    ASSERT_EQ(chmod(QFile::encodeName(QFileInfo(path()).absolutePath()).constData(), 0500), 0);
    SettingsStore s(path());
    EXPECT_FALSE(s.WriteProfileInt("Option", "nIndex_nChannels", 1));
    EXPECT_EQ(s.GetProfileInt("Option", "nIndex_nChannels", 0), 0);
    chmod(QFile::encodeName(QFileInfo(path()).absolutePath()).constData(), 0700);
}

TEST_F(SettingsStoreTest, UnwritableLocationIsIgnoredWithoutCrash) {
    WriteRaw("");
    // A folder standing where the file should be: nothing can be written there.
    SettingsStore s(dir.path() + QStringLiteral("/Orsivak"));
    EXPECT_FALSE(s.WriteProfileInt("Option", "nIndex_nChannels", 1));
    EXPECT_EQ(s.GetProfileInt("Option", "nIndex_nChannels", 7), 7);
}

TEST_F(SettingsStoreTest, TwoCopiesShareTheFileAndTheOneClosedLastWins) {
    SettingsStore first(path());
    SettingsStore second(path());
    first.WriteProfileString("Option", "LastPhotoFolder", QStringLiteral("/a/"));
    // Each read goes to the file: the other copy's value is seen at once.
    EXPECT_EQ(second.GetProfileString("Option", "LastPhotoFolder", ""), QStringLiteral("/a/"));
    second.WriteProfileInt("Option", "nIndex_nChannels", 1);
    first.WriteProfileInt("Option", "nIndex_nChannels", 0);
    EXPECT_EQ(SettingsStore(path()).GetProfileInt("Option", "nIndex_nChannels", 9), 0);
    // A value only the other copy wrote is not lost by our write.
    EXPECT_EQ(SettingsStore(path()).GetProfileString("Option", "LastPhotoFolder", ""), QStringLiteral("/a/"));
}

TEST(SettingsLocation, FollowsKeyAndExecutableName) {
    qputenv("XDG_CONFIG_HOME", "/tmp/veltrano-cfg-test");
    EXPECT_EQ(SettingsStore::FilePathFor("Orsivak", "veltrano"),
              QStringLiteral("/tmp/veltrano-cfg-test/Orsivak/veltrano.conf"));
    EXPECT_EQ(SettingsStore::FilePathFor("Orsivak", "wav-tool"),
              QStringLiteral("/tmp/veltrano-cfg-test/Orsivak/wav-tool.conf"));
    qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
