#include "formats/WavFinish.h"

#include "formats/WavHeader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace veltrano {

namespace {

bool WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    return ::pwrite(fd, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

bool Put32At(int fd, std::uint64_t offset, std::uint32_t v) {
    std::array<std::uint8_t, 4> b{};
    for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    return WriteAt(fd, b.data(), b.size(), offset);
}

bool Put64At(int fd, std::uint64_t offset, std::uint64_t v) {
    return Put32At(fd, offset, static_cast<std::uint32_t>(v)) &&
           Put32At(fd, offset + 4, static_cast<std::uint32_t>(v >> 32));
}

wav::Format FormatOf(const WaveFormatEx& f) {
    wav::Format out;
    out.channels = f.nChannels;
    out.sampleRate = f.nSamplesPerSec;
    out.bitsPerSample = f.wBitsPerSample;
    if (f.wFormatTag == wav::kTagFloat) out.kind = wav::SampleKind::Float;
    return out;
}

// The whole frames of a file's data that its header can state: all of them
// in RF64, what the 32-bit sizes reach in RIFF.
std::uint64_t StatableData(const wav::ParsedHeader& h, std::uint64_t present, std::uint16_t blockAlign) {
    std::uint64_t data = present;
    if (h.container == wav::Container::Riff && !wav::RiffCanHold(h.dataOffset, data))
        data = wav::kRiffSizeLimit + 8 - h.dataOffset;
    return blockAlign ? data - data % blockAlign : data;
}

bool SetSizes(int fd, const wav::ParsedHeader& h, std::uint64_t data, std::uint16_t blockAlign) {
    const std::uint64_t riff = h.dataOffset + data - 8;
    const std::uint64_t frames = blockAlign ? data / blockAlign : 0;
    if (h.container == wav::Container::Rf64) {
        if (!h.ds64Body) return false;
        return Put64At(fd, *h.ds64Body, riff) && Put64At(fd, *h.ds64Body + 8, data) &&
               Put64At(fd, *h.ds64Body + 16, frames) && Put32At(fd, 4, wav::kSizeInDs64) &&
               Put32At(fd, h.dataSizeField, wav::kSizeInDs64);
    }
    bool ok = Put32At(fd, 4, static_cast<std::uint32_t>(riff)) &&
              Put32At(fd, h.dataSizeField, static_cast<std::uint32_t>(data));
    if (ok && h.factBody) ok = Put32At(fd, *h.factBody, static_cast<std::uint32_t>(frames));
    return ok;
}

bool Finish(int fd, const WaveFormatEx& format) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize == 0) {
        const auto header = wav::BuildHeader(FormatOf(format), {}, wav::Container::Riff, 0);
        return WriteAt(fd, header.data(), header.size(), 0);
    }
    // All of what a header may take, or the file is not finished.
    const std::vector<std::uint8_t> head = wav::ReadHeaderBytes(fd, fileSize);
    if (head.size() != std::min<std::uint64_t>(fileSize, wav::kMaxHeaderRead)) return false;
    const wav::ParseResult parsed = wav::ParseHeader(head, fileSize);
    if (!parsed.ok) return false;
    const wav::ParsedHeader& h = parsed.header;
    // Everything after the data chunk's header is sound: the writer was cut off there.
    const std::uint16_t blockAlign = h.blockAlign ? h.blockAlign : format.nBlockAlign;
    const std::uint64_t data = StatableData(h, fileSize - std::min(fileSize, h.dataOffset), blockAlign);
    if (!SetSizes(fd, h, data, blockAlign)) return false;
    const std::uint64_t end = h.dataOffset + data;
    return end == fileSize || ::ftruncate(fd, static_cast<off_t>(end)) == 0;
}

}  // namespace

bool FinishWavFile(const std::string& path, const WaveFormatEx& format) {
    // Nothing but a regular file is opened: a FIFO or a device is never touched.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    const bool ok = Finish(fd, format);
    ::close(fd);
    return ok;
}

}  // namespace veltrano
