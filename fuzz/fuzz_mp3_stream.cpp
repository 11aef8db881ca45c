// The MP3 stream analysis and the reader's frame table on any bytes: no read
// out of bounds, and a table whose frames lie inside the file, in order,
// each one a frame of the stream the analysis announced.

#include "formats/Mp3Stream.h"
#include "fuzz/FuzzSupport.h"
#include "media/elements/Mp3Reader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

using namespace veltrano;
using veltrano::fuzz::Check;

namespace {

void CheckFrames(std::span<const std::uint8_t> file, const Mp3StreamInfo& info,
                 const std::vector<Mp3FrameRef>& frames) {
    Check(info.audioFrames > 0, "a stream has sound");
    Check(frames.size() == static_cast<std::size_t>(info.audioFrames), "every audio frame is listed");
    Check(info.firstFrameOffset < file.size(), "the first frame lies in the file");
    std::uint64_t end = info.firstFrameOffset;
    for (const Mp3FrameRef& f : frames) {
        Check(f.offset >= end, "frames are listed in order, apart");
        Check(f.offset + f.bytes <= file.size(), "a listed frame lies in the file");
        const auto h = ParseMp3FrameHeader(file.data() + f.offset, file.size() - f.offset);
        Check(h.has_value(), "a listed frame starts with a header");
        Check(h->version == info.version && h->layer == info.layer && h->sampleRate == info.sampleRate,
              "a listed frame is of the stream");
        Check(static_cast<std::uint32_t>(h->frameBytes) == f.bytes, "a listed frame has its header's size");
        end = f.offset + f.bytes;
    }
    Check(info.ContentSamples() > 0 && info.LeadingSamples() >= 0, "the length is positive");
}

// Where a seek to each of a few frames would start decoding.
void CheckRunIn(const Mp3FrameTable& table) {
    const std::size_t n = table.frames.size();
    for (std::size_t first : {std::size_t{0}, std::size_t{1}, n / 2, n - 1, n, n + 1}) {
        const std::size_t start = RunInStart(table.frames, first, 38, 511);
        Check(start <= first && start <= n, "a run-in starts at or before its frame");
        if (first > 0 && first <= n) Check(start < first, "the predecessor is decoded");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    std::vector<Mp3FrameRef> frames;
    const auto info = AnalyzeMp3Stream(file, &frames);
    const auto plain = AnalyzeMp3Stream(file);
    Check(info.has_value() == plain.has_value(), "listing frames does not change the verdict");
    if (!info) return 0;
    Check(plain->audioFrames == info->audioFrames, "listing frames does not change the count");
    CheckFrames(file, *info, frames);
    if (const auto table = Mp3FrameTableOf(*info, std::move(frames))) CheckRunIn(*table);
    return 0;
}
