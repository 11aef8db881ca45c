#include "formats/WavFinish.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace veltrano {

namespace {

void Le32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Le16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint32_t Read32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

bool WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset) == static_cast<ssize_t>(size);
}

bool WriteEmptyHeader(int fd, const WaveFormatEx& f) {
    std::array<std::uint8_t, 44> h{};
    std::memcpy(&h[0], "RIFF", 4);
    Le32(&h[4], 36);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    Le32(&h[16], 16);
    Le16(&h[20], f.wFormatTag);
    Le16(&h[22], f.nChannels);
    Le32(&h[24], f.nSamplesPerSec);
    Le32(&h[28], f.nAvgBytesPerSec);
    Le16(&h[32], f.nBlockAlign);
    Le16(&h[34], f.wBitsPerSample);
    std::memcpy(&h[36], "data", 4);
    Le32(&h[40], 0);
    return WriteAt(fd, h.data(), h.size(), 0);
}

}  // namespace

bool FinishWavFile(const std::string& path, const WaveFormatEx& format) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && st.st_size == 0) {
        ok = WriteEmptyHeader(fd, format);
    } else if (ok) {
        std::array<std::uint8_t, 4096> head{};
        const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
        ok = got >= 12 && std::memcmp(&head[0], "RIFF", 4) == 0 && std::memcmp(&head[8], "WAVE", 4) == 0;
        // Walk the chunks to the data chunk; everything after its header is sound.
        std::uint64_t pos = 12;
        bool found = false;
        while (ok && pos + 8 <= static_cast<std::size_t>(got)) {
            if (std::memcmp(&head[pos], "data", 4) == 0) {
                found = true;
                break;
            }
            // In 64 bits: a size near 4 GiB would wrap a 32-bit step to 0 (a walk
            // that never ends) or onto bytes inside the chunk.
            const std::uint64_t chunk = Read32(&head[pos + 4]);
            pos += 8 + chunk + (chunk & 1);
        }
        ok = ok && found;
        if (ok) {
            const auto fileSize = static_cast<std::uint64_t>(st.st_size);
            std::uint64_t data = fileSize - (pos + 8);
            if (format.nBlockAlign > 0) data -= data % format.nBlockAlign;  // a frame cut in half is dropped
            const std::uint64_t riff = pos + 8 + data - 8;
            std::uint8_t size[4];
            Le32(size, static_cast<std::uint32_t>(std::min<std::uint64_t>(data, 0xFFFFFFFFu)));
            ok = WriteAt(fd, size, 4, static_cast<off_t>(pos + 4));
            Le32(size, static_cast<std::uint32_t>(std::min<std::uint64_t>(riff, 0xFFFFFFFFu)));
            ok = ok && WriteAt(fd, size, 4, 4);
            if (ok && pos + 8 + data < fileSize) ok = ::ftruncate(fd, static_cast<off_t>(pos + 8 + data)) == 0;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace veltrano
