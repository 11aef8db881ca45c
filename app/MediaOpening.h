#pragma once
// Pure parts of opening media: the open dialog's filters and the plain words
// that say why a file did not open.

#include "ui/UiServices.h"

#include <string>
#include <vector>

namespace veltrano {

// The open dialog's rows, first one selected.
std::vector<FileFilter> MediaFileFilters();

// What lies at a path, as far as opening it as media goes.
enum class PathKind { File, EmptyFile, Folder, Missing, Unreadable, NotAFile };
PathKind KindOfPath(const std::string& path);

// The detail under an opening's failure box, naming the file: what lies at the
// path when that says it all, else the media framework's reason.
std::string OpenFailureDetail(const std::string& path, PathKind kind, const std::string& reason);

}  // namespace veltrano
