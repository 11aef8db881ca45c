#include "core/Paths.h"

#include "core/FixedText.h"

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

std::string WithWavExtension(std::string_view chosen) {
    const std::size_t slash = chosen.rfind('/');
    const std::size_t dot = chosen.rfind('.');
    std::string_view stem = chosen;
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) stem = chosen.substr(0, dot);
    return std::string(stem) + ".wav";
}

bool FitsPathBuffer(std::string_view path) { return path.size() < kMaxPath; }

}  // namespace veltrano
