#pragma once
// The bytes of a WAV file in front of its samples, built from a format, tags
// and sizes, and read back from a file's first bytes: plain RIFF with the PCM
// or float tag, WAVE_FORMAT_EXTENSIBLE, RF64 with its ds64 chunk, and a
// LIST/INFO chunk of tags. The data chunk is always the last chunk written.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veltrano::wav {

inline constexpr std::uint16_t kTagPcm = 0x0001;
inline constexpr std::uint16_t kTagFloat = 0x0003;
inline constexpr std::uint16_t kTagExtensible = 0xFFFE;
// A 32-bit size of an RF64 file that stands for "see ds64".
inline constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFFu;
// What a RIFF file's 32-bit sizes can state.
inline constexpr std::uint64_t kRiffSizeLimit = 0xFFFFFFFFull;

enum class SampleKind : std::uint8_t { Integer, Float };
enum class Container : std::uint8_t { Riff, Rf64 };

struct Format {
    SampleKind kind = SampleKind::Integer;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;  // 8, 16, 24 or 32; 32 for float
    std::uint32_t channelMask = 0;    // speaker bits; 0 leaves the positions unstated
    std::uint16_t BlockAlign() const { return static_cast<std::uint16_t>(bitsPerSample / 8 * channels); }
    friend bool operator==(const Format&, const Format&) = default;
};

// The text tags a LIST/INFO chunk carries, UTF-8.
struct Tags {
    std::string title;    // INAM
    std::string artist;   // IART
    std::string album;    // IPRD
    std::string date;     // ICRD
    std::string genre;    // IGNR
    std::string track;    // ITRK
    std::string comment;  // ICMT
    bool Empty() const;
    friend bool operator==(const Tags&, const Tags&) = default;
};

// The format tag of the fmt chunk: PCM for 1 or 2 channels of 8 or 16 bits,
// IEEE float for 1 or 2 channels of float, WAVE_FORMAT_EXTENSIBLE beyond.
std::uint16_t FormatTagFor(const Format& format);
// Why the format cannot be written, or nothing when it can.
std::optional<std::string> FormatProblem(const Format& format);

// Bytes of the header (everything ahead of the samples); they depend on the
// format, the tags and the container only, never on the sizes.
std::uint64_t HeaderBytes(const Format& format, const Tags& tags, Container container);
// RF64 when a file of this data size would come near the 32-bit RIFF size;
// the margin leaves room for a stream a little longer than expected.
Container ContainerFor(const Format& format, const Tags& tags, std::uint64_t expectedDataBytes);
inline constexpr std::uint64_t kRf64Margin = 1ull << 20;
// Whether a RIFF file can state this much data.
bool RiffCanHold(std::uint64_t headerBytes, std::uint64_t dataBytes);

// The header for 'dataBytes' of samples. In a RIFF file the sizes are cut to
// 32 bits; build an RF64 header for data past the limit.
std::vector<std::uint8_t> BuildHeader(const Format& format, const Tags& tags, Container container,
                                      std::uint64_t dataBytes);

// A tag's text as the INFO chunk holds it: up to its first NUL, at most
// kMaxTagBytes, never cutting a UTF-8 sequence.
inline constexpr std::size_t kMaxTagBytes = 16 * 1024;
std::string InfoText(const std::string& text);

// ---- reading ----

struct Chunk {
    std::string id;
    std::uint64_t offset = 0;  // of the chunk's 8-byte header
    std::uint64_t size = 0;    // as stated (ds64's for the data chunk of RF64)
};

struct ParsedHeader {
    Container container = Container::Riff;
    std::uint64_t riffSize = 0;  // ds64's for RF64
    std::uint16_t formatTag = 0;  // as in the fmt chunk (0xFFFE for extensible)
    std::uint16_t subFormatTag = 0;  // PCM or float: the fmt tag, or the extensible sub-format's
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t validBits = 0;
    std::uint32_t channelMask = 0;
    std::optional<std::uint64_t> sampleCount;  // fact's, or ds64's for RF64
    Tags tags;
    std::vector<Chunk> chunks;  // in file order, up to the data chunk
    std::uint64_t dataOffset = 0;  // first byte of the samples
    std::uint64_t dataSize = 0;    // as stated
    // Where the sizes a finishing writer sets are.
    std::uint64_t dataSizeField = 0;
    std::optional<std::uint64_t> ds64Body;
    std::optional<std::uint64_t> factBody;

    // Sample bytes the file holds: the stated size, cut at the file's end.
    std::uint64_t DataBytesIn(std::uint64_t fileSize) const;
};

struct ParseResult {
    bool ok = false;
    std::string error;
    ParsedHeader header;
};

// Reads the header from the file's first bytes ('head', as much as was read)
// of a file of 'fileSize' bytes. Walks the chunks with 64-bit offsets up to
// the data chunk; every step moves forward, so it ends on any input.
ParseResult ParseHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// How many of a file's first bytes a reader needs for any header we write,
// and reads at most.
inline constexpr std::size_t kMaxHeaderRead = 1u << 20;

// The first bytes of an open file of 'fileSize' bytes, as many as a header
// may take: all of them, or fewer when the file ends sooner or cannot be read.
std::vector<std::uint8_t> ReadHeaderBytes(int fd, std::uint64_t fileSize);

}  // namespace veltrano::wav
