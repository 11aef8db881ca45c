// The format rows and the custom rate's text becoming the five PCM numbers.

#include "core/WaveFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veltrano;

namespace {

TEST(OutputWaveFormat, ListRowsGiveThePcmNumbers) {
    struct Case {
        int rate, channels, bits, custom;
        OutputWaveFormat expected;
    } cases[] = {
        {1, 0, 0, 44100, {44100, 2, 16, 4, 176400}},    // first run
        {5, 1, 1, 44100, {8000, 1, 8, 1, 8000}},        // 8000 mono 8-bit
        {6, 0, 0, 96000, {96000, 2, 16, 4, 384000}},    // custom define
        {0, 1, 0, 0, {48000, 1, 16, 2, 96000}},         // custom value unused off row 6
        {3, 0, 1, 0, {22050, 2, 8, 2, 44100}},
        {-1, -1, -1, 0, {44100, 2, 16, 4, 176400}},     // no selection anywhere
        {9, 7, 4, 0, {44100, 2, 16, 4, 176400}},        // rows outside the lists
        // Rows added after the seed's keep the seed's rows as they were.
        {0, 0, 2, 0, {48000, 2, 24, 6, 288000}},
        {5, 1, 2, 0, {8000, 1, 24, 3, 24000}},
        {1, 0, 3, 0, {44100, 2, 32, 8, 352800, SampleKind::Float}},
        // The source's channels: block and bytes per second wait for them.
        {1, 2, 0, 0, {44100, 0, 16, 0, 0}},
        {6, 2, 3, 96000, {96000, 0, 32, 0, 0, SampleKind::Float}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << "/" << c.channels << "/" << c.bits);
        EXPECT_EQ(ComputeOutputWaveFormat(c.rate, c.channels, c.bits, c.custom), c.expected);
    }
}

TEST(OutputWaveFormat, TheListsOfferTheNewRowsAfterTheSeedsOwn) {
    EXPECT_STREQ(kChannelRows[0], "Stereo");
    EXPECT_STREQ(kChannelRows[1], "Mono");
    EXPECT_STREQ(kChannelRows[kSourceChannelsRow], "Same as source");
    EXPECT_EQ(kChannelRows.size(), 3u);
    const std::vector<std::string> bits(kBitsPerSampleRows.begin(), kBitsPerSampleRows.end());
    EXPECT_EQ(bits, (std::vector<std::string>{"16", "8", "24", "32 (float)"}));
}

TEST(OutputWaveFormat, MadeFromNumbersAsTheCommandLineGivesThem) {
    // 32-bit integers have no row in the dialog, but a format all the same.
    EXPECT_EQ(MakeOutputWaveFormat(96000, 2, 32), (OutputWaveFormat{96000, 2, 32, 8, 768000}));
    EXPECT_EQ(MakeOutputWaveFormat(384000, 8, 32, SampleKind::Float),
              (OutputWaveFormat{384000, 8, 32, 32, 12288000, SampleKind::Float}));
    // Float is 32 bits whatever width came with it.
    EXPECT_EQ(MakeOutputWaveFormat(48000, 1, 16, SampleKind::Float).wBitsPerSample, 32);
    EXPECT_TRUE(MakeOutputWaveFormat(48000, kSourceChannels, 24).SourceChannels());
    EXPECT_EQ(MakeOutputWaveFormat(48000, kSourceChannels, 24).nAvgBytesPerSec, 0u);
}

TEST(CustomRateText, ParsesLikeTheEditAlwaysDid) {
    EXPECT_EQ(ParseCustomSamplesPerSec("96000"), 96000);
    EXPECT_EQ(ParseCustomSamplesPerSec("22050abc"), 22050);
    EXPECT_EQ(ParseCustomSamplesPerSec(" -5"), -5);
    EXPECT_EQ(ParseCustomSamplesPerSec("\t+7x"), 7);
    EXPECT_EQ(ParseCustomSamplesPerSec(""), 0);
    EXPECT_EQ(ParseCustomSamplesPerSec("abc"), 0);
    EXPECT_EQ(ParseCustomSamplesPerSec("- 5"), 0);
    EXPECT_EQ(ParseCustomSamplesPerSec("1 2"), 1);
    EXPECT_EQ(ParseCustomSamplesPerSec("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseCustomSamplesPerSec("-99999999999999999999"), -2147483647 - 1);
    // Only the first 127 characters are read.
    EXPECT_EQ(ParseCustomSamplesPerSec(std::string(127, ' ') + "5"), 0);
    EXPECT_EQ(ParseCustomSamplesPerSec(std::string(126, ' ') + "5"), 5);
}

TEST(CustomRateLimit, RefusesRatesTheConverterCannotProduceOrAHeaderCannotState) {
    const auto rows = [](int rate, int channels, int bits, int custom) {
        return WaveFormatRefusal(ComputeOutputWaveFormat(rate, channels, bits, custom));
    };
    EXPECT_FALSE(rows(6, 0, 0, 768000).has_value());  // the converter's highest rate
    EXPECT_FALSE(rows(1, 0, 0, 2147483647).has_value());  // custom unused
    // Above it nothing is written, rather than another rate than asked for.
    const auto converter = rows(6, 1, 1, 768001);
    ASSERT_TRUE(converter.has_value());
    EXPECT_NE(converter->find("768001"), std::string::npos) << *converter;
    // Bytes per second past 32 bits name the highest rate a header could state.
    const auto text = rows(6, 0, 0, 2000000000);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("1073741823"), std::string::npos) << *text;
}

TEST(CustomRateLimit, WideFormatsAreCheckedForTheirOwnBytesPerSecond) {
    // 32 bits by 8 channels at 384 kHz: 12288000 bytes a second, well within a header.
    EXPECT_FALSE(WaveFormatRefusal(MakeOutputWaveFormat(384000, 8, 32)).has_value());
    EXPECT_FALSE(WaveFormatRefusal(MakeOutputWaveFormat(768000, 8, 32, SampleKind::Float)).has_value());
    // 32-byte blocks overflow above 134217727 a second, 6-byte ones above 715827882.
    const auto wide = WaveFormatRefusal(MakeOutputWaveFormat(134217728, 8, 32));
    ASSERT_TRUE(wide.has_value());
    EXPECT_NE(wide->find("at most 134217727"), std::string::npos) << *wide;
    const auto deep = WaveFormatRefusal(MakeOutputWaveFormat(715827883, 2, 24));
    ASSERT_TRUE(deep.has_value());
    EXPECT_NE(deep->find("at most 715827882"), std::string::npos) << *deep;
    EXPECT_EQ(WaveFormatRefusal(MakeOutputWaveFormat(715827882, 2, 24))->find("at most"), std::string::npos);
    // The source's channels are counted as the most there can be, 8.
    const auto source = WaveFormatRefusal(MakeOutputWaveFormat(134217728, kSourceChannels, 32, SampleKind::Float));
    ASSERT_TRUE(source.has_value());
    EXPECT_NE(source->find("of 32 bytes each"), std::string::npos) << *source;
    EXPECT_FALSE(WaveFormatRefusal(MakeOutputWaveFormat(768000, kSourceChannels, 32)).has_value());
}

}  // namespace
