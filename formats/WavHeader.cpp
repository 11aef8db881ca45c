#include "formats/WavHeader.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace veltrano::wav {

namespace {

// The GUID of KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT after their first two
// bytes, which hold the format tag.
constexpr std::array<std::uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr std::uint32_t kFmtPcmBytes = 16;
constexpr std::uint32_t kFmtFloatBytes = 18;
constexpr std::uint32_t kFmtExtensibleBytes = 40;
constexpr std::uint32_t kDs64Bytes = 28;

class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
    void Id(const char* id) { out_.insert(out_.end(), id, id + 4); }
    void U16(std::uint16_t v) { Le(v, 2); }
    void U32(std::uint32_t v) { Le(v, 4); }
    void U64(std::uint64_t v) { Le(v, 8); }
    void Bytes(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        out_.insert(out_.end(), b, b + n);
    }
    void Zero(std::size_t n) { out_.insert(out_.end(), n, 0); }

private:
    void Le(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    std::vector<std::uint8_t>& out_;
};

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, kRiffSizeLimit));
}

std::uint32_t FmtBytes(const Format& f) {
    switch (FormatTagFor(f)) {
    case kTagPcm: return kFmtPcmBytes;
    case kTagFloat: return kFmtFloatBytes;
    default: return kFmtExtensibleBytes;
    }
}

// Float is not PCM: its file states its length in frames in a fact chunk.
bool NeedsFact(const Format& f) { return f.kind == SampleKind::Float; }

struct InfoEntry {
    const char* id;
    std::string text;
};

std::vector<InfoEntry> InfoEntries(const Tags& t) {
    std::vector<InfoEntry> entries;
    for (const auto& [id, text] : {std::pair{"INAM", &t.title}, std::pair{"IART", &t.artist},
                                   std::pair{"IPRD", &t.album}, std::pair{"ICRD", &t.date},
                                   std::pair{"IGNR", &t.genre}, std::pair{"ITRK", &t.track},
                                   std::pair{"ICMT", &t.comment}}) {
        std::string value = InfoText(*text);
        if (!value.empty()) entries.push_back({id, std::move(value)});
    }
    return entries;
}

// Bytes of the LIST chunk's body: "INFO" and each entry, its text ending in
// a NUL and padded to a whole word.
std::uint64_t InfoBodyBytes(const std::vector<InfoEntry>& entries) {
    std::uint64_t bytes = 4;
    for (const InfoEntry& e : entries) {
        const std::uint64_t size = e.text.size() + 1;
        bytes += 8 + size + (size & 1);
    }
    return bytes;
}

std::uint64_t ListBytes(const Tags& tags) {
    const auto entries = InfoEntries(tags);
    return entries.empty() ? 0 : 8 + InfoBodyBytes(entries);
}

void WriteFmt(Writer& w, const Format& f) {
    const std::uint16_t tag = FormatTagFor(f);
    w.Id("fmt ");
    w.U32(FmtBytes(f));
    w.U16(tag);
    w.U16(f.channels);
    w.U32(f.sampleRate);
    w.U32(f.sampleRate * f.BlockAlign());
    w.U16(f.BlockAlign());
    w.U16(f.bitsPerSample);
    if (tag == kTagFloat) w.U16(0);
    if (tag != kTagExtensible) return;
    w.U16(22);
    w.U16(f.bitsPerSample);  // every bit of the container carries sound
    w.U32(f.channelMask);
    w.U16(f.kind == SampleKind::Float ? kTagFloat : kTagPcm);
    w.Bytes(kSubFormatTail.data(), kSubFormatTail.size());
}

void WriteList(Writer& w, const Tags& tags) {
    const auto entries = InfoEntries(tags);
    if (entries.empty()) return;
    w.Id("LIST");
    w.U32(static_cast<std::uint32_t>(InfoBodyBytes(entries)));
    w.Id("INFO");
    for (const InfoEntry& e : entries) {
        const auto size = static_cast<std::uint32_t>(e.text.size() + 1);
        w.Id(e.id);
        w.U32(size);
        w.Bytes(e.text.data(), e.text.size());
        w.Zero(1 + (size & 1));
    }
}

// ---- reading ----

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Get32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
std::uint64_t Get64(const std::uint8_t* p) { return std::uint64_t{Get32(p)} | std::uint64_t{Get32(p + 4)} << 32; }

bool Is(const std::uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

ParseResult Fail(std::string error) {
    ParseResult r;
    r.error = std::move(error);
    return r;
}

std::string* InfoField(Tags& t, const std::uint8_t* id) {
    if (Is(id, "INAM")) return &t.title;
    if (Is(id, "IART")) return &t.artist;
    if (Is(id, "IPRD")) return &t.album;
    if (Is(id, "ICRD")) return &t.date;
    if (Is(id, "IGNR")) return &t.genre;
    if (Is(id, "ITRK")) return &t.track;
    if (Is(id, "ICMT")) return &t.comment;
    return nullptr;
}

// The entries of a LIST/INFO body; an entry reaching past the body is cut there.
void ReadInfo(const std::uint8_t* body, std::uint64_t size, Tags& tags) {
    for (std::uint64_t q = 4; q + 8 <= size;) {
        const std::uint64_t len = Get32(body + q + 4);
        const std::uint64_t end = std::min(size, q + 8 + len);
        if (std::string* field = InfoField(tags, body + q)) {
            const auto* text = reinterpret_cast<const char*>(body + q + 8);
            *field = std::string(text, strnlen(text, static_cast<std::size_t>(end - (q + 8))));
        }
        q += 8 + len + (len & 1);
    }
}

bool ReadFmt(const std::uint8_t* p, std::uint64_t size, ParsedHeader& h, std::string& error) {
    if (size < kFmtPcmBytes) {
        error = "the fmt chunk is too short";
        return false;
    }
    h.formatTag = Get16(p);
    h.channels = Get16(p + 2);
    h.sampleRate = Get32(p + 4);
    h.byteRate = Get32(p + 8);
    h.blockAlign = Get16(p + 12);
    h.bitsPerSample = Get16(p + 14);
    h.subFormatTag = h.formatTag;
    h.validBits = h.bitsPerSample;
    if (h.formatTag != kTagExtensible) return true;
    if (size < kFmtExtensibleBytes || Get16(p + 16) < 22) {
        error = "the extensible fmt chunk is too short";
        return false;
    }
    h.validBits = Get16(p + 18);
    h.channelMask = Get32(p + 20);
    h.subFormatTag = Get16(p + 24);
    if (std::memcmp(p + 26, kSubFormatTail.data(), kSubFormatTail.size()) != 0) h.subFormatTag = 0;
    return true;
}

}  // namespace

bool Tags::Empty() const {
    return title.empty() && artist.empty() && album.empty() && date.empty() && genre.empty() && track.empty() &&
           comment.empty();
}

std::uint16_t FormatTagFor(const Format& f) {
    if (f.channels > 2) return kTagExtensible;
    if (f.kind == SampleKind::Float) return kTagFloat;
    return f.bitsPerSample <= 16 ? kTagPcm : kTagExtensible;
}

std::optional<std::string> FormatProblem(const Format& f) {
    if (f.channels < 1) return "a WAV file needs at least one channel";
    if (f.sampleRate < 1) return "a WAV file needs a sample rate";
    if (f.kind == SampleKind::Float && f.bitsPerSample != 32) return "float samples are written as 32 bits";
    if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 && f.bitsPerSample != 32)
        return "samples are written as 8, 16, 24 or 32 bits";
    if (std::uint32_t{f.channels} * (f.bitsPerSample / 8u) > 0xFFFFu) return "the frames are too large for a WAV file";
    if (std::uint64_t{f.sampleRate} * f.BlockAlign() > 0xFFFFFFFFull)
        return "the bytes per second do not fit a WAV header";
    return std::nullopt;
}

std::string InfoText(const std::string& text) {
    std::string out = text.substr(0, text.find('\0'));
    if (out.size() <= kMaxTagBytes) return out;
    std::size_t cut = kMaxTagBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    return out;
}

std::uint64_t HeaderBytes(const Format& format, const Tags& tags, Container container) {
    std::uint64_t bytes = 12 + 8 + FmtBytes(format) + ListBytes(tags) + 8;
    if (container == Container::Rf64) bytes += 8 + kDs64Bytes;
    if (NeedsFact(format)) bytes += 12;
    return bytes;
}

bool RiffCanHold(std::uint64_t headerBytes, std::uint64_t dataBytes) {
    return headerBytes + dataBytes - 8 <= kRiffSizeLimit;
}

Container ContainerFor(const Format& format, const Tags& tags, std::uint64_t expectedDataBytes) {
    const std::uint64_t header = HeaderBytes(format, tags, Container::Riff);
    return RiffCanHold(header, expectedDataBytes + kRf64Margin) ? Container::Riff : Container::Rf64;
}

std::vector<std::uint8_t> BuildHeader(const Format& format, const Tags& tags, Container container,
                                      std::uint64_t dataBytes) {
    std::vector<std::uint8_t> out;
    const std::uint64_t headerBytes = HeaderBytes(format, tags, container);
    out.reserve(static_cast<std::size_t>(headerBytes));
    const std::uint64_t riffSize = headerBytes + dataBytes - 8;
    const std::uint64_t frames = format.BlockAlign() ? dataBytes / format.BlockAlign() : 0;
    const bool rf64 = container == Container::Rf64;
    Writer w(out);
    w.Id(rf64 ? "RF64" : "RIFF");
    w.U32(rf64 ? kSizeInDs64 : Clamp32(riffSize));
    w.Id("WAVE");
    if (rf64) {
        w.Id("ds64");
        w.U32(kDs64Bytes);
        w.U64(riffSize);
        w.U64(dataBytes);
        w.U64(frames);
        w.U32(0);  // no table of other chunk sizes
    }
    WriteFmt(w, format);
    if (NeedsFact(format)) {
        w.Id("fact");
        w.U32(4);
        w.U32(rf64 ? kSizeInDs64 : Clamp32(frames));
    }
    WriteList(w, tags);
    w.Id("data");
    w.U32(rf64 ? kSizeInDs64 : Clamp32(dataBytes));
    return out;
}

std::uint64_t ParsedHeader::DataBytesIn(std::uint64_t fileSize) const {
    if (dataOffset >= fileSize) return 0;
    return std::min(dataSize, fileSize - dataOffset);
}

ParseResult ParseHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
    const std::uint64_t have = std::min<std::uint64_t>(head.size(), fileSize);
    if (have < 12) return Fail("the file is too short for a WAV header");
    const std::uint8_t* d = head.data();
    ParseResult r;
    ParsedHeader& h = r.header;
    if (Is(d, "RF64")) h.container = Container::Rf64;
    else if (!Is(d, "RIFF")) return Fail("not a RIFF or RF64 file");
    if (!Is(d + 8, "WAVE")) return Fail("not a WAVE file");
    h.riffSize = Get32(d + 4);
    bool haveFmt = false;
    std::optional<std::uint64_t> ds64Data;
    std::optional<std::uint64_t> factSamples;
    // Every step moves at least 8 bytes on and stays within what was read.
    for (std::uint64_t pos = 12;;) {
        if (pos + 8 > fileSize) return Fail("the file ends before its data chunk");
        if (pos + 8 > have) return Fail("the header is longer than the bytes read");
        const std::uint8_t* c = d + pos;
        const std::uint64_t size = Get32(c + 4);
        const std::uint64_t body = pos + 8;
        Chunk chunk{std::string(reinterpret_cast<const char*>(c), 4), pos, size};
        if (Is(c, "data")) {
            if (!haveFmt) return Fail("the data chunk comes before the fmt chunk");
            if (h.container == Container::Rf64 && size == kSizeInDs64) {
                if (!ds64Data) return Fail("an RF64 file without its ds64 chunk");
                chunk.size = *ds64Data;
            }
            h.dataOffset = body;
            h.dataSize = chunk.size;
            h.dataSizeField = pos + 4;
            h.chunks.push_back(std::move(chunk));
            h.sampleCount = h.container == Container::Rf64 && h.ds64Body ? h.sampleCount : factSamples;
            r.ok = true;
            return r;
        }
        const bool whole = body + size <= have;
        if (Is(c, "ds64")) {
            if (h.container != Container::Rf64 || pos != 12) return Fail("a ds64 chunk out of its place");
            if (size < kDs64Bytes || !whole) return Fail("the ds64 chunk is cut short");
            h.riffSize = Get64(c + 8);
            ds64Data = Get64(c + 16);
            h.sampleCount = Get64(c + 24);
            h.ds64Body = body;
        } else if (Is(c, "fmt ")) {
            if (!whole) return Fail("the fmt chunk is cut short");
            std::string error;
            if (!ReadFmt(c + 8, size, h, error)) return Fail(error);
            haveFmt = true;
        } else if (Is(c, "fact")) {
            if (size < 4 || !whole) return Fail("the fact chunk is cut short");
            factSamples = Get32(c + 8);
            h.factBody = body;
        } else if (Is(c, "LIST") && whole && size >= 4 && Is(c + 8, "INFO")) {
            ReadInfo(c + 8, size, h.tags);
        }
        h.chunks.push_back(std::move(chunk));
        pos = body + size + (size & 1);
    }
}

std::vector<std::uint8_t> ReadHeaderBytes(int fd, std::uint64_t fileSize) {
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kMaxHeaderRead)));
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    head.resize(got);
    return head;
}

}  // namespace veltrano::wav
