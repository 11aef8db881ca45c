// Pure logic of the conversion: MP3 stream analysis, the sample window,
// format checks, texts, the command line, the timeline and file finishing.

#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "engine/ConversionEngine.h"
#include "engine/ConvertChecks.h"
#include "formats/WavFinish.h"
#include "media/GraphEvents.h"
#include "formats/Mp3Stream.h"
#include "media/SampleWindow.h"
#include "media/SpanPlan.h"
#include "media/Timeline.h"
#include "core/WaveFormatEx.h"
#include "tests/support/TestMedia.h"
#include "tests/support/WavFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

using namespace veltrano;

namespace {

using Bytes = std::vector<std::uint8_t>;

// MPEG-1 layer III, 128 kbit/s, 44100 Hz, stereo: 417 bytes (418 padded).
Bytes Frame(bool padding = false) {
    Bytes f(padding ? 418 : 417, 0x55);
    f[0] = 0xFF;
    f[1] = 0xFB;
    f[2] = std::uint8_t(0x90 | (padding ? 0x02 : 0));
    f[3] = 0x00;
    return f;
}

Bytes InfoFrame(int delay, int padding, const char* encoder = "LAME3.100") {
    Bytes f = Frame();
    std::memset(f.data() + 4, 0, f.size() - 4);
    const std::size_t x = 4 + 32;
    std::memcpy(&f[x], "Info", 4);
    f[x + 7] = 0x01;  // only the frame count
    const std::size_t lame = x + 8 + 4;
    std::memcpy(&f[lame], encoder, 9);
    f[lame + 21] = std::uint8_t(delay >> 4);
    f[lame + 22] = std::uint8_t(((delay & 0xF) << 4) | (padding >> 8));
    f[lame + 23] = std::uint8_t(padding & 0xFF);
    return f;
}

void Append(Bytes& to, const Bytes& b) { to.insert(to.end(), b.begin(), b.end()); }

Bytes Id3Tag() {
    Bytes t = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    t.resize(30, 0);
    return t;
}

TEST(Mp3Stream, FrameHeaders) {
    const Bytes f = Frame();
    auto h = ParseMp3FrameHeader(f.data(), f.size());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->sampleRate, 44100);
    EXPECT_EQ(h->frameBytes, 417);
    EXPECT_EQ(h->samplesPerFrame, 1152);
    const std::uint8_t mpeg2[] = {0xFF, 0xF3, 0x80, 0xC0};  // MPEG-2 layer III, 64 kbit/s, 22050 Hz, mono
    h = ParseMp3FrameHeader(mpeg2, 4);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->samplesPerFrame, 576);
    EXPECT_EQ(h->frameBytes, 208);
    EXPECT_EQ(h->channels, 1);
    const std::uint8_t bad[][4] = {{0xFF, 0xFB, 0xF0, 0}, {0xFF, 0xFB, 0x9C, 0}, {0xFF, 0xEB, 0x90, 0}, {0xFF, 0xFB, 0x00, 0}};
    for (const auto& b : bad) EXPECT_FALSE(ParseMp3FrameHeader(b, 4));
}

TEST(Mp3Stream, StatedDelayAndPaddingAreTakenOff) {
    Bytes file = Id3Tag();
    Append(file, InfoFrame(576, 600));
    for (int i = 0; i < 10; ++i) Append(file, Frame(i % 3 == 1));
    Bytes tag(128, 0);
    std::memcpy(tag.data(), "TAG", 3);
    Append(file, tag);
    const auto info = AnalyzeMp3Stream(file);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->hasInfoFrame);
    EXPECT_EQ(info->audioFrames, 10);
    EXPECT_TRUE(info->hasGaplessInfo);
    EXPECT_EQ(info->LeadingSamples(), 576 + 529);
    EXPECT_EQ(info->ContentSamples(), 11520 - 576 - 600);
    // A tag of another encoder is read the same way; a tag that claims more
    // than the frames hold is not believed.
    Bytes lavc = Id3Tag();
    Append(lavc, InfoFrame(576, 600, "Lavc59.37"));
    for (int i = 0; i < 10; ++i) Append(lavc, Frame());
    EXPECT_TRUE(AnalyzeMp3Stream(lavc)->hasGaplessInfo);
    Bytes lying = Id3Tag();
    Append(lying, InfoFrame(4000, 4000));
    Append(lying, Frame());
    const auto l = AnalyzeMp3Stream(lying);
    ASSERT_TRUE(l);
    EXPECT_FALSE(l->hasGaplessInfo);
    EXPECT_EQ(l->ContentSamples(), 1152);
}

TEST(Mp3Stream, FramesAreCountedThroughJunkButNotPastTheEnd) {
    Bytes file;
    for (int i = 0; i < 5; ++i) Append(file, Frame());
    Append(file, Bytes(37, 0x00));  // junk between frames
    for (int i = 0; i < 5; ++i) Append(file, Frame());
    Bytes cut = Frame();
    cut.resize(100);  // a last frame cut short
    Append(file, cut);
    const auto info = AnalyzeMp3Stream(file);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->hasInfoFrame);
    EXPECT_EQ(info->audioFrames, 10);
    EXPECT_EQ(info->ContentSamples(), 11520);
    // Not MPEG audio: a container that happens to hold sync bytes later on.
    Bytes other(64, 'x');
    Append(other, Frame());
    Append(other, Frame());
    EXPECT_FALSE(AnalyzeMp3Stream(other));
}

// Two files joined end to end are one stream, however big the second one's
// tag (cover art is often far longer than any gap between frames).
TEST(Mp3Stream, JoinedFilesCountAsOneStreamPastABigTag) {
    Bytes file = Id3Tag();
    for (int i = 0; i < 5; ++i) Append(file, Frame());
    Bytes cover = {'I', 'D', '3', 3, 0, 0, 0, 0x08, 0x00, 0x00};  // 128 KiB of tag (syncsafe size)
    cover.resize(10 + 128 * 1024, 0xFF);  // sync-like bytes inside the tag must not be taken for frames
    Append(file, cover);
    for (int i = 0; i < 7; ++i) Append(file, Frame());
    const auto info = AnalyzeMp3Stream(file);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->audioFrames, 12);
}

// A file read while another process cuts it short ends the scan sooner; it
// never takes the process down (a mapped file would, with SIGBUS).
TEST(Mp3Stream, AFileShrinkingWhileScannedEndsTheScan) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("shrinking.mp3").toStdString();
    Bytes file;
    for (int i = 0; i < 20000; ++i) Append(file, Frame());  // 8 MB
    std::atomic<bool> done{false};
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                      static_cast<std::streamsize>(file.size()));
    }
    std::thread cutter([&] {
        while (!done.load()) {
            ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                          static_cast<std::streamsize>(file.size()));
        }
    });
    for (int i = 0; i < 30; ++i) {
        if (const auto info = AnalyzeMp3File(path)) {
            EXPECT_LE(info->audioFrames, 20000);
        }
    }
    done.store(true);
    cutter.join();
}

// The frame list a reader starts from: every audio frame where it lies,
// the information frame and junk left out; a change between stereo and mono
// is noticed.
TEST(Mp3Stream, FramesAreListedWhereTheyLie) {
    Bytes file = Id3Tag();
    Append(file, InfoFrame(576, 600));
    Append(file, Frame());
    Append(file, Bytes(11, 0x00));
    Append(file, Frame(true));
    Append(file, Frame());
    std::vector<Mp3FrameRef> frames;
    const auto info = AnalyzeMp3Stream(file, &frames);
    ASSERT_TRUE(info);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].offset, 30u + 417u);
    EXPECT_EQ(frames[1].offset, 30u + 2 * 417u + 11u);
    EXPECT_EQ(frames[1].bytes, 418u);
    EXPECT_EQ(frames[2].offset, 30u + 3 * 417u + 11u + 1u);
    EXPECT_FALSE(info->channelsVary);
    Bytes mono = Frame();
    mono[3] = 0xC0;  // single channel
    Append(file, mono);
    EXPECT_TRUE(AnalyzeMp3Stream(file, &frames)->channelsVary);
    EXPECT_EQ(frames.size(), 4u);
}

TEST(SampleWindow, CutsTheSelectionOutOfBuffers) {
    // Window of 100 frames from input position 1000.
    TrimDecision d = DecideTrim(1000, 100, 0, 900, 50);  // wholly before
    EXPECT_EQ(d.keepCount, 0);
    EXPECT_EQ(d.silenceBefore, 0);
    d = DecideTrim(1000, 100, 0, 980, 50);  // straddles the start
    EXPECT_EQ(d.keepOffset, 20);
    EXPECT_EQ(d.keepCount, 30);
    d = DecideTrim(1000, 100, 30, 1030, 100);  // straddles the end
    EXPECT_EQ(d.keepCount, 70);
    EXPECT_TRUE(d.reachedEnd);
    d = DecideTrim(1000, 100, 30, 1040, 10);  // a hole of 10 frames
    EXPECT_EQ(d.silenceBefore, 10);
    EXPECT_EQ(d.keepCount, 10);
    d = DecideTrim(1000, 100, 30, 1020, 20);  // overlaps what went out
    EXPECT_EQ(d.keepOffset, 10);
    EXPECT_EQ(d.keepCount, 10);
    d = DecideTrim(1000, 100, 100, 1100, 10);
    EXPECT_TRUE(d.reachedEnd);
    EXPECT_EQ(d.keepCount, 0);
    // Timestamps a little off the running count do not move the sound.
    EXPECT_EQ(BufferPosition(1'000'020'000, 48000, true, 48000, 48), 48000);
    EXPECT_EQ(BufferPosition(1'010'000'000, 48000, true, 48000, 48), 48480);
    EXPECT_EQ(FramesForDuration(20'833, 48000), 1);
}

// Two branches take spans in turn; together they cover the selection once,
// each ending on its own last span.
TEST(SpanPlan, SpansCoverTheSelectionOnceInTurn) {
    const SpanPlan plan = PlanSpans(100 * 48000 + 64, 48000, 2);
    EXPECT_EQ(plan.spanFrames, 15 * 48000);
    std::int64_t covered = 0;
    for (int branch = 0; branch < 2; ++branch) {
        Span s = SpanAt(plan, branch);
        EXPECT_TRUE(IsFirstSpanOfBranch(plan, s));
        while (true) {
            EXPECT_EQ(s.base, s.index * plan.spanFrames);
            covered += s.frames;
            if (IsLastSpanOfBranch(plan, s)) break;
            s = SpanAt(plan, s.index + 2);
            EXPECT_FALSE(IsFirstSpanOfBranch(plan, s));
            EXPECT_GT(s.frames, 0);
        }
    }
    EXPECT_EQ(covered, plan.totalFrames);
    // One branch: one span, the whole selection.
    const SpanPlan one = PlanSpans(1000, 48000, 1);
    EXPECT_EQ(SpanAt(one, 0).frames, 1000);
    EXPECT_TRUE(IsLastSpanOfBranch(one, SpanAt(one, 0)));
    // A second branch of a selection shorter than a span has nothing to do.
    EXPECT_EQ(SpanAt(PlanSpans(1000, 48000, 2), 1).frames, 0);
}

TEST(SpanPlan, SpansOnlyWhereTheyPayAndJoinExactly) {
    SpanConditions c;
    c.length = 60 * kUnitsPerSecond;
    c.seeksToTheSample = true;
    c.freeCores = 2;
    EXPECT_EQ(BranchesFor(c), 2);
    c.freeCores = 1;  // a batch already busy on every core
    EXPECT_EQ(BranchesFor(c), 1);
    c.freeCores = 2;
    c.seeksToTheSample = false;
    EXPECT_EQ(BranchesFor(c), 1);
    c.seeksToTheSample = true;
    c.length = 30 * kUnitsPerSecond;  // two spans' worth is not worth a second branch
    EXPECT_EQ(BranchesFor(c), 1);
}

// Conversions running at once share the machine's cores: a batch with a job
// per core gives each one core, so no file is decoded in spans.
TEST(SpanPlan, ConcurrentConversionsShareTheCores) {
    EXPECT_EQ(CoresForConversion(2, 1), 2);
    EXPECT_EQ(CoresForConversion(2, 2), 1);
    EXPECT_EQ(CoresForConversion(8, 3), 2);
    EXPECT_EQ(CoresForConversion(1, 4), 1);
    EXPECT_EQ(CoresForConversion(4, 0), 4);
}

TEST(FormatChecks, PcmTheConverterCanPutOut) {
    EXPECT_FALSE(PcmFormatProblem(MakePcmFormat(44100, 2, 16)));
    EXPECT_FALSE(PcmFormatProblem(MakePcmFormat(768000, 1, 8)));
    WaveFormatEx f = MakePcmFormat(44100, 2, 16);
    f.nBlockAlign = 2;
    EXPECT_TRUE(PcmFormatProblem(f));
    EXPECT_TRUE(PcmFormatProblem(MakePcmFormat(768001, 2, 16)));
    EXPECT_TRUE(PcmFormatProblem(MakePcmFormat(0, 2, 16)));
    EXPECT_TRUE(PcmFormatProblem(MakePcmFormat(44100, 2, 12)));
    f = MakePcmFormat(44100, 2, 16);
    f.wFormatTag = 3;
    EXPECT_TRUE(PcmFormatProblem(f));  // float is 32 bits only
}

TEST(FormatChecks, WideFloatAndTheSourcesChannels) {
    for (std::uint16_t bits : {24, 32})
        for (std::uint16_t channels : {1, 2, 6, 8})
            EXPECT_FALSE(PcmFormatProblem(MakePcmFormat(96000, channels, bits)));
    WaveFormatEx f = MakePcmFormat(48000, 6, 32);
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    EXPECT_FALSE(PcmFormatProblem(f));
    f.wFormatTag = 0xFFFE;  // the writer's business, never the converter's
    EXPECT_TRUE(PcmFormatProblem(f));
    EXPECT_TRUE(PcmFormatProblem(MakePcmFormat(48000, 9, 16)));
    // The source's channels: no block until they are known.
    EXPECT_FALSE(PcmFormatProblem(MakePcmFormat(48000, 0, 24)));
    WaveFormatEx source = MakePcmFormat(48000, 0, 24);
    source.nBlockAlign = 6;
    EXPECT_TRUE(PcmFormatProblem(source));
    // Learned, they make the block and bytes per second of the file.
    EXPECT_EQ(WithChannels(MakePcmFormat(48000, 0, 24), 6), MakePcmFormat(48000, 6, 24));
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    f.nChannels = 0;
    const WaveFormatEx learned = WithChannels(f, 2);
    EXPECT_EQ(learned.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(learned.nBlockAlign, 8);
    EXPECT_EQ(learned.nAvgBytesPerSec, 384000u);
}

TEST(FormatChecks, OutputFramesOfASelection) {
    EXPECT_EQ(OutputFrames(15'000'000, 44100), 66150u);
    EXPECT_EQ(OutputFrames(MediaTime(7) * 3600 * kUnitsPerSecond, 44100), 7u * 3600u * 44100u);
    EXPECT_EQ(OutputFrames(1, 44100), 0u);
}

TEST(Texts, UsedTimeAndResults) {
    EXPECT_EQ(UsedTimeText(1), "Please wait... Used Time: 00:00:01");
    EXPECT_EQ(UsedTimeText(3661), "Please wait... Used Time: 01:01:01");
    EXPECT_EQ(UsedTimeText(360000), "Please wait... Used Time: 100:00:00");
    EXPECT_EQ(ReplaceQuestionText("/a/b.wav"), "/a/b.wav exists. Do you want to replace it?");
    EXPECT_EQ(DoneText("/a/b.wav"), "Done. Output File: /a/b.wav");
    EXPECT_EQ(ErrorTextWithCause("Could not write to resource.",
                                 "gstelements_private.c(341): gst_writev_iovecs (): /GstPipeline:p/GstFileSink:s:\n"
                                 "Error while writing to file descriptor 5: File too large"),
              "Could not write to resource. (File too large)");
    EXPECT_EQ(ErrorTextWithCause("Not found.", "gstfilesrc.c(553): gst_file_src_start ()"), "Not found.");
    EXPECT_EQ(ErrorTextWithCause("Resource not found.", nullptr), "Resource not found.");
}

TEST(CommandLine, TimesAndProbeReport) {
    EXPECT_EQ(ParseTimeArgument("12.5"), 125'000'000);
    EXPECT_EQ(ParseTimeArgument("75"), 750'000'000);
    EXPECT_EQ(ParseTimeArgument("2:03"), 1'230'000'000);
    EXPECT_EQ(ParseTimeArgument("01:02:03.25"), (3723 * kUnitsPerSecond) + 2'500'000);
    EXPECT_EQ(ParseTimeArgument("0:00.0000001"), 1);
    for (const char* bad : {"", "-1", "1:60", "1:60:00", "1.2.3", "1:2:3:4", "1.12345678", "abc", "1:"})
        EXPECT_FALSE(ParseTimeArgument(bad)) << bad;
    EXPECT_EQ(ProbeReportText(25'000'000), "length: 2.500\nwhole: 00:00:02\n");
    EXPECT_EQ(ProbeReportText(599'996'000), "length: 60.000\nwhole: 00:00:59\n");
    EXPECT_EQ(ProbeReportText(MediaTime(100) * 3600 * kUnitsPerSecond), "length: 360000.000\nwhole: 100:00:00\n");
}

TEST(CommandLine, Arguments) {
    auto ok = ParseConvertArguments({"-o", "out.wav", "in.mp3"});
    ASSERT_TRUE(ok.ok);
    EXPECT_EQ(ok.options.rate, 44100);
    EXPECT_EQ(ok.options.channels, 2);
    EXPECT_EQ(ok.options.bits, 16);
    EXPECT_TRUE(ok.options.dither);
    EXPECT_FALSE(ok.options.end);
    EXPECT_FALSE(ParseConvertArguments({"--dither", "none", "-o", "o.wav", "in.mp3"}).options.dither);
    EXPECT_TRUE(ParseConvertArguments({"--dither=tpdf", "-o", "o.wav", "in.mp3"}).options.dither);
    ok = ParseConvertArguments({"--output=o.wav", "-r8000", "--channels", "1", "-b", "8", "-s", "1:00", "-e", "90",
                                "-y", "-q", "--", "-odd name.mp3"});
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.options.output, "o.wav");
    EXPECT_EQ(ok.options.inputs, std::vector<std::string>{"-odd name.mp3"});
    EXPECT_EQ(ok.options.rate, 8000);
    EXPECT_EQ(ok.options.start, 600'000'000);
    EXPECT_EQ(ok.options.end, 900'000'000);
    EXPECT_TRUE(ok.options.overwrite && ok.options.quiet);
    EXPECT_TRUE(ParseConvertArguments({"--probe", "in.mp3"}).ok);
    EXPECT_TRUE(ParseConvertArguments({"--version"}).ok);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"in.mp3"}, {"-o", "o.wav"}, {"-o", "o.wav", "a", "b"}, {"-o", "o.wav", "-c", "6", "a"},
          {"-o", "o.wav", "-r", "44.1k", "a"}, {"-x", "a"}, {"-o"}, {"--quiet=yes", "-o", "o.wav", "a"},
          {"--dither", "rectangular", "-o", "o.wav", "a"}})
        EXPECT_FALSE(ParseConvertArguments(bad).ok);
    // The seed's formats are the dialog's, row for row.
    EXPECT_EQ(OutputFormatFor(ParseConvertArguments({"-r", "22050", "-c", "1", "-b", "8", "-o", "o.wav", "a"}).options),
              ComputeOutputWaveFormat(3, 1, 1, 0));
    EXPECT_EQ(OutputFormatFor(ParseConvertArguments({"-r", "96000", "-o", "o.wav", "a"}).options),
              ComputeOutputWaveFormat(kCustomRateRow, 0, 0, 96000));
}

TEST(CommandLine, WideFloatAndSourceFormats) {
    const auto format = [](std::vector<std::string> args) {
        args.insert(args.end(), {"-o", "o.wav", "a"});
        const ParsedCommandLine parsed = ParseConvertArguments(args);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        return OutputFormatFor(parsed.options);
    };
    EXPECT_EQ(format({"-b", "24"}), MakeOutputWaveFormat(44100, 2, 24));
    EXPECT_EQ(format({"-b", "32"}), MakeOutputWaveFormat(44100, 2, 32, SampleKind::Integer));
    EXPECT_EQ(format({"--bits=32f", "-r", "48000"}), MakeOutputWaveFormat(48000, 2, 32, SampleKind::Float));
    EXPECT_EQ(format({"-c", "source", "-b", "24"}), MakeOutputWaveFormat(44100, kSourceChannels, 24));
    EXPECT_EQ(format({"--channels=source", "-c", "1"}), MakeOutputWaveFormat(44100, 1, 16));
    // The last -b counts, kind and all.
    EXPECT_EQ(format({"-b", "32f", "-b", "32"}).kind, SampleKind::Integer);
    for (const char* bad : {"12", "32F", "24f", "64", "float", ""}) {
        const ParsedCommandLine parsed = ParseConvertArguments({"-b", bad, "-o", "o.wav", "a"});
        EXPECT_FALSE(parsed.ok) << bad;
        EXPECT_EQ(parsed.error, "the bits must be 8, 16, 24, 32 or 32f") << bad;
    }
    for (const char* bad : {"0", "6", "Source", "same"}) {
        const ParsedCommandLine parsed = ParseConvertArguments({"-c", bad, "-o", "o.wav", "a"});
        EXPECT_FALSE(parsed.ok) << bad;
        EXPECT_EQ(parsed.error, "the channels must be 1, 2 or source") << bad;
    }
}

TEST(CommandLine, SeveralInputsGoToAFolder) {
    auto ok = ParseConvertArguments({"-d", "out", "-j", "3", "a.mp3", "b.ogg"});
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.options.inputs, (std::vector<std::string>{"a.mp3", "b.ogg"}));
    EXPECT_EQ(ok.options.outputDir, "out");
    EXPECT_EQ(ok.options.jobs, 3);
    ok = ParseConvertArguments({"--output-dir=out", "a.mp3"});
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_FALSE(ok.options.jobs);
    const auto several = ParseConvertArguments({"-o", "o.wav", "a", "b"});
    EXPECT_FALSE(several.ok);
    EXPECT_NE(several.error.find("-d"), std::string::npos) << several.error;
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"a", "b"}, {"-d", "out", "-o", "o.wav", "a"}, {"-d", "out", "-j", "0", "a"},
          {"-d", "out", "-j", "two", "a", "b"}, {"-d", "", "a"}, {"--probe", "a", "b"}, {"-d", "out"}})
        EXPECT_FALSE(ParseConvertArguments(bad).ok) << bad.front();
}

TEST(BatchPlan, OutputsAreNamedInTheFolderAndNeverShared) {
    EXPECT_EQ(OutputInFolder("out", "/music/song.mp3"), "out/song.wav");
    EXPECT_EQ(OutputInFolder("out/", "song"), "out/song.wav");
    EXPECT_EQ(OutputInFolder("/", "live.2024.flac"), "/live.2024.wav");
    EXPECT_EQ(OutputInFolder("w", "take.v2/name"), "w/name.wav");
    const auto plan = PlanOutputs({"a/x.mp3", "b/x.ogg", "y.mp3", "a/x.mp3"}, "", "w");
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan[1].output, "w/x.wav");
    EXPECT_FALSE(plan[0].sameOutputAs);
    EXPECT_EQ(plan[1].sameOutputAs, 0u);
    EXPECT_FALSE(plan[2].sameOutputAs);
    EXPECT_EQ(plan[3].sameOutputAs, 0u);
    const auto single = PlanOutputs({"in.mp3"}, "given.wav", "");
    EXPECT_EQ(single.at(0).output, "given.wav");
}

TEST(BatchPlan, SummaryAndExitStatus) {
    using S = FileState;
    const std::vector<FileResult> good = {{S::Converted, 0}, {S::Converted, 0}};
    EXPECT_EQ(BatchExitStatus(good, false), kExitDone);
    EXPECT_EQ(BatchSummaryText(CountResults(good)), "Converted 2 of 2 files.");
    const std::vector<FileResult> mixed = {{S::Converted, 0}, {S::Failed, 4}, {S::Failed, 3}, {S::Converted, 0}};
    EXPECT_EQ(BatchExitStatus(mixed, false), kExitOutputRefused);
    EXPECT_EQ(BatchSummaryText(CountResults(mixed)), "Converted 2 of 4 files; 2 failed.");
    const std::vector<FileResult> stopped = {{S::Failed, 5}, {S::Stopped, 130}, {S::Pending, 0}, {S::Pending, 0}};
    EXPECT_EQ(BatchExitStatus(stopped, true), kExitInterrupted);
    EXPECT_EQ(BatchSummaryText(CountResults(stopped)), "Converted 0 of 4 files; 1 failed, 1 stopped, 2 not started.");
    // One file: exactly its own status.
    EXPECT_EQ(BatchExitStatus({{S::Failed, kExitBadArguments}}, false), kExitBadArguments);
    EXPECT_EQ(BatchSummaryText(CountResults({{S::Failed, 2}})), "Converted 0 of 1 file; 1 failed.");
    // A file left unconverted without a failure of its own never passes for done.
    EXPECT_NE(BatchExitStatus({{S::Converted, 0}, {S::Pending, 0}}, false), kExitDone);
}

TEST(BatchPlan, OverallPercentWeighsEveryFileTheSame) {
    EXPECT_EQ(OverallPercent(4, 0, {}), 0);
    EXPECT_EQ(OverallPercent(4, 1, {50, 50}), 50);
    EXPECT_EQ(OverallPercent(3, 3, {}), 100);
    EXPECT_EQ(OverallPercent(2, 1, {250}), 100);
}

TEST(Timeline, NodesAndTheirTimes) {
    Timeline t;
    std::shared_ptr<TimelineObj> group, track, source;
    ASSERT_TRUE(t.CreateEmptyNode(group, TIMELINE_MAJOR_TYPE_GROUP).succeeded());
    EXPECT_TRUE(t.AddGroup(group).failed());  // no media type yet
    AmMediaType audio;
    audio.majortype = MajorType::Audio;
    ASSERT_TRUE(group->SetMediaType(audio).succeeded());
    ASSERT_TRUE(t.AddGroup(group).succeeded());
    EXPECT_TRUE(t.CreateEmptyNode(track, TIMELINE_MAJOR_TYPE_TRACK).succeeded());
    EXPECT_TRUE(t.CreateEmptyNode(source, TIMELINE_MAJOR_TYPE_SOURCE).succeeded());
    EXPECT_EQ(track->SetMediaTimes(0, 1), E_NOINTERFACE);
    EXPECT_EQ(source->SrcAdd(track), E_NOINTERFACE);
    ASSERT_TRUE(group->VTrackInsBefore(track, -1).succeeded());
    ASSERT_TRUE(source->SetMediaTimes(100'000'000, 250'000'000).succeeded());
    EXPECT_TRUE(source->SetMediaTimes(5, 5).failed());
    EXPECT_TRUE(source->SetStartStop(0, 150'000'000).succeeded());
    EXPECT_TRUE(source->SetMediaName("/nowhere/song.mp3").succeeded());
    ASSERT_TRUE(track->SrcAdd(source).succeeded());
    long groups = 0;
    EXPECT_TRUE(t.GetGroupCount(groups).succeeded());
    EXPECT_EQ(groups, 1);
    bool preview = false;
    EXPECT_TRUE(group->GetPreviewMode(preview).succeeded());
    EXPECT_TRUE(preview);
    std::vector<std::string> reported;
    const Result r = t.ValidateSourceNames(SFN_VALIDATEF_CHECK | SFN_VALIDATEF_POPUP,
                                           [&](const std::string& text) { reported.push_back(text); });
    EXPECT_EQ(r, E_NOTFOUND);
    EXPECT_EQ(reported, std::vector<std::string>{MissingSourceText("/nowhere/song.mp3")});
}

TEST(Files, FinishingAWaveFileAndNamingTheSameFile) {
    QTemporaryDir dir;
    const std::string cut = dir.filePath("cut.wav").toStdString();
    ASSERT_TRUE(test::WriteWavFile(cut, test::Tone(0.1, 8000, 1)));
    {
        // A writer cut off: placeholder sizes and half a frame at the end.
        std::fstream f(cut, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4);
        f.write("\xFF\xFF\xFF\x7F", 4);
        f.seekp(40);
        f.write("\0\0\0\0", 4);
        f.seekp(0, std::ios::end);
        f.write("\x01", 1);
    }
    ASSERT_TRUE(FinishWavFile(cut, MakePcmFormat(8000, 1, 16)));
    test::WavFile w = test::ReadWavFile(cut);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.frames(), 800u);
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    const std::string empty = dir.filePath("empty.wav").toStdString();
    ASSERT_TRUE(test::MakeZeroByteFile(empty));
    ASSERT_TRUE(FinishWavFile(empty, MakePcmFormat(22050, 2, 8)));
    w = test::ReadWavFile(empty);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.sampleRate, 22050u);
    EXPECT_EQ(w.frames(), 0u);
    ASSERT_TRUE(test::MakeTextFile(dir.filePath("text.wav").toStdString()));
    EXPECT_FALSE(FinishWavFile(dir.filePath("text.wav").toStdString(), MakePcmFormat(8000, 1, 8)));

    const std::string hard = dir.filePath("hard.wav").toStdString();
    ASSERT_EQ(::link(cut.c_str(), hard.c_str()), 0);
    EXPECT_TRUE(NamesSameFile(cut, hard));
    EXPECT_FALSE(NamesSameFile(cut, empty));
    EXPECT_FALSE(NamesSameFile(cut, dir.filePath("missing.wav").toStdString()));
    EXPECT_TRUE(FileExists(cut));
    EXPECT_FALSE(FileExists(dir.path().toStdString()));
}

}  // namespace
