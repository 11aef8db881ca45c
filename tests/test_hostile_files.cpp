// Inputs the fuzzers found or that stand for what they look for: damaged
// and hostile files given to our parsers of file bytes and our elements.
// Each one is built here from the bytes that did it, cut to what matters.

#include "core/WaveFormatEx.h"
#include "formats/WavFinish.h"
#include "tests/support/WavFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace veltrano;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutText(Bytes& b, const char* text) { b.insert(b.end(), text, text + std::strlen(text)); }

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}
Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// RIFF, WAVE, a chunk of the given size, then (at the offset that size
// would reach in 32-bit arithmetic) a data chunk with a little sound.
Bytes WaveWithChunkOfSize(std::uint32_t size) {
    Bytes b;
    PutText(b, "RIFF");
    Put32(b, 0);
    PutText(b, "WAVEjunk");
    Put32(b, size);
    PutText(b, "data");
    Put32(b, 0);
    b.resize(b.size() + 64, 0x55);
    return b;
}

// A chunk size near 2^32 made the walk's step wrap in 32 bits: 0xFFFFFFF7
// and 0xFFFFFFF8 to a step of 0, and the walk stood still for ever;
// 0xFFFFFFFC to a step of 4, into the chunk's own header; 0xFFFFFFFF to a
// step of 8, onto bytes inside the chunk, taken for the data chunk and
// rewritten. A chunk reaching past the file leaves no data chunk: the file
// is refused and not touched.
TEST(WavFinishing, ChunkSizesNear4GiBAreWalkedIn64Bits) {
    QTemporaryDir dir;
    for (std::uint32_t size : {0xFFFFFFF7u, 0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFFu}) {
        const std::string path = dir.filePath("chunk.wav").toStdString();
        const Bytes before = WaveWithChunkOfSize(size);
        ASSERT_TRUE(WriteBytes(path, before));
        EXPECT_FALSE(FinishWavFile(path, MakePcmFormat(8000, 1, 16))) << std::hex << size;
        EXPECT_EQ(ReadBytes(path), before) << std::hex << size;
    }
    // The same chunk with an honest size is walked over to the data.
    const std::string path = dir.filePath("honest.wav").toStdString();
    Bytes honest = WaveWithChunkOfSize(0);
    ASSERT_TRUE(WriteBytes(path, honest));
    ASSERT_TRUE(FinishWavFile(path, MakePcmFormat(8000, 1, 16)));
    const Bytes after = ReadBytes(path);
    ASSERT_EQ(after.size(), honest.size());
    EXPECT_EQ(after[24], 64u);  // the data size
    EXPECT_EQ(after[4], honest.size() - 8);
}

}  // namespace
