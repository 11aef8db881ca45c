// veltrano-convert in scripts and over archives, through the real program:
// sound streams, standard output, durations, lists of inputs, resumed runs,
// the JSON report, and the faults users found (special files, folders that
// cannot take an output, unreadable outputs, waits that Ctrl+C must end).

#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "engine/ConvertChecks.h"
#include "media/MediaProbe.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>

using namespace veltrano;
using namespace veltrano::test;

namespace {

constexpr uid_t kNobody = 65534;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double Rms(const std::vector<float>& x, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count && i < x.size(); ++i) sum += double(x[i]) * x[i];
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The program with bytes on its standard input, in a working folder, and
// (for a child of root) as the user nobody.
struct Launch {
    QByteArray input;
    QString workDir;
    bool asNobody = false;
    QString home;  // HOME and caches of that user
};

Launch WithInput(const QByteArray& input) {
    Launch how;
    how.input = input;
    return how;
}

Launch InFolder(const QString& folder) {
    Launch how;
    how.workDir = folder;
    return how;
}

Launch AsNobody(const QString& home) {
    Launch how;
    how.asNobody = true;
    how.home = home;
    return how;
}

Exit RunAs(const QStringList& args, const Launch& how) {
    QProcess p;
    if (!how.workDir.isEmpty()) p.setWorkingDirectory(how.workDir);
    if (how.asNobody) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), how.home);
        env.insert(QStringLiteral("XDG_CACHE_HOME"), how.home + "/cache");
        p.setProcessEnvironment(env);
        p.setChildProcessModifier([] {
            // Only the child changes user; a failure leaves it unable to run the program's checks as nobody.
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(99);
        });
    }
    p.start(Program(), args);
    if (!how.input.isEmpty()) p.write(how.input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

// Every line of a --report file, parsed.
std::vector<QJsonObject> ReportLines(const QString& path) {
    std::vector<QJsonObject> lines;
    for (const QByteArray& line : Contents(path).split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(doc.isObject()) << line.toStdString();
        lines.push_back(doc.object());
    }
    return lines;
}

const QJsonObject* LineFor(const std::vector<QJsonObject>& lines, const QString& input) {
    for (const QJsonObject& l : lines)
        if (l.value(QStringLiteral("input")).toString() == input) return &l;
    return nullptr;
}

// Waits, without a deadline of its own, until the child is inside 'syscall'
// and asleep there twice in a row: then it waits on something, not passing by.
bool WaitUntilBlockedIn(qint64 pid, long syscall) {
    const QString base = "/proc/" + QString::number(pid);
    int seen = 0;
    for (int i = 0; i < 6000 && seen < 2; ++i) {
        QThread::msleep(10);
        const QByteArray call = Contents(base + "/syscall");
        const QByteArray stat = Contents(base + "/stat");
        const qsizetype close = stat.lastIndexOf(')');
        const bool asleep = close > 0 && stat.mid(close + 2, 1) == "S";
        seen = asleep && call.startsWith(QByteArray::number(qlonglong(syscall)) + ' ') ? seen + 1 : 0;
    }
    return seen >= 2;
}

class Scripting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir();
        std::string error;
        const std::vector<ToneStream> streams = {{300.0, 48000, 2, "eng", "Main"},
                                                      {700.0, 22050, 1, "fra", "Commentary"}};
        ASSERT_TRUE(MakeSoundStreams(Path("two.mkv"), "mkv", 3.0, streams, true, &error)) << error;
        // Long enough to be decoded in spans side by side where there are cores.
        ASSERT_TRUE(MakeSoundStreams(Path("two.mp4"), "mp4", 40.0, streams, false, &error)) << error;
        ASSERT_TRUE(MakeAudio(Path("tone.ogg"), AudioKind::OggVorbis, Tone(2.0, 48000, 2, 440.0)));
        ASSERT_TRUE(MakeGaplessMp3(Path("song.mp3"), Tone(2.5, 48000, 2, 550.0)));
        ASSERT_TRUE(WriteWavFile(Path("long.wav"), Tone(240.0, 48000, 2, 440.0, 0.3)));
        ASSERT_TRUE(MakeTextFile(Path("text.mp3")));
        // A video whose sound ends two seconds before the file does.
        VideoSpec early;
        early.seconds = 3.0;
        early.container = "mkv";
        early.audio = Tone(1.0, 48000, 2, 440.0);
        ASSERT_TRUE(MakeVideo(Path("early.mkv"), early, &error)) << error;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Path(const char* name) { return dir_->filePath(QString::fromLatin1(name)).toStdString(); }
    static QString In(const char* name) { return dir_->filePath(QString::fromLatin1(name)); }
    // A fresh folder of the suite's.
    static QString Folder(const char* name) {
        const QString path = dir_->filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        return path;
    }
    static QTemporaryDir* dir_;
};

QTemporaryDir* Scripting::dir_ = nullptr;

// ---- sound streams ----

TEST_F(Scripting, ProbeListsEverySoundStreamAfterTheLength) {
    for (const char* file : {"two.mkv", "two.mp4"}) {
        const Exit e = RunCli({"--probe", In(file)});
        ASSERT_EQ(e.status, kExitDone) << file << ": " << e.err;
        const QStringList lines = QString::fromStdString(e.out).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 4) << e.out;  // the video stream is not a sound stream
        EXPECT_TRUE(lines[0].startsWith(QLatin1String("length: "))) << e.out;
        EXPECT_TRUE(lines[1].startsWith(QLatin1String("whole: 00:00:"))) << e.out;
        // Language and title: Matroska states them in its header, MP4 only with the stream's first data.
        static const QRegularExpression first(
            QStringLiteral(R"(^stream 0: .+, 48000 Hz, 2 channels, language en(g)?, title "Main"$)"));
        static const QRegularExpression second(
            QStringLiteral(R"(^stream 1: .+, 22050 Hz, 1 channel, language fr(a)?, title "Commentary"$)"));
        EXPECT_TRUE(first.match(lines[2]).hasMatch()) << file << ": " << lines[2].toStdString();
        EXPECT_TRUE(second.match(lines[3]).hasMatch()) << file << ": " << lines[3].toStdString();
    }
    // A file without language or title says only what it has.
    const Exit ogg = RunCli({"--probe", In("tone.ogg")});
    static const QRegularExpression plain(QStringLiteral(R"(\nstream 0: [^,]+, 48000 Hz, 2 channels\n$)"));
    EXPECT_TRUE(plain.match(QString::fromStdString(ogg.out)).hasMatch()) << ogg.out;
}

TEST_F(Scripting, StreamNConvertsThatSound) {
    const QString out = Folder("streams");
    const auto convert = [&](const char* file, const char* name, QStringList extra) {
        const QString path = out + "/" + QLatin1String(name);
        const Exit e = RunCli(QStringList{"-q", "-r", "22050", "-c", "1", "-o", path} + extra + QStringList{In(file)});
        EXPECT_EQ(e.status, kExitDone) << name << ": " << e.err;
        return ReadWavFile(path.toStdString());
    };
    const WavFile second = convert("two.mkv", "second.wav", {"--stream", "1"});
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_EQ(second.frames(), 3u * 22050u);
    EXPECT_NEAR(ToneFrequency(second.channel(0), 22050), 700.0, 2.0);
    const WavFile first = convert("two.mkv", "first.wav", {"--stream", "0"});
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_NEAR(ToneFrequency(first.channel(0), 22050), 300.0, 2.0);
    // Without the option: the first sound stream, byte for byte as before.
    convert("two.mkv", "default.wav", {});
    EXPECT_EQ(Contents(out + "/default.wav"), Contents(out + "/first.wav"));

    // Decoded in spans (where there are two cores): every span is the chosen stream's.
    const WavFile spans = convert("two.mp4", "spans.wav", {"--stream=1"});
    ASSERT_TRUE(spans.ok) << spans.error;
    EXPECT_NEAR(double(spans.frames()), 40.0 * 22050, 0.05 * 22050);  // AAC's last frame rounds the length up
    const std::vector<float> all = spans.channel(0);
    for (std::size_t from : {std::size_t(1) * 22050, std::size_t(16) * 22050, std::size_t(31) * 22050}) {
        const std::vector<float> part(all.begin() + std::ptrdiff_t(from), all.begin() + std::ptrdiff_t(from + 8 * 22050));
        EXPECT_NEAR(ToneFrequency(part, 22050), 700.0, 2.0) << "from frame " << from;
    }

    // A stream the file does not have: refused, naming how many it has.
    const QString none = out + "/none.wav";
    const Exit third = RunCli({"--stream", "2", "-o", none, In("two.mkv")});
    EXPECT_EQ(third.status, kExitInputUnusable);
    EXPECT_TRUE(Contains(third.err, NoSoundStreamText(2, 2))) << third.err;
    EXPECT_TRUE(Contains(NoSoundStreamText(2, 2), "has 2 (0 to 1)"));
    const Exit mp3 = RunCli({"--stream", "1", "-o", none, In("song.mp3")});
    EXPECT_EQ(mp3.status, kExitInputUnusable);
    EXPECT_TRUE(Contains(mp3.err, NoSoundStreamText(1, 1))) << mp3.err;
    EXPECT_FALSE(QFile::exists(none));
    for (const char* bad : {"-1", "one", ""})
        EXPECT_EQ(RunCli({"--stream", bad, "-o", none, In("two.mkv")}).status, kExitBadArguments) << bad;
}

// ---- standard output ----

TEST_F(Scripting, StandardOutputCarriesTheWavWithItsSizes) {
    const QString work = Folder("stdout");
    const Exit piped = RunAs({"-r", "22050", "-c", "1", "-o", "-", In("tone.ogg")}, InFolder(work));
    ASSERT_EQ(piped.status, kExitDone) << piped.err;
    EXPECT_FALSE(QFile::exists(work + "/-"));
    EXPECT_FALSE(Contains(piped.err, "Output File")) << piped.err;
    EXPECT_TRUE(Contains(piped.err, "Done. Written to standard output.")) << piped.err;
    // The same bytes as a file of the same conversion: the header stated the sizes from the start.
    const QString file = work + "/file.wav";
    ASSERT_EQ(RunCli({"-q", "-r", "22050", "-c", "1", "-o", file, In("tone.ogg")}).status, kExitDone);
    const QByteArray written = Contents(file);
    ASSERT_GT(written.size(), 44);
    EXPECT_EQ(QByteArray::fromStdString(piped.out), written);
    const WavFile w = ReadWavFile(file.toStdString());
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.frames(), 44100u);
    EXPECT_NEAR(ToneFrequency(w.channel(0), 22050), 440.0, 1.0);

    // Quiet: the WAV and nothing else.
    const Exit quiet = RunAs({"-q", "-o", "-", In("tone.ogg")}, InFolder(work));
    EXPECT_EQ(quiet.status, kExitDone);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out.substr(0, 4), "RIFF");

    for (const QStringList& args : {QStringList{"-o", "-", In("tone.ogg"), In("song.mp3")},
                                    QStringList{"-o", "-", "-d", work, In("tone.ogg")},
                                    QStringList{"--skip-existing", "-o", "-", In("tone.ogg")}})
        EXPECT_EQ(RunCli(args).status, kExitBadArguments) << args.join(' ').toStdString();
}

TEST_F(Scripting, SoundEndingEarlyOnStandardOutputIsMadeUpWithSilenceAndFails) {
    const Exit e = RunCli({"-o", "-", In("early.mkv")});
    EXPECT_EQ(e.status, kExitConversionFailed);
    EXPECT_TRUE(Contains(e.err, "ends after 00:00:01 of the selection's 00:00:03;")) << e.err;
    EXPECT_TRUE(Contains(e.err, "frames of silence make up the rest.")) << e.err;
    const QString copy = Folder("early") + "/early.wav";
    ASSERT_TRUE(WriteBytes(copy, QByteArray::fromStdString(e.out)));
    const WavFile w = ReadWavFile(copy.toStdString());
    ASSERT_TRUE(w.ok) << w.error;
    // As long as its header says, which said so before the first sample.
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_NEAR(double(w.frames()), 3.0 * 44100, 0.01 * 44100);
    const std::vector<float> left = w.channel(0);
    const std::vector<float> sound(left.begin() + 4410, left.begin() + 39690);
    EXPECT_NEAR(ToneFrequency(sound, 44100), 440.0, 1.0);
    EXPECT_TRUE(std::all_of(left.begin() + 50000, left.end(), [](float x) { return x == 0.0f; }));
}

TEST_F(Scripting, StopOnStandardOutputSaysWhatWasKept) {
    const QString work = Folder("stdout-stop");
    const QString target = work + "/stopped.wav";
    QProcess p;
    p.setStandardOutputFile(target);
    p.start(Program(), {"-o", "-", In("long.wav")});
    ASSERT_TRUE(p.waitForStarted());
    // Some sound is out before the stop.
    for (int i = 0; i < 20000 && QFileInfo(target).size() < 4 * 1024 * 1024 && p.state() == QProcess::Running; ++i)
        QThread::usleep(500);
    ASSERT_EQ(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), kExitInterrupted);
    const std::string err = p.readAllStandardError().toStdString();
    EXPECT_FALSE(Contains(err, "Done")) << err;
    static const QRegularExpression said(QStringLiteral(
        R"(\nStopped\. Standard output holds (\d\d):(\d\d):(\d\d) of sound, then silence to the 00:04:00 its header states\.\n)"));
    const auto m = said.match(QString::fromStdString(err));
    ASSERT_TRUE(m.hasMatch()) << err;
    const int kept = m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
    const WavFile w = ReadWavFile(target.toStdString());
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.frames(), 240u * 44100u);
    EXPECT_EQ(w.dataOffset + w.dataSize, w.fileSize);
    const std::vector<float> left = w.channel(0);
    // Sound up to what it kept, silence after.
    ASSERT_GT(kept, 0);
    EXPECT_GT(Rms(left, std::size_t(kept) * 44100 / 2, 4410), 0.1);
    EXPECT_TRUE(std::all_of(left.begin() + std::ptrdiff_t(kept + 1) * 44100, left.end(), [](float x) { return x == 0.0f; }));
}

// ---- selection ----

TEST_F(Scripting, DurationAndStartsPastTheEnd) {
    const QString out = Folder("durations");
    const QString in = In("tone.ogg");  // 2 s
    ASSERT_EQ(RunCli({"-q", "-r", "22050", "-s", "0.5", "-t", "1", "-o", out + "/one.wav", in}).status, kExitDone);
    EXPECT_EQ(ReadWavFile((out + "/one.wav").toStdString()).frames(), 22050u);
    // Past the media's end: up to its end, as -e does.
    ASSERT_EQ(RunCli({"-q", "-r", "22050", "-s", "1.5", "--duration=00:10", "-o", out + "/rest.wav", in}).status,
              kExitDone);
    EXPECT_EQ(ReadWavFile((out + "/rest.wav").toStdString()).frames(), 11025u);

    const QString never = out + "/never.wav";
    const Exit both = RunCli({"-t", "1", "-e", "2", "-o", never, in});
    EXPECT_EQ(both.status, kExitBadArguments);
    EXPECT_TRUE(Contains(both.err, "-t and -e cannot be used together")) << both.err;
    EXPECT_EQ(RunCli({"-t", "0", "-o", never, in}).status, kExitBadArguments);
    // A start at or past the end says so, with the media's length, not that the end comes first.
    for (const char* start : {"3", "2", "00:11:40"}) {
        const Exit past = RunCli({"-s", start, "-o", never, in});
        EXPECT_EQ(past.status, kExitBadArguments) << start;
        EXPECT_FALSE(Contains(past.err, kEndBeforeStartText)) << past.err;
        EXPECT_TRUE(Contains(past.err, "is past the end of the media (00:00:02).")) << past.err;
    }
    EXPECT_TRUE(Contains(RunCli({"-s", "700", "-o", never, in}).err,
                         "The start 00:11:40 is past the end of the media (00:00:02)."));
    // Times no media has: refused as such, never wrapped round (they overflowed before).
    for (const QStringList& args : {QStringList{"-s", "999999999999"}, QStringList{"-e", "99999999999:00"},
                                    QStringList{"-t", "99999999999:00:00"}, QStringList{"-s", "100001:00:00"}}) {
        const Exit absurd = RunCli(args + QStringList{"-o", never, in});
        EXPECT_EQ(absurd.status, kExitBadArguments) << args.join(' ').toStdString();
        EXPECT_TRUE(Contains(absurd.err, "is longer than any media")) << absurd.err;
    }
    EXPECT_FALSE(QFile::exists(never));
}

// ---- lists, reports, resumed runs ----

TEST_F(Scripting, InputsFromAListAndFromStandardInputWithAReport) {
    const QString out = Folder("listed");
    const QString spaced = Folder("with space") + "/tone copy.ogg";
    ASSERT_TRUE(QFile::copy(In("tone.ogg"), spaced));
    const QString list = out + "/list.txt";
    // Blank lines, a CRLF line, a path with spaces.
    ASSERT_TRUE(WriteBytes(list, ("\n" + In("song.mp3") + "\r\n\n  \n" + spaced + "\n" + In("text.mp3")).toUtf8()));
    const QString report = out + "/run.jsonl";
    const Exit e = RunCli({"-r", "22050", "--report", report, "-d", out, "--files-from", list, In("two.mkv")});
    EXPECT_EQ(e.status, kExitInputUnusable) << e.err;
    EXPECT_TRUE(Contains(e.err, "Converted 3 of 4 files; 1 failed.")) << e.err;
    for (const char* name : {"song.wav", "tone copy.wav", "two.wav"})
        EXPECT_TRUE(ReadWavFile((out + "/" + QLatin1String(name)).toStdString()).ok) << name;

    const std::vector<QJsonObject> lines = ReportLines(report);
    ASSERT_EQ(lines.size(), 4u);
    for (const char* name : {"song.mp3", "two.mkv"}) {
        const QJsonObject* line = LineFor(lines, In(name));
        ASSERT_TRUE(line) << name;
        EXPECT_EQ(line->value("status").toString(), "done");
        EXPECT_EQ(line->value("exit").toInt(-1), 0);
        const QString output = line->value("output").toString();
        const WavFile w = ReadWavFile(output.toStdString());
        ASSERT_TRUE(w.ok) << output.toStdString();
        EXPECT_EQ(line->value("frames").toInteger(), qint64(w.frames()));
        EXPECT_NEAR(line->value("seconds").toDouble(), double(w.frames()) / 22050, 0.001);
        EXPECT_GE(line->value("wall_seconds").toDouble(-1), 0.0);
        EXPECT_FALSE(line->contains("message"));
    }
    const QJsonObject* bad = LineFor(lines, In("text.mp3"));
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->value("status").toString(), "refused");
    EXPECT_EQ(bad->value("exit").toInt(), kExitInputUnusable);
    EXPECT_EQ(bad->value("frames").toInteger(-1), 0);
    EXPECT_TRUE(bad->value("message").toString().contains("Can not get the duration of the clip!"));
    ASSERT_TRUE(LineFor(lines, spaced));

    // From standard input; the report is added to, not replaced.
    const QString piped = Folder("piped");
    const Exit fromStdin = RunAs({"-q", "-y", "--report", report, "-d", piped, "--files-from", "-"},
                               WithInput((In("tone.ogg") + "\n").toUtf8()));
    EXPECT_EQ(fromStdin.status, kExitDone) << fromStdin.err;
    EXPECT_EQ(fromStdin.err, "");
    EXPECT_TRUE(ReadWavFile((piped + "/tone.wav").toStdString()).ok);
    EXPECT_EQ(ReportLines(report).size(), 5u);

    // What the list cannot be: unreadable, empty, or more than -o takes.
    EXPECT_EQ(RunCli({"-d", piped, "--files-from", out + "/missing.txt"}).status, kExitBadArguments);
    EXPECT_EQ(RunAs({"-d", piped, "--files-from", "-"}, WithInput("\n\n")).status, kExitBadArguments);
    EXPECT_EQ(RunCli({"-o", piped + "/x.wav", "--files-from", list}).status, kExitBadArguments);
    // A report that cannot be written stops the run before it starts.
    const Exit noReport = RunCli({"--report", out + "/no/such.jsonl", "-d", piped, In("tone.ogg")});
    EXPECT_EQ(noReport.status, kExitOutputRefused);
    EXPECT_TRUE(Contains(noReport.err, "Cannot write the report")) << noReport.err;
}

TEST_F(Scripting, AResumedRunSkipsWhatIsDoneAndRedoesWhatIsNot) {
    const QString out = Folder("resumed");
    const QStringList inputs{In("tone.ogg"), In("song.mp3"), In("two.mkv")};
    ASSERT_EQ(RunCli(QStringList{"-q", "-d", out} + inputs).status, kExitDone);
    const QByteArray tone = Contents(out + "/tone.wav");
    struct stat before {};
    ASSERT_EQ(::stat((out + "/tone.wav").toUtf8().constData(), &before), 0);
    // A copy cut short, and a complete file of another format.
    ASSERT_TRUE(MakeTruncatedCopy(Path("resumed/song.wav"), Path("resumed/song.cut"), 30000));
    ASSERT_TRUE(QFile::remove(out + "/song.wav") && QFile::rename(out + "/song.cut", out + "/song.wav"));
    ASSERT_EQ(RunCli({"-q", "-y", "-r", "22050", "-o", out + "/two.wav", In("two.mkv")}).status, kExitDone);

    const QString report = out + "/resume.jsonl";
    const Exit e = RunCli(QStringList{"--skip-existing", "--report", report, "-d", out} + inputs);
    ASSERT_EQ(e.status, kExitDone) << e.err;
    EXPECT_TRUE(Contains(e.out, SkippedText((out + "/tone.wav").toStdString()))) << e.out;
    EXPECT_TRUE(Contains(e.out, DoneText((out + "/song.wav").toStdString()))) << e.out;
    EXPECT_TRUE(Contains(e.out, DoneText((out + "/two.wav").toStdString()))) << e.out;
    EXPECT_TRUE(Contains(e.err, "Converted 3 of 3 files; 1 complete already.")) << e.err;
    // The complete one is left as it was, not even rewritten.
    struct stat after {};
    ASSERT_EQ(::stat((out + "/tone.wav").toUtf8().constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(Contents(out + "/tone.wav"), tone);
    EXPECT_EQ(ReadWavFile(Path("resumed/song.wav")).frames(), 110250u);
    EXPECT_EQ(ReadWavFile(Path("resumed/two.wav")).sampleRate, 44100u);
    const std::vector<QJsonObject> lines = ReportLines(report);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(LineFor(lines, In("tone.ogg"))->value("status").toString(), "skipped");
    EXPECT_EQ(LineFor(lines, In("tone.ogg"))->value("frames").toInteger(), 88200);
    EXPECT_EQ(LineFor(lines, In("song.mp3"))->value("status").toString(), "done");
    EXPECT_EQ(LineFor(lines, In("two.mkv"))->value("status").toString(), "done");

    // A run killed half-way leaves its part file, never the output; the next
    // run converts it whole and takes the part file for nothing.
    const QString killed = Folder("killed");
    QProcess p;
    p.start(Program(), {"-q", "-d", killed, In("long.wav")});
    ASSERT_TRUE(p.waitForStarted());
    QStringList parts;
    for (int i = 0; i < 30000 && parts.isEmpty(); ++i) {
        parts = QDir(killed).entryList({"long.wav.part-*"}, QDir::Files);
        if (parts.isEmpty()) QThread::usleep(500);
    }
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished();
    ASSERT_EQ(parts.size(), 1);
    ASSERT_FALSE(QFile::exists(killed + "/long.wav"));
    const Exit resumed = RunCli({"--skip-existing", "-d", killed, In("long.wav")});
    ASSERT_EQ(resumed.status, kExitDone) << resumed.err;
    EXPECT_TRUE(Contains(resumed.out, DoneText((killed + "/long.wav").toStdString()))) << resumed.out;
    EXPECT_EQ(ReadWavFile(Path("killed/long.wav")).frames(), 240u * 44100u);
    EXPECT_TRUE(QFile::exists(killed + "/" + parts.front()));
}

// ---- faults found by users ----

TEST_F(Scripting, QuietSaysNothingOnSuccess) {
    const QString out = Folder("quiet");
    const Exit one = RunCli({"-q", "-o", out + "/one.wav", In("tone.ogg")});
    EXPECT_EQ(one.status, kExitDone);
    EXPECT_EQ(one.out, "");
    EXPECT_EQ(one.err, "");
    const Exit several = RunCli({"-q", "-d", out, In("tone.ogg"), In("song.mp3")});
    EXPECT_EQ(several.status, kExitDone);
    EXPECT_EQ(several.out + several.err, "");
}

TEST_F(Scripting, InputsThatAreNotRegularFilesAreRefusedUnopened) {
    const QString special = Folder("special");
    const QString fifo = special + "/in.ogg";
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0644), 0);
    std::vector<std::pair<QString, std::string>> inputs = {{fifo, "a FIFO"}, {special, "a folder"}};
    const QString device = special + "/dev.ogg";
    if (::mknod(device.toUtf8().constData(), S_IFCHR | 0600, makedev(1, 3)) == 0) inputs.push_back({device, "a character device"});
    for (const auto& [input, kind] : inputs) {
        // Nothing writes to the FIFO: a program that opened it would wait for ever.
        const Exit e = RunCli({"-o", special + "/x.wav", input});
        EXPECT_EQ(e.status, kExitInputUnusable) << kind << ": " << e.err;
        EXPECT_TRUE(Contains(e.err, "Cannot read " + input.toStdString() + ": it is " + kind + ", not a regular file."))
            << e.err;
        EXPECT_EQ(RunCli({"--probe", input}).status, kExitInputUnusable) << kind;
    }
    const Exit missing = RunCli({"-o", special + "/x.wav", special + "/missing.ogg"});
    EXPECT_EQ(missing.status, kExitInputUnusable);
    EXPECT_TRUE(Contains(missing.err, "missing.ogg: No such file or directory.")) << missing.err;
    EXPECT_FALSE(QFile::exists(special + "/x.wav"));
    ::unlink(device.toUtf8().constData());
    ::unlink(fifo.toUtf8().constData());
}

// Root may write anywhere: a read-only mount stands in for a folder it may
// not write, where mounting is allowed; otherwise the program runs as nobody.
TEST_F(Scripting, AFolderThatCannotBeWrittenIsRefusedBeforeAnythingRuns) {
    const QString home = Folder("ro-home");
    const QString folder = Folder("ro-home/ro");
    ASSERT_EQ(::chmod(home.toUtf8().constData(), 0755), 0);
    ::chmod(dir_->path().toUtf8().constData(), 0755);
    const QString input = home + "/tone.ogg";
    ASSERT_TRUE(QFile::copy(In("tone.ogg"), input));
    ::chmod(input.toUtf8().constData(), 0644);
    bool mounted = false;
    Launch how;
    std::string reason = "Permission denied";
    if (::geteuid() == 0) {
        mounted = ::mount("tmpfs", folder.toUtf8().constData(), "tmpfs", MS_RDONLY, "size=64k") == 0;
        if (mounted) {
            reason = "Read-only file system";
        } else {
            how = AsNobody(home);
        }
    }
    if (!mounted) {
        ASSERT_EQ(::chmod(folder.toUtf8().constData(), 0555), 0);
    }
    const QString output = folder + "/x.wav";
    const Exit e = RunAs({"-o", output, input}, how);
    if (mounted) ::umount2(folder.toUtf8().constData(), MNT_DETACH);
    EXPECT_EQ(e.status, kExitOutputRefused) << e.err;
    EXPECT_EQ(e.err, "veltrano-convert: Cannot write " + output.toStdString() + ": " + reason + ".\n");
    EXPECT_FALSE(Contains(e.err, "Used Time")) << e.err;  // refused before anything ran
}

// The existence check used to open the output for reading: one the user may
// not read passed for absent and was replaced without -y. Root reads every
// file, so as root the program also runs as nobody, who may not read it.
TEST_F(Scripting, AnOutputTheUserCannotReadIsStillThere) {
    const QString home = Folder("unreadable");
    ASSERT_EQ(::chmod(home.toUtf8().constData(), 0777), 0);
    ::chmod(dir_->path().toUtf8().constData(), 0755);
    const QString input = home + "/tone.ogg";
    ASSERT_TRUE(QFile::copy(In("tone.ogg"), input));
    ::chmod(input.toUtf8().constData(), 0644);
    const QString output = home + "/out.wav";
    ASSERT_TRUE(MakeTextFile(output.toStdString(), "keep"));
    std::vector<Launch> runs = {Launch{}};
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(output.toUtf8().constData(), kNobody, kNobody), 0);
        runs.push_back(AsNobody(home));
    }
    ASSERT_EQ(::chmod(output.toUtf8().constData(), 0200), 0);
    for (const Launch& how : runs) {
        const Exit e = RunAs({"-o", output, input}, how);
        EXPECT_EQ(e.status, kExitOutputRefused) << (how.asNobody ? "as nobody: " : "") << e.err;
        EXPECT_TRUE(Contains(e.err, ReplaceQuestionText(output.toStdString()))) << e.err;
    }
    ::chmod(output.toUtf8().constData(), 0600);
    EXPECT_EQ(Contents(output), "keep");
}

// Ctrl+C (and SIGTERM, as `timeout` sends) ends the program while it waits
// in an open that only a writer or reader of a FIFO would end.
TEST_F(Scripting, AStopEndsAWaitOnAFifo) {
    const QString folder = Folder("fifo-waits");
    const QString list = folder + "/list";
    const QString report = folder + "/report";
    ASSERT_EQ(::mkfifo(list.toUtf8().constData(), 0644), 0);
    ASSERT_EQ(::mkfifo(report.toUtf8().constData(), 0644), 0);
    const std::pair<QStringList, int> waits[] = {
        {{"--files-from", list, "-d", folder}, SIGINT},
        {{"--report", report, "-o", folder + "/x.wav", In("tone.ogg")}, SIGTERM},
    };
    for (const auto& [args, signal] : waits) {
        QProcess p;
        p.start(Program(), args);
        ASSERT_TRUE(p.waitForStarted());
        if (!WaitUntilBlockedIn(p.processId(), SYS_openat)) {
            p.kill();
            p.waitForFinished();
            GTEST_SKIP() << "this system does not show where a process waits (/proc/PID/syscall)";
        }
        ::kill(pid_t(p.processId()), signal);
        const bool ended = p.waitForFinished(30000);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        ASSERT_TRUE(ended) << args.join(' ').toStdString() << ": still waiting after the stop";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), kExitInterrupted);
        EXPECT_EQ(p.readAllStandardError().toStdString(), "Stopped. Nothing was written.\n");
    }
    EXPECT_FALSE(QFile::exists(folder + "/x.wav"));
    ::unlink(list.toUtf8().constData());
    ::unlink(report.toUtf8().constData());
}

}  // namespace
