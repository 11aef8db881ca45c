// veltrano-convert as a script sees it: exit statuses, what goes to stdout
// and stderr, the files it writes, and Ctrl+C.

#include "cli/CommandLine.h"
#include "engine/ConvertChecks.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <set>

using namespace veltrano;
using namespace veltrano::test;

namespace {

class Cli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        ASSERT_TRUE(MakeGaplessMp3(Path("song.mp3"), Tone(2.5, 48000, 2, 440.0)));
        ASSERT_TRUE(MakeAudio(Path("tone.ogg"), AudioKind::OggVorbis, Tone(2.0, 48000, 2, 440.0)));
        ASSERT_TRUE(WriteWavFile(Path("long.wav"), Tone(240.0, 48000, 2, 440.0, 0.3)));
        ASSERT_TRUE(MakeTextFile(Path("text.mp3")));
        VideoSpec silent;
        silent.withAudio = false;
        ASSERT_TRUE(MakeVideo(Path("silent.mp4"), silent));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static QString Path(const QString& name) { return dir_->filePath(name); }
    static std::string Path(const char* name) { return dir_->filePath(QString::fromLatin1(name)).toStdString(); }
    static QTemporaryDir* dir_;
};

QTemporaryDir* Cli::dir_ = nullptr;

TEST_F(Cli, ConvertsToTheExactEndAndSaysDone) {
    const QString out = Path(QStringLiteral("song.wav"));
    const Exit e = RunCli({"-o", out, "-r", "22050", "-c", "1", Path(QStringLiteral("song.mp3"))});
    ASSERT_EQ(e.status, kExitDone) << e.err;
    EXPECT_EQ(e.out, DoneText(out.toStdString()) + "\n");
    EXPECT_NE(e.err.find("Please wait... Used Time: 00:00:00"), std::string::npos) << e.err;
    const WavFile w = ReadWavFile(out.toStdString());
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.sampleRate, 22050u);
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.frames(), 55125u);  // 2.5 s: the MP3's stated delay and padding are not part of it
    EXPECT_NEAR(ToneFrequency(w.channel(0), 22050), 440.0, 0.5);

    const Exit part = RunCli({"-q", "-y", "-o", out, "-s", "0.5", "-e", "00:01.25", Path(QStringLiteral("tone.ogg"))});
    ASSERT_EQ(part.status, kExitDone) << part.err;
    EXPECT_EQ(part.err, "");
    EXPECT_EQ(ReadWavFile(out.toStdString()).frames(), 33075u);
}

// Dither is on by default and repeats run to run; --dither none rounds.
TEST_F(Cli, DitherIsReproducibleAndCanBeTurnedOff) {
    const QString in = Path(QStringLiteral("tone.ogg"));
    const auto convert = [&](const char* name, std::initializer_list<QString> extra) {
        const QString out = Path(QString::fromLatin1(name));
        QStringList args{"-q", "-o", out, "-b", "8", "-r", "22050"};
        for (const QString& a : extra) args << a;
        args << in;
        const Exit e = RunCli(args);
        EXPECT_EQ(e.status, kExitDone) << e.err;
        QFile f(out);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray first = convert("dither1.wav", {});
    ASSERT_GT(first.size(), 44);
    EXPECT_EQ(convert("dither2.wav", {}), first);
    EXPECT_EQ(convert("dither3.wav", {"--dither", "tpdf"}), first);
    const QByteArray rounded = convert("rounded.wav", {"--dither", "none"});
    ASSERT_EQ(rounded.size(), first.size());
    EXPECT_NE(rounded, first);
}

// The source's tags go into the file unless --no-tags says otherwise.
TEST_F(Cli, TagsAreWrittenUnlessLeftOut) {
    const std::string tagged = Path("tagged.flac");
    std::string e;
    ASSERT_TRUE(MakeWithPipeline("audiotestsrc num-buffers=50 ! audio/x-raw,rate=44100,channels=2 ! "
                                 "taginject tags=\"title=Night\" ! flacenc ! filesink location=\"" + tagged + "\"",
                                 &e))
        << e;
    const QString with = Path(QStringLiteral("with-tags.wav")), without = Path(QStringLiteral("without-tags.wav"));
    ASSERT_EQ(RunCli({"-q", "-o", with, QString::fromStdString(tagged)}).status, kExitDone);
    ASSERT_EQ(RunCli({"-q", "--no-tags", "-o", without, QString::fromStdString(tagged)}).status, kExitDone);
    EXPECT_EQ(ReadWavFile(with.toStdString()).chunkIds, (std::vector<std::string>{"fmt ", "LIST", "data"}));
    EXPECT_EQ(ReadWavFile(without.toStdString()).chunkIds, (std::vector<std::string>{"fmt ", "data"}));
}

TEST_F(Cli, ProbePrintsTheLength) {
    const Exit e = RunCli({"--probe", Path(QStringLiteral("song.mp3"))});
    EXPECT_EQ(e.status, kExitDone);
    // The length lines first, as they always were; the sound stream after them.
    EXPECT_EQ(e.out.rfind("length: 2.500\nwhole: 00:00:02\nstream 0: ", 0), 0u) << e.out;
    EXPECT_NE(e.out.find(", 48000 Hz, 2 channels"), std::string::npos) << e.out;
}

TEST_F(Cli, BadArgumentsExitWithTwo) {
    const QString in = Path(QStringLiteral("tone.ogg"));
    const QString out = Path(QStringLiteral("bad.wav"));
    for (const QStringList& args : {QStringList{}, QStringList{in}, QStringList{"-o", out, "-c", "3", in},
                                    QStringList{"-o", out, "-b", "12", in}, QStringList{"-o", out, "-c", "6", in},
                                    QStringList{"-o", out, "-b", "32F", in}, QStringList{"--frobnicate", in},
                                    QStringList{"-o", out, "-s", "1:75", in}, QStringList{"-o", out, in, in}}) {
        const Exit e = RunCli(args);
        EXPECT_EQ(e.status, kExitBadArguments) << args.join(' ').toStdString();
        EXPECT_NE(e.err.find("--help"), std::string::npos);
    }
    const Exit empty = RunCli({"-o", out, "-s", "1.5", "-e", "1.5", in});
    EXPECT_EQ(empty.status, kExitBadArguments);
    EXPECT_NE(empty.err.find(kEndBeforeStartText), std::string::npos);
    const Exit rate = RunCli({"-o", out, "-r", "0", in});
    EXPECT_EQ(rate.status, kExitBadArguments);
    EXPECT_NE(rate.err.find(kRateTooSmallText), std::string::npos);
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_EQ(RunCli({"--help"}).status, kExitDone);
    EXPECT_EQ(RunCli({"--version"}).out, "veltrano-convert " VELTRANO_VERSION "\n");
}

TEST_F(Cli, UnusableInputExitsWithThree) {
    const QString out = Path(QStringLiteral("x.wav"));
    for (const char* name : {"missing.ogg", "text.mp3", "silent.mp4"}) {
        const Exit e = RunCli({"-o", out, Path(QString::fromLatin1(name))});
        EXPECT_EQ(e.status, kExitInputUnusable) << name << ": " << e.err;
    }
    EXPECT_NE(RunCli({"-o", out, Path(QStringLiteral("silent.mp4"))}).err.find(kNoSoundStreamText), std::string::npos);
    EXPECT_NE(RunCli({"-o", out, Path(QStringLiteral("text.mp3"))}).err.find("Can not get the duration of the clip!"),
              std::string::npos);
}

TEST_F(Cli, RefusedOutputExitsWithFour) {
    const QString in = Path(QStringLiteral("tone.ogg"));
    const QString existing = Path(QStringLiteral("existing.wav"));
    ASSERT_TRUE(MakeTextFile(existing.toStdString(), "keep"));
    const Exit exists = RunCli({"-o", existing, in});
    EXPECT_EQ(exists.status, kExitOutputRefused);
    EXPECT_NE(exists.err.find(ReplaceQuestionText(existing.toStdString())), std::string::npos);
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "keep");

    EXPECT_EQ(RunCli({"-y", "-o", in, in}).status, kExitOutputRefused);
    // A folder that is not there: refused before anything runs, in plain words.
    const QString lost = Path(QStringLiteral("no/dir/x.wav"));
    const Exit noFolder = RunCli({"-o", lost, in});
    EXPECT_EQ(noFolder.status, kExitOutputRefused);
    EXPECT_EQ(noFolder.err, "veltrano-convert: Cannot write " + lost.toStdString() + ": No such file or directory.\n");
    EXPECT_EQ(RunCli({"-o", dir_->path() + "/" + QString(300, 'a') + ".wav", in}).status, kExitOutputRefused);
    // At the limit the path is taken whole; one byte more is refused, never cut.
    const QString folder = dir_->path() + "/";
    const QString atLimit = folder + QString(259 - int(folder.toUtf8().size()) - 4, 'n') + ".wav";
    ASSERT_EQ(atLimit.toUtf8().size(), 259);
    const QString pastLimit = atLimit.left(atLimit.size() - 4) + "x.wav";
    const Exit past = RunCli({"-o", pastLimit, in});
    EXPECT_EQ(past.status, kExitOutputRefused);
    EXPECT_FALSE(QFile::exists(pastLimit)) << "nothing is written under a cut name";
    EXPECT_EQ(RunCli({"-q", "-o", atLimit, in}).status, kExitDone);
    EXPECT_TRUE(ReadWavFile(atLimit.toStdString()).ok);

    // A FIFO is refused, even with -y, without being opened (a writer would wait for a reader).
    const QString fifo = Path(QStringLiteral("fifo.wav"));
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0644), 0);
    const Exit special = RunCli({"-y", "-o", fifo, in});
    EXPECT_EQ(special.status, kExitOutputRefused);
    EXPECT_NE(special.err.find("Cannot write " + fifo.toStdString() + ": it is a FIFO, not a regular file."),
              std::string::npos)
        << special.err;
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.toUtf8().constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ::unlink(fifo.toUtf8().constData());
}

// The widths beyond 16 bits and the source's channels, as the options name them.
TEST_F(Cli, WideFloatAndSourceChannelFormats) {
    const QString surround = Path(QStringLiteral("five-one.flac"));
    ASSERT_TRUE(MakeAudio(surround.toStdString(), AudioKind::Flac, Tone(1.0, 48000, 6, 440.0, 0.4)));
    struct Case {
        QStringList args;
        QString input;
        std::uint16_t channels, bits, formatTag, sampleType;
        std::uint32_t mask;  // extensible only
    } cases[] = {
        {{"-c", "source", "-b", "24"}, surround, 6, 24, 0xFFFE, 1, 0x3F},
        {{"-c", "source", "-b", "32f", "-r", "96000"}, surround, 6, 32, 0xFFFE, 3, 0x3F},
        {{"--bits=32"}, surround, 2, 32, 0xFFFE, 1, 0x3},
        {{"-c", "1", "-b", "32f"}, Path(QStringLiteral("tone.ogg")), 1, 32, 3, 3, 0},
        {{"--channels=source"}, Path(QStringLiteral("tone.ogg")), 2, 16, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const QString out = Path(QStringLiteral("wide.wav"));
        const Exit e = RunCli(QStringList{"-q", "-y", "-o", out} + c.args + QStringList{c.input});
        ASSERT_EQ(e.status, kExitDone) << e.err;
        const WavFile w = ReadWavFile(out.toStdString());
        ASSERT_TRUE(w.ok) << w.error;
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(w.bitsPerSample, c.bits);
        EXPECT_EQ(w.formatTag, c.formatTag);
        EXPECT_EQ(w.sampleType, c.sampleType);
        if (c.formatTag == 0xFFFE) {
            EXPECT_EQ(w.channelMask, c.mask);
        }
        const int rate = int(w.sampleRate);
        EXPECT_EQ(w.frames(), std::uint64_t(c.input == surround ? rate : 2 * rate));
        for (int ch = 0; ch < w.channels; ++ch) EXPECT_NEAR(ToneFrequency(w.channel(ch), rate), 440.0, 0.5) << ch;
    }
    // The source's channels count as eight in the check of the bytes per second.
    const Exit wide = RunCli({"-o", Path(QStringLiteral("never.wav")), "-c", "source", "-b", "32", "-r", "200000000",
                              surround});
    EXPECT_EQ(wide.status, kExitBadArguments);
    EXPECT_NE(wide.err.find("of 32 bytes each"), std::string::npos) << wide.err;
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("never.wav"))));
}

// A rate the converter cannot produce is a bad argument, never written at another rate.
TEST_F(Cli, RateTheConverterCannotProduceExitsWithTwo) {
    const QString out = Path(QStringLiteral("fast.wav"));
    const Exit fast = RunCli({"-o", out, "-r", "1000000", Path(QStringLiteral("tone.ogg"))});
    EXPECT_EQ(fast.status, kExitBadArguments);
    EXPECT_NE(fast.err.find("cannot produce 1000000 samples per second"), std::string::npos) << fast.err;
    EXPECT_FALSE(QFile::exists(out));
}

TEST_F(Cli, FailedConversionExitsWithFive) {
    const QString out = Path(QStringLiteral("full.wav"));
    Exit e;
    {
        const ScopedFileSizeLimit diskFull(64 * 1024);  // the child inherits it
        e = RunCli({"-o", out, Path(QStringLiteral("long.wav"))});
    }
    EXPECT_EQ(e.status, kExitConversionFailed);
    EXPECT_NE(e.err.find("The conversion failed: "), std::string::npos) << e.err;
    EXPECT_EQ(e.out.find("Done"), std::string::npos);
}

TEST_F(Cli, InterruptStopsWithACompleteFile) {
    const QString out = Path(QStringLiteral("interrupted.wav"));
    QProcess p;
    p.start(Program(), {"-o", out, Path(QStringLiteral("long.wav"))});
    ASSERT_TRUE(p.waitForStarted());
    p.setReadChannel(QProcess::StandardError);
    // The first progress line says the conversion runs.
    std::string err;
    while (err.find("Used Time") == std::string::npos && p.waitForReadyRead(20000))
        err += p.readAllStandardError().toStdString();
    ASSERT_NE(err.find("Used Time"), std::string::npos);
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), kExitInterrupted);
    // Never "Done": it says it stopped, and what it kept.
    EXPECT_EQ(p.readAllStandardOutput().toStdString(), "");
    err += p.readAllStandardError().toStdString();
    static const QRegularExpression stopped(QStringLiteral(R"(\nStopped\. Kept \d\d:\d\d:\d\d of 00:04:00 in (.*)\.\n)"));
    const auto said = stopped.match(QString::fromStdString(err));
    ASSERT_TRUE(said.hasMatch()) << err;
    EXPECT_EQ(said.captured(1), out);
    const WavFile w = ReadWavFile(out.toStdString());
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    EXPECT_LT(w.frames(), 240u * 44100u);
}

// The options of the help's option lines, and of the manual's tagged paragraphs.
std::set<std::string> OptionsIn(const QStringList& lines) {
    std::set<std::string> options;
    static const QRegularExpression option(QStringLiteral(R"((?<![\w-])(--?[a-z][a-z-]*))"));
    for (const QString& line : lines)
        for (const auto& m : option.globalMatch(line)) options.insert(m.captured(1).toStdString());
    return options;
}

QString ManualPage() {
    QFile f(qEnvironmentVariable("VELTRANO_SOURCE_DIR") + "/docs/veltrano-convert.1");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

TEST(CliDocumentation, ManualPageDescribesWhatHelpDescribes) {
    const Exit help = RunCli({"--help"});
    ASSERT_EQ(help.status, kExitDone);
    EXPECT_EQ(help.out, ConvertUsageText());
    const QStringList helpLines = QString::fromStdString(help.out).split('\n');
    QStringList optionLines, statuses;
    static const QRegularExpression optionLine(QStringLiteral(R"(^ {2,6}--?[a-z])"));
    static const QRegularExpression statusLine(QStringLiteral(R"(^  (\d+)\s)"));
    for (const QString& line : helpLines) {
        if (optionLine.match(line).hasMatch()) optionLines << line.left(25);  // the option column
        if (const auto m = statusLine.match(line); m.hasMatch()) statuses << m.captured(1);
    }
    const std::set<std::string> helpOptions = OptionsIn(optionLines);
    EXPECT_EQ(helpOptions.size(), 32u);  // 12 options with a short and a long name, 8 with a long one

    const QString page = ManualPage();
    ASSERT_FALSE(page.isEmpty());
    QStringList tags;  // the line after each .TP: an option, or an exit status
    const QStringList lines = page.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != QLatin1String(".TP")) continue;
        QString tag = lines[i + 1];
        tag.replace(QRegularExpression(QStringLiteral(R"(\\f[BIRP]|^\.[BI]R? )")), QString());
        tags << tag.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    }
    EXPECT_EQ(OptionsIn(tags), helpOptions);
    const qsizetype exitSection = page.indexOf(QLatin1String(".SH EXIT STATUS"));
    ASSERT_GE(exitSection, 0);
    for (const QString& status : statuses)
        EXPECT_TRUE(page.indexOf(".TP\n.B " + status + "\n", exitSection) > exitSection) << status.toStdString();
    EXPECT_EQ(statuses, (QStringList{"0", "2", "3", "4", "5", "130"}));
    for (const char* section : {".SH SYNOPSIS", ".SH OPTIONS", ".SH TIME", ".SH EXAMPLES"})
        EXPECT_TRUE(page.contains(QLatin1String(section))) << section;

    // It renders, and without a warning.
    QProcess groff;
    groff.start(QStringLiteral("groff"), {"-man", "-ww", "-z", qEnvironmentVariable("VELTRANO_SOURCE_DIR") +
                                                               "/docs/veltrano-convert.1"});
    if (!groff.waitForStarted()) GTEST_SKIP() << "groff is not installed";
    ASSERT_TRUE(groff.waitForFinished(30000));
    EXPECT_EQ(groff.exitCode(), 0);
    EXPECT_EQ(groff.readAllStandardError().toStdString(), "");
}

}  // namespace
