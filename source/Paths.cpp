#include "source/Paths.h"

#include "platform/FixedText.h"

namespace veltrano {

std::string FolderOfPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(path.substr(0, slash + 1));
}

bool FileNameOfPath(std::string_view path, std::string& name) {
    if (path.empty()) return false;
    const std::size_t slash = path.rfind('/');
    name = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
    return true;
}

std::string FileNameWithBackslash(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(path.substr(slash));
}

bool FitsPathBuffer(std::string_view path) { return path.size() < kMaxPath; }

}  // namespace veltrano
