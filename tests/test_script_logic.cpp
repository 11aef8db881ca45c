// The pure parts of veltrano-convert's scripting: its new options, lists of
// inputs, times no media has, the report's JSON, the probe's stream lines,
// what counts as a complete output, and the checks of files and folders.

#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "cli/ExistingOutput.h"
#include "cli/ScriptOutput.h"
#include "engine/ConvertChecks.h"
#include "formats/WavHeader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

using namespace veltrano;

namespace {

using Args = std::vector<std::string>;

TEST(ScriptOptions, ParsedWithTheirLimits) {
    auto ok = ParseConvertArguments({"--stream", "2", "-t", "1:30", "--skip-existing", "--report=r.jsonl", "-d",
                                     "out", "--files-from", "list.txt"});
    ASSERT_TRUE(ok.ok) << ok.error;  // the list's inputs are judged once it is read
    EXPECT_EQ(ok.options.stream, 2);
    EXPECT_EQ(ok.options.duration, 900'000'000);
    EXPECT_TRUE(ok.options.skipExisting);
    EXPECT_EQ(ok.options.report, "r.jsonl");
    EXPECT_EQ(ok.options.filesFrom, "list.txt");
    EXPECT_TRUE(ok.options.inputs.empty());
    EXPECT_EQ(InputsRefusal(ok.options), "no input file given");

    ok = ParseConvertArguments({"-o", "-", "in.mp3"});
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_TRUE(WritesToStandardOutput(ok.options));
    EXPECT_FALSE(WritesToStandardOutput(ParseConvertArguments({"-o", "./-", "in.mp3"}).options));
    EXPECT_EQ(ParseConvertArguments({"-o", "o.wav", "in.mp3"}).options.stream, 0);

    for (const Args& bad : {Args{"--stream", "-1", "-o", "o.wav", "a"}, Args{"--stream", "1.5", "-o", "o.wav", "a"},
                            Args{"-t", "0", "-o", "o.wav", "a"}, Args{"-t", "1", "-e", "2", "-o", "o.wav", "a"},
                            Args{"--skip-existing", "-o", "-", "a"}, Args{"--report", "", "-o", "o.wav", "a"},
                            Args{"--report", "-", "-o", "o.wav", "a"},
                            Args{"--files-from", "", "-d", "out"}, Args{"-o", "-", "a", "b"},
                            Args{"-o", "-", "-d", "out", "a"}, Args{"--skip-existing=yes", "-d", "out", "a"}})
        EXPECT_FALSE(ParseConvertArguments(bad).ok) << bad[0] << " " << bad[1];

    // Once the list is read, its inputs count as much as the command line's.
    ConvertOptions listed = ParseConvertArguments({"-o", "o.wav", "--files-from", "l"}).options;
    listed.inputs = {"a", "b"};
    EXPECT_NE(InputsRefusal(listed).find("-d"), std::string::npos);
    listed.inputs = {"a"};
    EXPECT_EQ(InputsRefusal(listed), "");
}

TEST(ScriptOptions, FileListsTakeEveryLineAsAPath) {
    EXPECT_EQ(ParseFileList("a.mp3\n\nb c.ogg\r\n \t \n/x/d.flac"), (Args{"a.mp3", "b c.ogg", "/x/d.flac"}));
    EXPECT_EQ(ParseFileList(" lead.mp3\ntrail.mp3 \n"), (Args{" lead.mp3", "trail.mp3 "}));
    EXPECT_EQ(ParseFileList("\n\r\n"), Args{});
    EXPECT_EQ(ParseFileList(""), Args{});
}

// Parsed without overflow (UBSan saw 999999999999 * 10^7 wrap before), and
// refused past what a time text can hold.
TEST(ScriptOptions, TimesNoMediaHasAreRefused) {
    const MediaTime limit = kMaxTimeArgumentHours * 3600 * kUnitsPerSecond;
    EXPECT_EQ(ParseTimeArgument("100000:00:00"), limit);
    EXPECT_EQ(ParseTimeArgument("360000000"), limit);
    EXPECT_EQ(ParseTimeArgument("6000000:00"), limit);
    for (const char* absurd : {"360000001", "100000:00:01", "6000000:01", "999999999999", "99999999999:00",
                               "99999999999:00:00", "999999999999:59:59.9999999", "922337203685.4775807"})
        EXPECT_FALSE(ParseTimeArgument(absurd)) << absurd;
    EXPECT_EQ(ParseTimeArgument("1:59:59.5"), (7199 * kUnitsPerSecond) + 5'000'000);
    const auto refused = ParseConvertArguments({"-s", "999999999999", "-o", "o.wav", "a"});
    EXPECT_NE(refused.error.find("longer than any media"), std::string::npos) << refused.error;
    const auto malformed = ParseConvertArguments({"-s", "1:75", "-o", "o.wav", "a"});
    EXPECT_NE(malformed.error.find("is not a time"), std::string::npos) << malformed.error;
    // Start plus the longest duration still adds up without overflow.
    const auto both = ParseConvertArguments({"-s", "100000:00:00", "-t", "100000:00:00", "-o", "o.wav", "a"});
    ASSERT_TRUE(both.ok);
    EXPECT_EQ(both.options.start + *both.options.duration, 2 * limit);
}

TEST(ScriptOutput, JsonStringsKeepEveryByte) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString("l1\nl2\tx\r\x01"), "\"l1\\nl2\\tx\\r\\u0001\"");
    EXPECT_EQ(JsonString("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"), "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5\"");
    // Not UTF-8: each byte as Python's surrogateescape reads it back.
    EXPECT_EQ(JsonString("a\xFF" "b"), "\"a\\udcffb\"");
    EXPECT_EQ(JsonString("\xC3"), "\"\\udcc3\"");                    // cut short
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\udcc0\\udcaf\"");          // overlong
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\udced\\udca0\\udc80\"");  // a surrogate
    EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"\\udcf4\\udc90\\udc80\\udc80\"");  // past U+10FFFF
}

TEST(ScriptOutput, ReportLinesAreOneObjectEach) {
    ReportEntry done;
    done.input = "in/a.mp3";
    done.output = "out/a.wav";
    done.status = "done";
    done.frames = 110250;
    done.rate = 44100;
    done.wallSeconds = 0.1234;
    EXPECT_EQ(ReportLine(done), "{\"input\":\"in/a.mp3\",\"output\":\"out/a.wav\",\"status\":\"done\",\"exit\":0,"
                                "\"frames\":110250,\"seconds\":2.500,\"wall_seconds\":0.123}\n");
    ReportEntry refused;
    refused.input = "x";
    refused.output = "-";
    refused.status = "refused";
    refused.exitStatus = 3;
    refused.message = "Cannot open.\nOr worse.";
    EXPECT_EQ(ReportLine(refused), "{\"input\":\"x\",\"output\":\"-\",\"status\":\"refused\",\"exit\":3,\"frames\":0,"
                                   "\"seconds\":0.000,\"wall_seconds\":0.000,\"message\":\"Cannot open.\\nOr worse.\"}\n");
}

TEST(ScriptOutput, StreamLinesAndTimesThatNameTheMedia) {
    SoundStreamInfo main;
    main.codec = "Vorbis";
    main.rate = 48000;
    main.channels = 2;
    main.language = "en";
    main.title = "Director's \"cut\"";
    main.decodable = true;
    SoundStreamInfo bare;
    bare.codec = "Dolby";
    bare.channels = 1;
    EXPECT_EQ(SoundStreamLines({main, bare}),
              "stream 0: Vorbis, 48000 Hz, 2 channels, language en, title \"Director's \\\"cut\\\"\"\n"
              "stream 1: Dolby, 1 channel, no decoder installed\n");
    EXPECT_EQ(SoundStreamLines({}), "");
    EXPECT_EQ(StartPastEndText(700 * kUnitsPerSecond, 600 * kUnitsPerSecond),
              "The start 00:11:40 is past the end of the media (00:10:00).");
    // Whole seconds would say 00:00:02 twice: milliseconds tell them apart.
    EXPECT_EQ(StartPastEndText(26'000'000, 25'000'000), "The start 00:00:02.600 is past the end of the media (00:00:02.500).");
    EXPECT_EQ(StartPastEndText(30'000'000, 25'000'000), "The start 00:00:03.000 is past the end of the media (00:00:02.500).");
    EXPECT_EQ(ClockText(MediaTime(100) * 3600 * kUnitsPerSecond + 5 * kUnitsPerSecond, false), "100:00:05");
    EXPECT_EQ(NoSoundStreamText(3, 2), "The media file has no sound stream 3; it has 2 (0 to 1).");
    EXPECT_EQ(NoSoundStreamText(1, 1), "The media file has no sound stream 1; it has 1 (stream 0).");
    EXPECT_EQ(NoSoundStreamText(1, 0), "The media file has no sound stream 1; it has 0.");
}

// A file as the writer leaves it: the header for its data, then the data.
std::vector<std::uint8_t> WavBytes(const wav::Format& f, std::uint64_t dataBytes, wav::Container c = wav::Container::Riff,
                                   std::uint64_t statedBytes = UINT64_MAX) {
    wav::Tags tags;
    tags.title = "t";
    std::vector<std::uint8_t> bytes =
        wav::BuildHeader(f, tags, c, statedBytes == UINT64_MAX ? dataBytes : statedBytes);
    bytes.resize(bytes.size() + dataBytes, 0x11);
    return bytes;
}

std::optional<std::uint64_t> Complete(const std::vector<std::uint8_t>& bytes, const WaveFormatEx& format) {
    return CompleteWavFrames(wav::ParseHeader(bytes, bytes.size()), bytes.size(), format);
}

TEST(ExistingOutput, OnlyAWholeWavOfTheFormatCounts) {
    const wav::Format stereo16{wav::SampleKind::Integer, 2, 44100, 16, 0};
    const WaveFormatEx cd = MakePcmFormat(44100, 2, 16);
    EXPECT_EQ(Complete(WavBytes(stereo16, 4000), cd), 1000u);
    EXPECT_EQ(Complete(WavBytes(stereo16, 0), cd), 0u);
    EXPECT_EQ(Complete(WavBytes(stereo16, 4000, wav::Container::Rf64), cd), 1000u);
    // Another rate, channel count or sample width is not the output asked for.
    EXPECT_FALSE(Complete(WavBytes(stereo16, 4000), MakePcmFormat(22050, 2, 16)));
    EXPECT_FALSE(Complete(WavBytes(stereo16, 4000), MakePcmFormat(44100, 1, 16)));
    EXPECT_FALSE(Complete(WavBytes({wav::SampleKind::Integer, 2, 44100, 8, 0}, 2000), cd));
    WaveFormatEx float32 = MakePcmFormat(44100, 2, 32);
    EXPECT_FALSE(Complete(WavBytes({wav::SampleKind::Float, 2, 44100, 32, 0}, 8000), float32));
    float32.wFormatTag = wav::kTagFloat;
    EXPECT_EQ(Complete(WavBytes({wav::SampleKind::Float, 2, 44100, 32, 0}, 8000), float32), 1000u);
    EXPECT_FALSE(Complete(WavBytes({wav::SampleKind::Integer, 2, 44100, 32, 0}, 8000), float32));
    // Cut short, or a header still stating what a killed writer meant to write.
    auto cut = WavBytes(stereo16, 4000);
    cut.resize(cut.size() - 4);
    EXPECT_FALSE(Complete(cut, cd));
    EXPECT_FALSE(Complete(WavBytes(stereo16, 4000, wav::Container::Riff, 8000), cd));
    EXPECT_FALSE(Complete(WavBytes(stereo16, 4000, wav::Container::Riff, 0), cd));
    // More than its header says, or half a frame.
    auto longer = WavBytes(stereo16, 4000);
    longer.resize(longer.size() + 8, 0);
    EXPECT_FALSE(Complete(longer, cd));
    EXPECT_FALSE(Complete(WavBytes(stereo16, 4002), cd));
    // Odd data: a pad byte after it is allowed.
    const wav::Format mono8{wav::SampleKind::Integer, 1, 8000, 8, 0};
    auto odd = WavBytes(mono8, 101);
    EXPECT_EQ(Complete(odd, MakePcmFormat(8000, 1, 8)), 101u);
    const std::vector<std::uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', ' ', 'f', 'i', 'l', 'e'};
    EXPECT_FALSE(Complete(text, cd));

    QTemporaryDir dir;
    const std::string path = dir.filePath("x.wav").toStdString();
    const auto whole = WavBytes(stereo16, 40000);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(whole.data()), std::streamsize(whole.size()));
    EXPECT_EQ(CompleteWavFileFrames(path, cd), 10000u);
    EXPECT_FALSE(CompleteWavFileFrames(dir.filePath("none.wav").toStdString(), cd));
    // A FIFO in the output's place is looked at without waiting for a writer.
    const std::string fifo = dir.filePath("fifo.wav").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(CompleteWavFileFrames(fifo, cd));
    EXPECT_FALSE(CompleteWavFileFrames(dir.path().toStdString(), cd));
}

TEST(ScriptBatch, SkippedFilesCountAsConverted) {
    using S = FileState;
    const std::vector<FileResult> resumed = {{S::Skipped, 0}, {S::Converted, 0}, {S::Skipped, 0}};
    EXPECT_EQ(BatchExitStatus(resumed, false), kExitDone);
    EXPECT_EQ(BatchSummaryText(CountResults(resumed)), "Converted 3 of 3 files; 2 complete already.");
    const std::vector<FileResult> mixed = {{S::Skipped, 0}, {S::Failed, 3}, {S::Pending, 0}};
    EXPECT_EQ(BatchSummaryText(CountResults(mixed)), "Converted 1 of 3 files; 1 complete already, 1 failed, 1 not started.");
    EXPECT_EQ(BatchExitStatus(mixed, false), kExitConversionFailed);
    EXPECT_EQ(BatchExitStatus(mixed, true), kExitInterrupted);
    EXPECT_EQ(SkippedText("w/a.wav"), "Skipped. Output File: w/a.wav is complete already.");
}

TEST(ScriptFiles, InputsAndOutputFoldersAreJudgedWithoutOpeningThem) {
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)).toStdString(); };
    ASSERT_TRUE(std::ofstream(at("in.ogg")) << "x");
    ASSERT_EQ(::symlink(at("in.ogg").c_str(), at("link.ogg").c_str()), 0);
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0644), 0);
    EXPECT_FALSE(InputFileRefusal(at("in.ogg")));
    EXPECT_FALSE(InputFileRefusal(at("link.ogg")));
    EXPECT_EQ(InputFileRefusal(at("fifo")), "Cannot read " + at("fifo") + ": it is a FIFO, not a regular file.");
    EXPECT_EQ(InputFileRefusal(dir.path().toStdString()),
              "Cannot read " + dir.path().toStdString() + ": it is a folder, not a regular file.");
    EXPECT_EQ(InputFileRefusal(at("none")), "Cannot read " + at("none") + ": No such file or directory.");

    EXPECT_FALSE(OutputFolderRefusal(at("new.wav")));
    EXPECT_EQ(OutputFolderRefusal(at("no/x.wav")), "Cannot write " + at("no/x.wav") + ": No such file or directory.");
    EXPECT_EQ(OutputFolderRefusal(at("in.ogg/x.wav")), "Cannot write " + at("in.ogg/x.wav") + ": Not a directory.");
    // Through a link: the folder the file lands in is the one that counts.
    ASSERT_EQ(::symlink(at("gone/target.wav").c_str(), at("dangling.wav").c_str()), 0);
    EXPECT_EQ(OutputFolderRefusal(at("dangling.wav")),
              "Cannot write " + at("dangling.wav") + ": No such file or directory.");

    // The checks: the folder before the question, and nothing of a file for a stream.
    ConvertCheckInput in;
    in.source = at("in.ogg");
    in.startTime = 0;
    in.endTime = kUnitsPerSecond;
    in.output = at("no/x.wav");
    bool asked = false;
    const auto ask = [&asked](const std::string&) {
        asked = true;
        return false;
    };
    const auto refusal = CheckConversion(in, ask);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->check, ConvertCheck::OutputFolder);
    EXPECT_FALSE(asked);
    in.output = at("in.ogg");  // what -o - would be if a file "-" were the input
    in.outputIsStream = true;
    EXPECT_FALSE(CheckConversion(in, ask));
    EXPECT_FALSE(asked);
    // An existing output is existing, readable or not.
    ASSERT_EQ(::chmod(at("in.ogg").c_str(), 0200), 0);
    EXPECT_TRUE(FileExists(at("in.ogg")));
    EXPECT_FALSE(FileExists(dir.path().toStdString()));
    EXPECT_FALSE(FileExists(at("dangling.wav")));
}

}  // namespace
