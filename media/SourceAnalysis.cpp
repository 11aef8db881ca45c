#include "media/SourceAnalysis.h"

#include <sys/stat.h>

namespace veltrano {

namespace {

struct Identity {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
};

std::optional<Identity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return Identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                    static_cast<std::uint64_t>(st.st_size),
                    static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

}  // namespace

std::shared_ptr<const SourceAnalysis> SourceAnalysis::Of(const std::string& path) {
    const auto before = IdentityOf(path);
    if (!before) return nullptr;
    auto a = std::make_shared<SourceAnalysis>();
    a->path = path;
    a->mp3 = AnalyzeMp3File(path, &a->mp3Frames);
    // A file written while it was read is described by neither version.
    const auto after = IdentityOf(path);
    if (!after || after->size != before->size || after->modifiedNs != before->modifiedNs) return nullptr;
    a->device = after->device;
    a->inode = after->inode;
    a->size = after->size;
    a->modifiedNs = after->modifiedNs;
    return a;
}

bool SourceAnalysis::StillDescribes(const std::string& otherPath) const {
    const auto now = IdentityOf(otherPath);
    return now && now->device == device && now->inode == inode && now->size == size && now->modifiedNs == modifiedNs;
}

}  // namespace veltrano
