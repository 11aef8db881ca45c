#pragma once
// What measuring a file learned that converting it can use again, so that a
// long MP3 is scanned once per conversion, not twice: handed from the probe
// to the render engine through the conversion request. It stands for the
// file only while the file is unchanged.

#include "formats/Mp3Stream.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrano {

struct SourceAnalysis {
    std::string path;
    // The file as it was measured: a change of any of these means it is stale.
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
    // A raw MPEG audio file's stream and frames.
    std::optional<Mp3StreamInfo> mp3;
    std::vector<Mp3FrameRef> mp3Frames;

    // Analyses path as the render engine needs it; nothing when it cannot be read.
    static std::shared_ptr<const SourceAnalysis> Of(const std::string& path);
    // Whether it still describes the file at path.
    bool StillDescribes(const std::string& otherPath) const;
};

using SourceAnalysisRef = std::shared_ptr<const SourceAnalysis>;

}  // namespace veltrano
