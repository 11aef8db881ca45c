// Finishing a wave file whose writer was cut off, on any bytes: it ends; a
// file it refuses is left as it was; a file it finishes reads back as a WAV
// whose sizes add up to the file, with whole frames of sound (in the file's
// own format, or the one given when the header states none), never longer
// than it was, the bytes before the sound untouched but for the sizes.

#include "core/WaveFormatEx.h"
#include "formats/WavFinish.h"
#include "formats/WavHeader.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <vector>

using namespace veltrano;
using veltrano::fuzz::Check;

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
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
        Check(Le32(out.data() + 40) == 0, "with an empty data chunk");
        return 0;
    }
    if (!finished) {
        Check(out.size() == size && std::memcmp(out.data(), data, size) == 0, "a refused file is left as it was");
        return 0;
    }
    const auto head = std::span<const std::uint8_t>(out.data(), std::min<std::size_t>(out.size(), wav::kMaxHeaderRead));
    const wav::ParseResult parsed = wav::ParseHeader(head, out.size());
    Check(parsed.ok, "a finished file reads back as a WAV");
    const wav::ParsedHeader& h = parsed.header;
    Check(out.size() <= size, "finishing never makes a file longer");
    Check(h.dataOffset <= out.size(), "the sound starts inside the file");
    const std::uint64_t sound = out.size() - h.dataOffset;
    const std::uint16_t align = h.blockAlign ? h.blockAlign : format.nBlockAlign;
    if (align) Check(sound % align == 0, "the sound is whole frames");
    Check(size - out.size() < std::max<std::uint16_t>(align, 1), "no more than a cut frame is dropped");
    if (h.container == wav::Container::Riff) {
        Check(h.dataSize == sound, "the data size is what follows its header");
        Check(Le32(out.data() + 4) == out.size() - 8, "the RIFF size is the file's");
    }
    Check(std::memcmp(out.data() + 8, data + 8, 4) == 0, "the form type is untouched");
    return 0;
}
