// WAV header bytes as built and as read back: the kinds of fmt chunk, RF64
// past the RIFF limit, the LIST/INFO chunk, a parser that ends on any input,
// and finishing cut-off files, past 4 GB in sparse files.

#include "formats/WavFinish.h"
#include "formats/WavHeader.h"
#include "core/WaveFormatEx.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

using namespace veltrano;
using namespace veltrano::wav;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t U16(const Bytes& b, std::size_t at) { return std::uint16_t(b[at] | b[at + 1] << 8); }
std::uint64_t U64(const Bytes& b, std::size_t at) { return U32(b, at) | std::uint64_t(U32(b, at + 4)) << 32; }
std::string Id(const Bytes& b, std::size_t at) { return std::string(reinterpret_cast<const char*>(&b[at]), 4); }

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

Format Pcm(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits, std::uint32_t mask = 0) {
    Format f;
    f.sampleRate = rate;
    f.channels = channels;
    f.bitsPerSample = bits;
    f.channelMask = mask;
    return f;
}

Format Float(std::uint32_t rate, std::uint16_t channels, std::uint32_t mask = 0) {
    Format f = Pcm(rate, channels, 32, mask);
    f.kind = SampleKind::Float;
    return f;
}

ParseResult Parse(const Bytes& b, std::uint64_t fileSize) { return ParseHeader(b, fileSize); }

Tags AllTags() {
    Tags t;
    t.title = "Caf\xC3\xA9 song";  // odd length with its NUL: padded
    t.artist = "Artist";
    t.album = "Album";
    t.date = "2021-05-04";
    t.genre = "Rock";
    t.track = "7";
    t.comment = "A comment";
    return t;
}

TEST(WavHeader, PlainPcmForTheSeedFormats) {
    for (std::uint16_t channels : {1, 2}) {
        for (std::uint16_t bits : {8, 16}) {
            for (std::uint32_t rate : {1u, 8000u, 11025u, 44100u, 768000u}) {
                const Format f = Pcm(rate, channels, bits);
                const std::uint64_t data = 12345u * f.BlockAlign();
                const Bytes h = BuildHeader(f, {}, Container::Riff, data);
                ASSERT_EQ(h.size(), 44u);
                EXPECT_EQ(HeaderBytes(f, {}, Container::Riff), 44u);
                EXPECT_EQ(Id(h, 0), "RIFF");
                EXPECT_EQ(U32(h, 4), 36 + data);
                EXPECT_EQ(Id(h, 8), "WAVE");
                EXPECT_EQ(Id(h, 12), "fmt ");
                EXPECT_EQ(U32(h, 16), 16u);
                EXPECT_EQ(U16(h, 20), kTagPcm);
                EXPECT_EQ(U16(h, 22), channels);
                EXPECT_EQ(U32(h, 24), rate);
                EXPECT_EQ(U32(h, 28), rate * channels * bits / 8);
                EXPECT_EQ(U16(h, 32), channels * bits / 8);
                EXPECT_EQ(U16(h, 34), bits);
                EXPECT_EQ(Id(h, 36), "data");
                EXPECT_EQ(U32(h, 40), data);
            }
        }
    }
    // An odd data size is stated as it is; no pad byte follows the last chunk.
    EXPECT_EQ(U32(BuildHeader(Pcm(8000, 1, 8), {}, Container::Riff, 3003), 4), 36u + 3003u);
}

TEST(WavHeader, ExtensibleAndFloatBeyondTheSeedFormats) {
    struct Case {
        Format format;
        std::uint16_t tag;
        std::uint32_t fmtBytes;
        bool fact;
    };
    const Case cases[] = {
        {Pcm(48000, 2, 24, 0x3), kTagExtensible, 40, false},  {Pcm(48000, 1, 32, 0x4), kTagExtensible, 40, false},
        {Pcm(48000, 6, 16, 0x3F), kTagExtensible, 40, false}, {Float(48000, 2, 0x3), kTagFloat, 18, true},
        {Float(48000, 1), kTagFloat, 18, true},               {Float(48000, 6, 0x3F), kTagExtensible, 40, true},
    };
    for (const Case& c : cases) {
        const std::uint64_t data = 1000u * c.format.BlockAlign();
        const Bytes h = BuildHeader(c.format, {}, Container::Riff, data);
        ASSERT_EQ(h.size(), HeaderBytes(c.format, {}, Container::Riff));
        EXPECT_EQ(U32(h, 16), c.fmtBytes);
        EXPECT_EQ(U16(h, 20), c.tag);
        EXPECT_EQ(U16(h, 32), c.format.BlockAlign());
        EXPECT_EQ(U32(h, 4), h.size() - 8 + data);
        std::size_t next = 20 + c.fmtBytes;
        if (c.fmtBytes >= 18) {
            EXPECT_EQ(U16(h, 36), c.fmtBytes - 18);  // cbSize
        }
        if (c.tag == kTagExtensible) {
            EXPECT_EQ(U16(h, 38), c.format.bitsPerSample);  // valid bits
            EXPECT_EQ(U32(h, 40), c.format.channelMask);
            const std::uint8_t guid[16] = {std::uint8_t(c.format.kind == SampleKind::Float ? 3 : 1),
                                           0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
            EXPECT_EQ(std::memcmp(&h[44], guid, 16), 0);
        }
        if (c.fact) {
            EXPECT_EQ(Id(h, next), "fact");
            EXPECT_EQ(U32(h, next + 8), 1000u);
            next += 12;
        }
        EXPECT_EQ(Id(h, next), "data");
        EXPECT_EQ(U32(h, next + 4), data);

        const ParseResult r = Parse(h, h.size() + data);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.header.formatTag, c.tag);
        EXPECT_EQ(r.header.subFormatTag, c.format.kind == SampleKind::Float ? kTagFloat : kTagPcm);
        EXPECT_EQ(r.header.channels, c.format.channels);
        EXPECT_EQ(r.header.validBits, c.format.bitsPerSample);
        EXPECT_EQ(r.header.channelMask, c.tag == kTagExtensible ? c.format.channelMask : 0u);
        EXPECT_EQ(r.header.dataOffset, h.size());
        EXPECT_EQ(r.header.dataSize, data);
        EXPECT_EQ(r.header.sampleCount, c.fact ? std::optional<std::uint64_t>(1000) : std::nullopt);
    }
    EXPECT_TRUE(FormatProblem(Pcm(48000, 2, 12)));
    EXPECT_TRUE(FormatProblem(Pcm(0, 2, 16)));
    EXPECT_TRUE(FormatProblem(Pcm(48000, 0, 16)));
    Format f64 = Float(48000, 2);
    f64.bitsPerSample = 64;
    EXPECT_TRUE(FormatProblem(f64));
    EXPECT_FALSE(FormatProblem(Pcm(768000, 8, 32)));
}

TEST(WavHeader, Rf64PastTheRiffLimit) {
    const Format f = Pcm(48000, 2, 16);
    const std::uint64_t header = HeaderBytes(f, {}, Container::Riff);
    // The limit is 4 GB of file less 8 bytes, with a margin for a longer stream.
    const std::uint64_t fits = kRiffSizeLimit + 8 - header - kRf64Margin;
    EXPECT_EQ(ContainerFor(f, {}, fits - fits % 4), Container::Riff);
    EXPECT_EQ(ContainerFor(f, {}, fits + 4), Container::Rf64);
    EXPECT_TRUE(RiffCanHold(header, kRiffSizeLimit + 8 - header));
    EXPECT_FALSE(RiffCanHold(header, kRiffSizeLimit + 9 - header));
    // Tags make the header longer, and so the limit nearer.
    EXPECT_EQ(ContainerFor(f, AllTags(), fits - fits % 4), Container::Rf64);

    const std::uint64_t data = 5ull << 30;  // 5 GiB: 1342177280 frames
    const Bytes h = BuildHeader(f, AllTags(), Container::Rf64, data);
    ASSERT_EQ(h.size(), HeaderBytes(f, AllTags(), Container::Rf64));
    EXPECT_EQ(Id(h, 0), "RF64");
    EXPECT_EQ(U32(h, 4), kSizeInDs64);
    EXPECT_EQ(Id(h, 12), "ds64");
    EXPECT_EQ(U32(h, 16), 28u);
    EXPECT_EQ(U64(h, 20), h.size() + data - 8);
    EXPECT_EQ(U64(h, 28), data);
    EXPECT_EQ(U64(h, 36), data / 4);
    EXPECT_EQ(U32(h, 44), 0u);  // no table
    EXPECT_EQ(Id(h, 48), "fmt ");
    EXPECT_EQ(Id(h, h.size() - 8), "data");
    EXPECT_EQ(U32(h, h.size() - 4), kSizeInDs64);

    const ParseResult r = Parse(h, h.size() + data);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.header.container, Container::Rf64);
    EXPECT_EQ(r.header.riffSize, h.size() + data - 8);
    EXPECT_EQ(r.header.dataSize, data);
    EXPECT_EQ(r.header.sampleCount, data / 4);
    EXPECT_EQ(r.header.tags, AllTags());
    EXPECT_EQ(r.header.ds64Body, 20u);

    // Float in RF64: the fact chunk's count is in ds64.
    const Bytes fl = BuildHeader(Float(48000, 2), {}, Container::Rf64, data);
    const ParseResult rf = Parse(fl, fl.size() + data);
    ASSERT_TRUE(rf.ok) << rf.error;
    EXPECT_EQ(rf.header.sampleCount, data / 8);
    ASSERT_TRUE(rf.header.factBody);
    EXPECT_EQ(U32(fl, std::size_t(*rf.header.factBody)), kSizeInDs64);
}

TEST(WavHeader, TagsInAListChunkAheadOfTheData) {
    EXPECT_TRUE(Tags{}.Empty());
    const Format f = Pcm(44100, 2, 16);
    const Bytes h = BuildHeader(f, AllTags(), Container::Riff, 400);
    EXPECT_EQ(Id(h, 36), "LIST");
    const std::uint32_t listSize = U32(h, 40);
    EXPECT_EQ(Id(h, 44), "INFO");
    EXPECT_EQ(listSize % 2, 0u);
    EXPECT_EQ(Id(h, 44 + listSize), "data");
    EXPECT_EQ(h.size(), 44u + 8u + listSize);
    // Each entry: id, size with its NUL, text, NUL, a pad byte when odd; in a fixed order.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"INAM", "Caf\xC3\xA9 song"}, {"IART", "Artist"}, {"IPRD", "Album"}, {"ICRD", "2021-05-04"},
        {"IGNR", "Rock"},            {"ITRK", "7"},      {"ICMT", "A comment"}};
    std::size_t at = 48;
    for (const auto& [id, text] : expected) {
        EXPECT_EQ(Id(h, at), id);
        EXPECT_EQ(U32(h, at + 4), text.size() + 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[at + 8])), text);
        at += 8 + text.size() + 1 + ((text.size() + 1) & 1);
        EXPECT_EQ(at % 2, 0u);
    }
    EXPECT_EQ(at, 44u + listSize);

    // Only the tags there are; a NUL inside a text ends it; a long one is cut on a character.
    Tags some;
    some.artist = std::string("Me\0hidden", 9);
    some.comment = std::string(kMaxTagBytes - 1, 'x') + "\xC3\xA9";
    const ParseResult r = Parse(BuildHeader(f, some, Container::Riff, 0), 1u << 16);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.header.tags.artist, "Me");
    EXPECT_EQ(r.header.tags.comment, std::string(kMaxTagBytes - 1, 'x'));
    EXPECT_TRUE(r.header.tags.title.empty());
    EXPECT_EQ(r.header.chunks.size(), 3u);  // fmt, LIST, data
}

TEST(WavHeader, ParserEndsOnBrokenHeaders) {
    const Format f = Pcm(44100, 2, 16);
    Bytes good = BuildHeader(f, AllTags(), Container::Riff, 400);
    good.resize(good.size() + 400);
    ASSERT_TRUE(Parse(good, good.size()).ok);

    // A chunk size that would wrap a 32-bit position ends the walk at once.
    Bytes wrap = good;
    Put32(wrap, 40, 0xFFFFFFF7u);  // the LIST chunk's
    ParseResult r = Parse(wrap, wrap.size());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "the file ends before its data chunk");
    // The same in a huge sparse file: past the bytes read, not past the file.
    r = Parse(wrap, 1ull << 40);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "the header is longer than the bytes read");
    Bytes fmtWrap = good;
    Put32(fmtWrap, 16, 0xFFFFFFF7u);
    EXPECT_EQ(Parse(fmtWrap, fmtWrap.size()).error, "the fmt chunk is cut short");

    // Every cut of the header fails cleanly; none reads past what it was given.
    const std::size_t header = HeaderBytes(f, AllTags(), Container::Riff);
    for (std::size_t n = 0; n < header; ++n) {
        const Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(n));
        EXPECT_FALSE(Parse(cut, cut.size()).ok) << n;
    }
    EXPECT_TRUE(Parse(Bytes(good.begin(), good.begin() + std::ptrdiff_t(header)), header).ok);

    // A chunk of odd size is followed by its pad byte.
    Bytes odd = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    const Bytes fmt = BuildHeader(f, {}, Container::Riff, 0);
    odd.insert(odd.end(), fmt.begin() + 12, fmt.begin() + 36);
    for (const char c : std::string("junk\x03\0\0\0abc\0", 12)) odd.push_back(std::uint8_t(c));
    odd.insert(odd.end(), {'d', 'a', 't', 'a', 8, 0, 0, 0});
    odd.resize(odd.size() + 8);
    r = Parse(odd, odd.size());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.header.dataOffset, odd.size() - 8);
    EXPECT_EQ(r.header.chunks[1].id, "junk");
    EXPECT_EQ(r.header.chunks[1].size, 3u);

    // A data chunk reaching past the end of the file holds what the file has.
    Bytes longData = BuildHeader(f, {}, Container::Riff, 1000);
    longData.resize(longData.size() + 10);
    r = Parse(longData, longData.size());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.header.dataSize, 1000u);
    EXPECT_EQ(r.header.DataBytesIn(longData.size()), 10u);
    EXPECT_EQ(r.header.DataBytesIn(10), 0u);

    // Chunks out of their order.
    Bytes early = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(Parse(early, early.size()).error, "the data chunk comes before the fmt chunk");
    Bytes noDs64 = BuildHeader(f, {}, Container::Riff, 0);
    std::memcpy(noDs64.data(), "RF64", 4);
    Put32(noDs64, 40, kSizeInDs64);
    EXPECT_EQ(Parse(noDs64, noDs64.size()).error, "an RF64 file without its ds64 chunk");
    Bytes shortFmt = BuildHeader(Pcm(48000, 6, 16, 0x3F), {}, Container::Riff, 0);
    Put32(shortFmt, 16, 16);
    EXPECT_FALSE(Parse(shortFmt, shortFmt.size()).ok);
    EXPECT_EQ(Parse(Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, 12).error, "not a RIFF or RF64 file");

    // Random damage anywhere in a header: the parser always comes back.
    std::mt19937 gen(7);
    const Bytes rf64 = BuildHeader(Float(48000, 6, 0x3F), AllTags(), Container::Rf64, 1u << 20);
    for (int i = 0; i < 20000; ++i) {
        Bytes b = i % 2 ? rf64 : good;
        const int hits = 1 + int(gen() % 4);
        for (int k = 0; k < hits; ++k) b[gen() % b.size()] = std::uint8_t(gen());
        const std::uint64_t size = gen() % 2 ? b.size() : b.size() + (gen() % 100000);
        const ParseResult p = Parse(b, size);
        if (p.ok) {
            EXPECT_LE(p.header.dataOffset, b.size());
        }
    }
}

class Finishing : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
    static bool WriteFile(const std::string& path, const Bytes& bytes, std::uint64_t size) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        bool ok = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
        ok = ok && ::ftruncate(fd, off_t(size)) == 0;  // the rest stays a hole
        ::close(fd);
        return ok;
    }
    static Bytes ReadHead(const std::string& path, std::uint64_t& size) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        size = std::uint64_t(st.st_size);
        Bytes b(std::min<std::size_t>(std::size_t(size), 4096));
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool read = ::pread(fd, b.data(), b.size(), 0) == ssize_t(b.size());
        ::close(fd);
        return read ? b : Bytes{};
    }
    QTemporaryDir dir_;
};

// An RF64 file cut off past 4 GB, in a sparse file: the ds64 sizes become
// those of the whole frames it holds, and the half frame goes.
TEST_F(Finishing, Rf64CutOffPastFourGigabytes) {
    const Format f = Float(48000, 2);  // 8-byte frames
    const Bytes header = BuildHeader(f, AllTags(), Container::Rf64, 0);
    const std::uint64_t data = (5ull << 30) + 8 * 1000 + 5;
    const std::string path = Path("big.wav");
    ASSERT_TRUE(WriteFile(path, header, header.size() + data));
    WaveFormatEx wf = MakePcmFormat(48000, 2, 32);
    ASSERT_TRUE(FinishWavFile(path, wf));
    std::uint64_t size = 0;
    const Bytes head = ReadHead(path, size);
    const std::uint64_t whole = data - 5;
    EXPECT_EQ(size, header.size() + whole);
    const ParseResult r = Parse(head, size);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.header.container, Container::Rf64);
    EXPECT_EQ(r.header.dataSize, whole);
    EXPECT_EQ(r.header.riffSize, size - 8);
    EXPECT_EQ(r.header.sampleCount, whole / 8);
    EXPECT_EQ(r.header.tags, AllTags());
    EXPECT_EQ(U32(head, 4), kSizeInDs64);
}

// A RIFF file cut off past 4 GB keeps the frames its sizes can state.
TEST_F(Finishing, RiffCutOffPastFourGigabytesKeepsWhatItCanState) {
    const Format f = Pcm(44100, 2, 24, 0x3);  // 6-byte frames
    const Bytes header = BuildHeader(f, {}, Container::Riff, 0);
    const std::string path = Path("riff.wav");
    ASSERT_TRUE(WriteFile(path, header, 5ull << 30));
    ASSERT_TRUE(FinishWavFile(path, MakePcmFormat(44100, 2, 24)));
    std::uint64_t size = 0;
    const Bytes head = ReadHead(path, size);
    const ParseResult r = Parse(head, size);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.header.dataSize % 6, 0u);
    EXPECT_EQ(r.header.dataOffset + r.header.dataSize, size);
    EXPECT_EQ(r.header.riffSize, size - 8);
    EXPECT_LE(size - 8, kRiffSizeLimit);
    EXPECT_GT(size - 8, kRiffSizeLimit - 6);
}

TEST_F(Finishing, FloatFileGetsItsFrameCountAndOthersAreLeftAlone) {
    const Format f = Float(22050, 1);
    const Bytes header = BuildHeader(f, {}, Container::Riff, 0);
    const std::string path = Path("float.wav");
    ASSERT_TRUE(WriteFile(path, header, header.size() + 4 * 300 + 3));
    ASSERT_TRUE(FinishWavFile(path, MakePcmFormat(22050, 1, 32)));
    std::uint64_t size = 0;
    const Bytes head = ReadHead(path, size);
    const ParseResult r = Parse(head, size);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.header.sampleCount, 300u);
    EXPECT_EQ(r.header.dataSize, 1200u);

    // An empty part gets the header of the format it was to hold.
    const std::string empty = Path("empty.wav");
    ASSERT_TRUE(WriteFile(empty, {}, 0));
    WaveFormatEx floats = MakePcmFormat(48000, 2, 32);
    floats.wFormatTag = kTagFloat;
    ASSERT_TRUE(FinishWavFile(empty, floats));
    std::uint64_t emptySize = 0;
    const Bytes emptyHead = ReadHead(empty, emptySize);
    const ParseResult e = Parse(emptyHead, emptySize);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_EQ(e.header.formatTag, kTagFloat);
    EXPECT_EQ(e.header.dataSize, 0u);
    EXPECT_EQ(e.header.sampleCount, 0u);

    // A header whose walk would wrap is no WAV file to finish, and is left as it was.
    Bytes wrap = BuildHeader(Pcm(8000, 1, 16), {}, Container::Riff, 0);
    Put32(wrap, 16, 0xFFFFFFF7u);
    const std::string broken = Path("wrap.wav");
    ASSERT_TRUE(WriteFile(broken, wrap, wrap.size() + 100));
    EXPECT_FALSE(FinishWavFile(broken, MakePcmFormat(8000, 1, 16)));
    std::uint64_t brokenSize = 0;
    EXPECT_EQ(ReadHead(broken, brokenSize), [&] {
        Bytes b = wrap;
        b.resize(b.size() + 100);
        return b;
    }());
    // A FIFO is never opened.
    const std::string fifo = Path("fifo.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(FinishWavFile(fifo, MakePcmFormat(8000, 1, 16)));
}

}  // namespace
