// veltrano-convert with several inputs: parallel jobs, a file that fails among
// good ones, outputs that would overwrite each other, and Ctrl+C.

#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "engine/ConvertChecks.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace veltrano;
using namespace veltrano::test;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string LastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const std::size_t newline = text.rfind('\n', end);
    const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(start, end - start + 1);
}

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Batch : public ::testing::Test {
protected:
    // Each input has its own tone, so an output shows which input it came from.
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        QDir(dir_->path()).mkpath(QStringLiteral("sub"));
        ASSERT_TRUE(MakeAudio(Path("a.ogg"), AudioKind::OggVorbis, Tone(1.0, 48000, 2, 300.0)));
        ASSERT_TRUE(MakeAudio(Path("b.flac"), AudioKind::Flac, Tone(1.0, 44100, 2, 440.0)));
        ASSERT_TRUE(MakeGaplessMp3(Path("c.mp3"), Tone(1.0, 48000, 2, 550.0)));
        ASSERT_TRUE(WriteWavFile(Path("d.wav"), Tone(1.0, 48000, 2, 660.0)));
        ASSERT_TRUE(WriteWavFile(Path("sub/a.wav"), Tone(1.0, 48000, 1, 880.0)));
        ASSERT_TRUE(MakeTextFile(Path("text.mp3")));
        ASSERT_TRUE(WriteWavFile(Path("long.wav"), Tone(240.0, 48000, 2, 440.0, 0.3)));
        for (const char* name : {"long1.wav", "long2.wav", "long3.wav"})
            ASSERT_TRUE(QFile::link(dir_->filePath(QStringLiteral("long.wav")), dir_->filePath(QLatin1String(name))));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Path(const char* name) { return dir_->filePath(QString::fromLatin1(name)).toStdString(); }
    static QString In(const char* name) { return dir_->filePath(QString::fromLatin1(name)); }
    // A fresh output folder.
    static QString OutDir(const char* name) {
        const QString path = dir_->filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        return path;
    }
    static QTemporaryDir* dir_;
};

QTemporaryDir* Batch::dir_ = nullptr;

TEST_F(Batch, ParallelJobsConvertEveryFileWithItsOwnSound) {
    const QString out = OutDir("parallel");
    const Exit e = RunCli({"-j", "2", "-d", out, "-r", "22050", "-c", "1", "-b", "8", "-s", "0.25", "-e", "0.75",
                           In("a.ogg"), In("b.flac"), In("c.mp3"), In("d.wav")});
    ASSERT_EQ(e.status, kExitDone) << e.err;
    EXPECT_EQ(LastLine(e.err), "Converted 4 of 4 files.");
    const std::pair<const char*, double> expected[] = {{"a.wav", 300}, {"b.wav", 440}, {"c.wav", 550}, {"d.wav", 660}};
    for (const auto& [name, frequency] : expected) {
        const std::string path = (out + "/" + QLatin1String(name)).toStdString();
        EXPECT_TRUE(Contains(e.out, DoneText(path) + "\n")) << name << "\n" << e.out;
        const WavFile w = ReadWavFile(path);
        ASSERT_TRUE(w.ok) << name << ": " << w.error;
        EXPECT_EQ(w.formatTag, 1);
        EXPECT_EQ(w.sampleRate, 22050u);
        EXPECT_EQ(w.channels, 1);
        EXPECT_EQ(w.bitsPerSample, 8);
        EXPECT_EQ(w.blockAlign, 1);
        EXPECT_EQ(w.byteRate, 22050u);
        EXPECT_EQ(w.riffSize, w.fileSize - 8) << name;
        EXPECT_NEAR(double(w.frames()), 11025.0, 1.0) << name;  // -s and -e hold for every file
        EXPECT_NEAR(ToneFrequency(w.channel(0), 22050), frequency, 2.0) << name;
    }
}

TEST_F(Batch, AFailingFileDoesNotStopTheOthers) {
    const QString out = OutDir("failing");
    QFile::copy(In("text.mp3"), out + "/d.wav");  // there already, and no -y
    const Exit e = RunCli({"-j", "2", "-d", out, In("a.ogg"), In("text.mp3"), In("b.flac"), In("d.wav")});
    // An input that cannot be measured gives 3, a refused output 4: the run says the worst.
    EXPECT_EQ(e.status, kExitOutputRefused) << e.err;
    EXPECT_EQ(LastLine(e.err), "Converted 2 of 4 files; 2 failed.");
    EXPECT_TRUE(Contains(e.err, "veltrano-convert: " + Path("text.mp3") + ": Can not get the duration of the clip!"))
        << e.err;
    EXPECT_TRUE(Contains(e.err, ReplaceQuestionText((out + "/d.wav").toStdString()))) << e.err;
    EXPECT_EQ(Contents(out + "/d.wav"), Contents(In("text.mp3")));
    for (const char* name : {"a.wav", "b.wav"}) {
        const WavFile w = ReadWavFile((out + "/" + QLatin1String(name)).toStdString());
        ASSERT_TRUE(w.ok) << name << ": " << w.error;
        EXPECT_EQ(w.frames(), 44100u) << name;
    }
    EXPECT_FALSE(QFile::exists(out + "/text.wav"));

    // One bad file among good ones, -y replacing what the first run wrote.
    const Exit again = RunCli({"-y", "-q", "-d", out, In("a.ogg"), In("text.mp3"), In("b.flac")});
    EXPECT_EQ(again.status, kExitInputUnusable);
    EXPECT_EQ(LastLine(again.err), "Converted 2 of 3 files; 1 failed.");
    EXPECT_FALSE(Contains(again.err, "Used Time")) << again.err;
    EXPECT_FALSE(Contains(again.err, "[1/3]")) << again.err;
}

TEST_F(Batch, TheLaterOfTwoInputsWithTheSameOutputIsRefused) {
    const QString out = OutDir("collide");
    const Exit e = RunCli({"-y", "-j", "2", "-d", out, In("a.ogg"), In("sub/a.wav")});
    EXPECT_EQ(e.status, kExitOutputRefused);
    const std::string output = (out + "/a.wav").toStdString();
    EXPECT_TRUE(Contains(e.err, SameOutputText(output, Path("a.ogg")))) << e.err;
    EXPECT_EQ(e.out, DoneText(output) + "\n");
    const WavFile w = ReadWavFile(output);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_NEAR(ToneFrequency(w.channel(0), 44100), 300.0, 2.0);  // the earlier input's sound

    // An output that would replace another input of the run, or the input itself.
    const QByteArray before = Contents(In("sub/a.wav"));
    const Exit over = RunCli({"-y", "-d", In("sub"), In("a.ogg"), In("sub/a.wav")});
    EXPECT_EQ(over.status, kExitOutputRefused);
    EXPECT_EQ(LastLine(over.err), "Converted 0 of 2 files; 2 failed.");
    EXPECT_TRUE(Contains(over.err, OutputIsOtherInputText(In("sub/a.wav").toStdString()))) << over.err;
    EXPECT_EQ(Contents(In("sub/a.wav")), before);
}

TEST_F(Batch, ArgumentsThatCannotMakeABatch) {
    const QString out = OutDir("args");
    const Exit two = RunCli({"-o", out + "/x.wav", In("a.ogg"), In("b.flac")});
    EXPECT_EQ(two.status, kExitBadArguments);
    EXPECT_TRUE(Contains(two.err, "-d")) << two.err;
    for (const QStringList& args : {QStringList{"-d", out, "-j", "0", In("a.ogg")},
                                    QStringList{"-d", out, "-o", out + "/x.wav", In("a.ogg")},
                                    QStringList{"--probe", In("a.ogg"), In("b.flac")}})
        EXPECT_EQ(RunCli(args).status, kExitBadArguments) << args.join(' ').toStdString();
    const Exit noFolder = RunCli({"-d", out + "/missing", In("a.ogg"), In("b.flac")});
    EXPECT_EQ(noFolder.status, kExitOutputRefused);
    EXPECT_TRUE(Contains(noFolder.err, NotAFolderText((out + "/missing").toStdString()))) << noFolder.err;
    EXPECT_TRUE(QDir(out).isEmpty());
}

TEST_F(Batch, InterruptStopsEveryJobAndStartsNoMore) {
    const QString out = OutDir("interrupted");
    QProcess p;
    p.start(Program(), {"-j", "2", "-d", out, In("long1.wav"), In("long2.wav"), In("long3.wav")});
    ASSERT_TRUE(p.waitForStarted());
    p.setReadChannel(QProcess::StandardError);
    std::string err;
    while (!Contains(err, "Used Time") && p.waitForReadyRead(20000)) err += p.readAllStandardError().toStdString();
    ASSERT_TRUE(Contains(err, "Used Time"));
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), kExitInterrupted);
    err += p.readAllStandardError().toStdString();
    EXPECT_EQ(LastLine(err), "Converted 0 of 3 files; 2 stopped, 1 not started.") << err;
    EXPECT_EQ(p.readAllStandardOutput().toStdString(), "");
    for (const char* name : {"long1.wav", "long2.wav"}) {
        const std::string path = (out + "/" + QLatin1String(name)).toStdString();
        EXPECT_TRUE(Contains(err, " of 00:04:00 in " + path + ".\n")) << err;
        const WavFile w = ReadWavFile(path);
        ASSERT_TRUE(w.ok) << name << ": " << w.error;
        EXPECT_EQ(w.riffSize, w.fileSize - 8);
        EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
        EXPECT_LT(w.frames(), 240u * 44100u);
    }
    EXPECT_FALSE(QFile::exists(out + "/long3.wav"));
}

}  // namespace
