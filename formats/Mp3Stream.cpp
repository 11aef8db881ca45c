#include "formats/Mp3Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace veltrano {

namespace {

constexpr std::array<std::array<int, 16>, 3> kBitratesV1 = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},
}};
constexpr std::array<std::array<int, 16>, 3> kBitratesV2 = {{
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
}};
constexpr std::array<int, 3> kRatesV1 = {44100, 48000, 32000};

// Frames further apart than this are not taken for one stream.
constexpr std::size_t kMaxResyncBytes = 64 * 1024;
// A file is read this much at a time; a scan never looks further ahead than a
// frame and a header.
constexpr std::size_t kWindowBytes = 1024 * 1024;

// The bytes of a whole image in memory.
class MemoryBytes {
public:
    explicit MemoryBytes(std::span<const std::uint8_t> f) : f_(f) {}
    std::size_t size() const { return f_.size(); }
    // Up to n bytes at pos: fewer at the end.
    std::span<const std::uint8_t> At(std::size_t pos, std::size_t n) const {
        if (pos >= f_.size()) return {};
        return f_.subspan(pos, std::min(n, f_.size() - pos));
    }

private:
    std::span<const std::uint8_t> f_;
};

// The bytes of a file, read a window at a time: a long file costs no more
// memory than a short one, and a file that shrinks while it is read just
// ends sooner (a mapped file would take the process down instead).
class FileBytes {
public:
    FileBytes(int fd, std::size_t size) : fd_(fd), size_(size), window_(kWindowBytes) {}
    std::size_t size() const { return size_; }
    std::span<const std::uint8_t> At(std::size_t pos, std::size_t n) {
        if (pos >= size_) return {};
        n = std::min(n, size_ - pos);
        if (pos < start_ || pos + n > start_ + length_) Fill(pos);
        if (pos < start_ || pos >= start_ + length_) return {};
        return std::span<const std::uint8_t>(window_.data() + (pos - start_), std::min(n, start_ + length_ - pos));
    }

private:
    void Fill(std::size_t pos) {
        start_ = pos;
        length_ = 0;
        while (length_ < window_.size()) {
            const ssize_t got = ::pread(fd_, window_.data() + length_, window_.size() - length_,
                                        static_cast<off_t>(start_ + length_));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            length_ += static_cast<std::size_t>(got);
        }
    }

    int fd_;
    std::size_t size_;
    std::vector<std::uint8_t> window_;
    std::size_t start_ = 0;
    std::size_t length_ = 0;
};

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool SameStream(const Mp3FrameHeader& a, const Mp3FrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

template <class Bytes>
std::size_t Id3v2Size(Bytes& b, std::size_t pos) {
    const std::span<const std::uint8_t> f = b.At(pos, 10);
    if (f.size() < 10 || std::memcmp(f.data(), "ID3", 3) != 0) return 0;
    for (int i = 6; i < 10; ++i)
        if (f[static_cast<std::size_t>(i)] & 0x80) return 0;
    const std::size_t size = (std::size_t{f[6]} << 21) | (std::size_t{f[7]} << 14) | (std::size_t{f[8]} << 7) | f[9];
    const bool footer = (f[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

template <class Bytes>
std::optional<Mp3FrameHeader> HeaderAt(Bytes& b, std::size_t pos) {
    const std::span<const std::uint8_t> f = b.At(pos, 4);
    return ParseMp3FrameHeader(f.data(), f.size());
}

// A header that is followed by a second one of the same stream (or by the end).
template <class Bytes>
bool ConfirmedAt(Bytes& b, std::size_t pos, const Mp3FrameHeader& h) {
    const std::size_t next = pos + static_cast<std::size_t>(h.frameBytes);
    if (next == b.size()) return true;
    const auto n = HeaderAt(b, next);
    return n && SameStream(*n, h);
}

template <class Bytes>
std::optional<std::size_t> FindFrame(Bytes& b, std::size_t from, const Mp3FrameHeader* like) {
    const std::size_t limit = std::min(b.size(), from + kMaxResyncBytes);
    for (std::size_t pos = from; pos + 4 <= limit; ++pos) {
        const std::span<const std::uint8_t> f = b.At(pos, 2);
        if (f.size() < 2 || f[0] != 0xFF || (f[1] & 0xE0) != 0xE0) continue;
        const auto h = HeaderAt(b, pos);
        if (!h || (like && !SameStream(*h, *like))) continue;
        if (ConfirmedAt(b, pos, *h)) return pos;
    }
    return std::nullopt;
}

template <class Bytes>
bool IsTrailingTag(Bytes& b, std::size_t pos) {
    const std::span<const std::uint8_t> f = b.At(pos, 11);
    auto at = [&](const char* tag) {
        const std::size_t n = std::strlen(tag);
        return n <= f.size() && std::memcmp(f.data(), tag, n) == 0;
    };
    return at("TAG") || at("APETAGEX") || at("LYRICSBEGIN");
}

// Reads a Xing/Info header (and its LAME extension) or a VBRI header in the
// first frame; true when the frame is such an information frame.
bool ReadInfoFrame(std::span<const std::uint8_t> f, const Mp3FrameHeader& h, Mp3StreamInfo& out) {
    const std::size_t pos = 0;
    const std::size_t end = static_cast<std::size_t>(h.frameBytes);
    if (end > f.size()) return false;
    if (h.layer == 3) {
        const std::size_t xing = pos + 4 + (h.crc ? 2 : 0) + static_cast<std::size_t>(Mp3SideInfoBytes(h.version, h.channels));
        if (xing + 8 <= end && (std::memcmp(&f[xing], "Xing", 4) == 0 || std::memcmp(&f[xing], "Info", 4) == 0)) {
            const std::uint32_t flags = Be32(&f[xing + 4]);
            std::size_t p = xing + 8;
            if (flags & 0x1) p += 4;
            if (flags & 0x2) p += 4;
            if (flags & 0x4) p += 100;
            if (flags & 0x8) p += 4;
            // The LAME extension: a 9-byte encoder name, then delay and
            // padding as two 12-bit numbers 21 bytes in.
            if (p + 24 <= end) {
                const char* enc = reinterpret_cast<const char*>(&f[p]);
                const bool lameLike = std::memcmp(enc, "LAME", 4) == 0 || std::memcmp(enc, "Lavf", 4) == 0 ||
                                      std::memcmp(enc, "Lavc", 4) == 0;
                if (lameLike) {
                    const std::uint8_t* d = &f[p + 21];
                    out.encoderDelay = (d[0] << 4) | (d[1] >> 4);
                    out.encoderPadding = ((d[1] & 0x0F) << 8) | d[2];
                    out.hasGaplessInfo = true;
                }
            }
            return true;
        }
    }
    const std::size_t vbri = pos + 4 + 32;
    return vbri + 4 <= end && std::memcmp(&f[vbri], "VBRI", 4) == 0;
}

}  // namespace

int Mp3SideInfoBytes(int version, int channels) {
    if (version == 1) return channels == 1 ? 17 : 32;
    return channels == 1 ? 9 : 17;
}

std::optional<Mp3FrameHeader> ParseMp3FrameHeader(const std::uint8_t* p, std::size_t available) {
    if (available < 4) return std::nullopt;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
    const int versionBits = (p[1] >> 3) & 0x3;
    const int layerBits = (p[1] >> 1) & 0x3;
    const int bitrateIndex = (p[2] >> 4) & 0xF;
    const int rateIndex = (p[2] >> 2) & 0x3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    if ((p[3] & 0x3) == 2) return std::nullopt;  // reserved emphasis

    Mp3FrameHeader h;
    h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    h.layer = 4 - layerBits;
    const auto& table = h.version == 1 ? kBitratesV1 : kBitratesV2;
    h.bitrateKbps = table[static_cast<std::size_t>(h.layer - 1)][static_cast<std::size_t>(bitrateIndex)];
    const int base = kRatesV1[static_cast<std::size_t>(rateIndex)];
    h.sampleRate = h.version == 1 ? base : h.version == 2 ? base / 2 : base / 4;
    h.padding = (p[2] >> 1) & 0x1;
    h.crc = (p[1] & 0x1) == 0;
    h.channels = ((p[3] >> 6) & 0x3) == 3 ? 1 : 2;
    const int bps = h.bitrateKbps * 1000;
    if (h.layer == 1) {
        h.samplesPerFrame = 384;
        h.frameBytes = (12 * bps / h.sampleRate + (h.padding ? 1 : 0)) * 4;
    } else if (h.layer == 2 || h.version == 1) {
        h.samplesPerFrame = 1152;
        h.frameBytes = 144 * bps / h.sampleRate + (h.padding ? 1 : 0);
    } else {
        h.samplesPerFrame = 576;
        h.frameBytes = 72 * bps / h.sampleRate + (h.padding ? 1 : 0);
    }
    if (h.frameBytes < 4) return std::nullopt;
    return h;
}

namespace {

template <class Bytes>
std::optional<Mp3StreamInfo> Analyze(Bytes& b, std::vector<Mp3FrameRef>* list) {
    if (list) list->clear();
    const std::size_t tagEnd = Id3v2Size(b, 0);
    // An ID3v2 tag at the start is the mark of a raw stream; without one the
    // frames must begin at once, so a container is never taken for one.
    std::optional<std::size_t> first;
    if (tagEnd > 0) first = FindFrame(b, tagEnd, nullptr);
    else if (const auto h = HeaderAt(b, 0); h && ConfirmedAt(b, 0, *h)) first = 0;
    if (!first) return std::nullopt;
    const Mp3FrameHeader head = *HeaderAt(b, *first);

    Mp3StreamInfo info;
    info.version = head.version;
    info.layer = head.layer;
    info.sampleRate = head.sampleRate;
    info.channels = head.channels;
    info.samplesPerFrame = head.samplesPerFrame;
    info.firstFrameOffset = *first;
    info.hasInfoFrame = ReadInfoFrame(b.At(*first, static_cast<std::size_t>(head.frameBytes)), head, info);

    std::int64_t frames = 0;
    std::size_t pos = *first;
    while (pos < b.size()) {
        const auto h = HeaderAt(b, pos);
        if (h && SameStream(*h, head)) {
            // A frame cut short by the end of the file is not decoded.
            if (pos + static_cast<std::size_t>(h->frameBytes) > b.size()) break;
            if (list && !(frames == 0 && info.hasInfoFrame))
                list->push_back({pos, static_cast<std::uint32_t>(h->frameBytes)});
            info.channelsVary = info.channelsVary || h->channels != head.channels;
            ++frames;
            pos += static_cast<std::size_t>(h->frameBytes);
            continue;
        }
        if (IsTrailingTag(b, pos)) break;
        // Files joined end to end: the next one's tag (cover art can make it
        // far longer than any gap between frames) is stepped over whole.
        if (const std::size_t tag = Id3v2Size(b, pos); tag > 0 && pos + tag < b.size()) {
            pos += tag;
            continue;
        }
        const auto next = FindFrame(b, pos + 1, &head);
        if (!next) break;
        pos = *next;
    }
    info.audioFrames = frames - (info.hasInfoFrame ? 1 : 0);
    if (info.audioFrames <= 0) return std::nullopt;
    if (info.hasGaplessInfo && info.ContentSamples() <= 0) {
        info.hasGaplessInfo = false;  // a tag that contradicts the frames is not believed
        info.encoderDelay = info.encoderPadding = 0;
    }
    return info;
}

}  // namespace

std::optional<Mp3StreamInfo> AnalyzeMp3Stream(std::span<const std::uint8_t> file, std::vector<Mp3FrameRef>* frames) {
    MemoryBytes bytes(file);
    return Analyze(bytes, frames);
}

std::optional<Mp3StreamInfo> AnalyzeMp3File(const std::string& path, std::vector<Mp3FrameRef>* frames) {
    // Never blocks on a FIFO or a device: only a regular file is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<Mp3StreamInfo> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        FileBytes bytes(fd, static_cast<std::size_t>(st.st_size));
        result = Analyze(bytes, frames);
    }
    ::close(fd);
    return result;
}

}  // namespace veltrano
