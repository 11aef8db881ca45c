// Finishing a wave file whose writer was cut off, on any bytes: it ends, and
// it agrees with a walk of the chunks made here in 64-bit arithmetic: a
// file with a data chunk in its first 4 KB comes out with RIFF and data
// sizes that add up to the file, whole frames of sound, and the bytes before
// the data untouched; any other file is refused and left as it was.

#include "core/WaveFormatEx.h"
#include "formats/WavFinish.h"
#include "fuzz/FuzzSupport.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

using namespace veltrano;
using veltrano::fuzz::Check;

namespace {

// What FinishWavFile reads of a file: its first 4 KB.
constexpr std::size_t kHeadBytes = 4096;

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// Where the data chunk's header lies, found in 64-bit arithmetic.
std::optional<std::uint64_t> DataChunkAt(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t head = std::min(size, kHeadBytes);
    if (head < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) return std::nullopt;
    for (std::uint64_t pos = 12; pos + 8 <= head;) {
        if (std::memcmp(data + pos, "data", 4) == 0) return pos;
        const std::uint64_t chunk = Le32(data + pos + 4);
        pos += 8 + chunk + (chunk & 1);
    }
    return std::nullopt;
}

std::vector<std::uint8_t> ReadBack(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::array<WaveFormatEx, 3> kFormats = {MakePcmFormat(8000, 1, 8), MakePcmFormat(44100, 2, 16),
                                                         MakePcmFormat(48000, 6, 24)};
    const WaveFormatEx& format = kFormats[size % kFormats.size()];
    const std::string path = fuzz::WriteInputFile(data, size, "input.wav");
    const bool finished = FinishWavFile(path, format);
    const std::vector<std::uint8_t> out = ReadBack(path);

    if (size == 0) {
        Check(finished && out.size() == 44, "an empty file gets a header");
        Check(DataChunkAt(out.data(), out.size()) == 36u && Le32(out.data() + 40) == 0, "with an empty data chunk");
        return 0;
    }
    const auto at = DataChunkAt(data, size);
    Check(finished == at.has_value(), "a file is finished exactly when it has a data chunk");
    if (!at) {
        Check(out.size() == size && std::memcmp(out.data(), data, size) == 0, "a refused file is left as it was");
        return 0;
    }
    const std::uint64_t sound = out.size() - (*at + 8);
    Check(out.size() <= size && out.size() >= *at + 8, "only a cut frame is dropped");
    Check(size - out.size() < format.nBlockAlign, "no more than a frame is dropped");
    Check(sound % format.nBlockAlign == 0, "the sound is whole frames");
    Check(Le32(out.data() + *at + 4) == sound, "the data size is what follows its header");
    Check(Le32(out.data() + 4) == out.size() - 8, "the RIFF size is the file's");
    Check(std::memcmp(out.data() + 8, data + 8, *at + 4 - 8) == 0, "the chunks before the data are untouched");
    return 0;
}
