// Damaged and hostile media through the real program: each ends, within the
// bound a script would wait, in a clear failure that names the file, or in a
// correct WAV. Never "Done" over a broken result, never a user's file lost.

#include "cli/CommandLine.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>

using namespace veltrano;
using namespace veltrano::test;

namespace {

class Hostile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string Path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }
    static std::string Data(const std::string& name) {
        return qEnvironmentVariable("VELTRANO_SOURCE_DIR").toStdString() + "/tests/data/hostile/" + name;
    }

    // Converts over an existing output with -y, and checks what any failure
    // must leave: the old output byte for byte and no part file.
    Exit ConvertOver(const std::string& input, const QStringList& extra = {}) {
        const std::string out = Path("out.wav");
        std::ofstream(out) << "keep";
        QStringList args{"-y", "-o", QString::fromStdString(out)};
        args << extra << QString::fromStdString(input);
        const Exit e = RunCli(args);
        EXPECT_GE(e.status, 0) << "did not end: " << input;
        if (e.status != kExitDone) {
            EXPECT_EQ(e.out.find("Done"), std::string::npos) << e.out;
            EXPECT_NE(e.err.find(input), std::string::npos) << "the message names the file: " << e.err << e.out;
            QFile f(QString::fromStdString(out));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly) && f.readAll() == "keep") << "the old output was touched";
        }
        EXPECT_EQ(QDir(dir_.path()).entryList({"*.part-*"}, QDir::Files | QDir::Hidden), QStringList{})
            << "a part file was left behind";
        return e;
    }

    QTemporaryDir dir_;
};

std::string ReadBytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// A WAV header written by hand, its data zeros.
void WriteWavHeader(const std::string& path, std::uint32_t rate, std::uint16_t channels, std::uint32_t frames) {
    const std::uint16_t block = static_cast<std::uint16_t>(2 * channels);
    const std::uint32_t data = frames * block;
    auto le = [](std::ofstream& o, std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) o.put(static_cast<char>(v >> (8 * i)));
    };
    std::ofstream o(path, std::ios::binary);
    o << "RIFF";
    le(o, 36 + data, 4);
    o << "WAVEfmt ";
    le(o, 16, 4);
    le(o, 1, 2);
    le(o, channels, 2);
    le(o, rate, 4);
    le(o, std::uint64_t{rate} * block, 4);
    le(o, block, 2);
    le(o, 16, 2);
    o << "data";
    le(o, data, 4);
    o << std::string(data, '\0');
}

// Files found by fuzzing the whole program: a format change in the middle
// (ADTS AAC mono then stereo), a chained Ogg that used to wait for ever, Opus
// files that used to give an empty WAV and "Done", and an Ogg whose bogus
// granule position asked for 65 minutes of silence.
TEST_F(Hostile, DamagedFilesEndInAClearFailure) {
    for (const char* name : {"adts_mono_stereo.aac", "chained_mono_then_stereo.ogg", "empty_done_opus.ogg",
                             "empty_done_opus2.ogg", "ogg_bogus_granule_65min_output.ogg"}) {
        SCOPED_TRACE(name);
        const Exit e = ConvertOver(Data(name));
        EXPECT_EQ(e.status, kExitConversionFailed) << e.err;
    }
}

// Two MPEG layer II files, mono then stereo, joined end to end: the batch of
// the front end once overran its buffer on the change.
TEST_F(Hostile, AChannelChangeInTheMiddleIsRefused) {
    const std::string mono = Path("m.mp2"), stereo = Path("s.mp2"), joined = Path("mono_then_stereo.mp3");
    std::string e;
    ASSERT_TRUE(MakeWithPipeline("audiotestsrc num-buffers=40 ! audio/x-raw,rate=44100,channels=1 ! avenc_mp2 ! "
                                 "filesink location=\"" + mono + "\"", &e)) << e;
    ASSERT_TRUE(MakeWithPipeline("audiotestsrc num-buffers=40 ! audio/x-raw,rate=44100,channels=2 ! avenc_mp2 ! "
                                 "filesink location=\"" + stereo + "\"", &e)) << e;
    std::ofstream(joined, std::ios::binary) << ReadBytes(mono) << ReadBytes(stereo);
    const Exit x = ConvertOver(joined);
    EXPECT_EQ(x.status, kExitConversionFailed);
    EXPECT_NE(x.err.find("changes its format"), std::string::npos) << x.err;
}

// Numbers read from a header are checked before they size anything: a rate
// of 2147483647 Hz once built a resampler of gigabytes, 64 channels crashed
// GStreamer's float conversion.
TEST_F(Hostile, AbsurdHeaderNumbersAreRefusedByName) {
    const std::string fast = Path("rate.wav"), wide = Path("wide.wav");
    WriteWavHeader(fast, 2147483647u, 2, 48000);
    WriteWavHeader(wide, 48000, 64, 4800);
    for (const QString& rate : {QString("44100"), QString("7")}) {
        const Exit e = ConvertOver(fast, {"-r", rate});
        EXPECT_EQ(e.status, kExitConversionFailed);
        EXPECT_NE(e.err.find("2147483647 samples per second"), std::string::npos) << e.err;
    }
    const Exit e = ConvertOver(wide);
    EXPECT_EQ(e.status, kExitConversionFailed);
    EXPECT_NE(e.err.find("64 channels"), std::string::npos) << e.err;
}

// A file cut short after its header still promises its whole length: the
// conversion ends short of it, and says so instead of "Done" over a third.
TEST_F(Hostile, AFileCutShortIsAFailureNotAThirdOfTheSound) {
    for (const AudioKind kind : {AudioKind::Flac, AudioKind::M4aAac}) {
        const std::string whole = Path(std::string("whole") + ExtensionOf(kind));
        const std::string cut = Path(std::string("cut") + ExtensionOf(kind));
        ASSERT_TRUE(MakeAudio(whole, kind, Tone(6.0, 48000, 2, 440.0)));
        QFile f(QString::fromStdString(whole));
        ASSERT_TRUE(MakeTruncatedCopy(whole, cut, long(f.size() / 3)));
        SCOPED_TRACE(cut);
        const Exit e = ConvertOver(cut);
        EXPECT_TRUE(e.status == kExitConversionFailed || e.status == kExitInputUnusable) << e.status << e.err;
    }
}

// An MP3 joined from two, the second with cover art longer than any gap
// between frames: all of it is converted, not only the first file.
TEST_F(Hostile, JoinedMp3sWithABigTagConvertWhole) {
    const std::string first = Path("a.mp3"), joined = Path("joined.mp3");
    ASSERT_TRUE(MakeAudio(first, AudioKind::Mp3, Tone(3.0, 44100, 2, 440.0)));
    const std::string a = ReadBytes(first);
    std::string picture(100000, '\0');
    std::mt19937 random(7);
    for (char& c : picture) c = static_cast<char>(random());  // sync-like bytes inside the tag too
    const std::string frame = std::string("APIC") + char(0) + char(0x01) + char(0x86) + char(0xB0) +
                              std::string(2, '\0') + picture;  // 100016 bytes of frame body
    const std::size_t size = frame.size();
    std::string tag = "ID3";
    tag += {char(3), char(0), char(0), char((size >> 21) & 0x7F), char((size >> 14) & 0x7F),
            char((size >> 7) & 0x7F), char(size & 0x7F)};
    std::ofstream(joined, std::ios::binary) << a << tag << frame << a;
    const Exit e = ConvertOver(joined);
    ASSERT_EQ(e.status, kExitDone) << e.err;
    const WavFile w = ReadWavFile(Path("out.wav"));
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_GT(w.frames(), 44100u * 11 / 2);  // both halves, not 3 s
}

}  // namespace
