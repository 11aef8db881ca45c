#include "cli/ExistingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace veltrano {

std::optional<std::uint64_t> CompleteWavFrames(const wav::ParseResult& parsed, std::uint64_t fileSize,
                                               const WaveFormatEx& format) {
    if (!parsed.ok) return std::nullopt;
    const wav::ParsedHeader& h = parsed.header;
    const std::uint16_t samples = format.wFormatTag == wav::kTagFloat ? wav::kTagFloat : wav::kTagPcm;
    // The source's channels (0) are whatever the file holds, each sample whole.
    const bool anyChannels = format.nChannels == 0;
    const std::uint16_t channels = anyChannels ? h.channels : format.nChannels;
    const std::uint32_t block = std::uint32_t{channels} * format.wBitsPerSample / 8;
    if (h.subFormatTag != samples || h.channels != channels || channels == 0 ||
        h.sampleRate != format.nSamplesPerSec || h.bitsPerSample != format.wBitsPerSample ||
        h.blockAlign != block || h.blockAlign == 0)
        return std::nullopt;
    if (h.dataSize % h.blockAlign != 0 || h.dataOffset > fileSize) return std::nullopt;
    const std::uint64_t after = fileSize - h.dataOffset;
    if (after != h.dataSize && !(h.dataSize % 2 == 1 && after == h.dataSize + 1)) return std::nullopt;
    if (h.riffSize + 8 != fileSize) return std::nullopt;
    return h.dataSize / h.blockAlign;
}

std::optional<std::uint64_t> CompleteWavFileFrames(const std::string& path, const WaveFormatEx& format) {
    // Non-blocking: a FIFO put where the output goes must not hold the run.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::vector<std::uint8_t> head;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        head = wav::ReadHeaderBytes(fd, static_cast<std::uint64_t>(st.st_size));
    ::close(fd);
    if (head.empty()) return std::nullopt;
    return CompleteWavFrames(wav::ParseHeader(head, static_cast<std::uint64_t>(st.st_size)),
                             static_cast<std::uint64_t>(st.st_size), format);
}

}  // namespace veltrano
