// The format rows and the custom rate's text becoming the five PCM numbers.

#include "core/WaveFormat.h"

#include <gtest/gtest.h>

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
        {9, 7, 3, 0, {44100, 2, 16, 4, 176400}},        // rows outside the lists
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << "/" << c.channels << "/" << c.bits);
        EXPECT_EQ(ComputeOutputWaveFormat(c.rate, c.channels, c.bits, c.custom), c.expected);
    }
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
    EXPECT_FALSE(WaveFormatRefusal(6, 0, 0, 768000).has_value());  // the converter's highest rate
    EXPECT_FALSE(WaveFormatRefusal(1, 0, 0, 2147483647).has_value());  // custom unused
    // Above it nothing is written, rather than another rate than asked for.
    const auto converter = WaveFormatRefusal(6, 1, 1, 768001);
    ASSERT_TRUE(converter.has_value());
    EXPECT_NE(converter->find("768001"), std::string::npos) << *converter;
    // Bytes per second past 32 bits name the highest rate a header could state.
    const auto text = WaveFormatRefusal(6, 0, 0, 2000000000);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("1073741823"), std::string::npos) << *text;
}

}  // namespace
