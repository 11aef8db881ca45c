#pragma once
// Path operations on UTF-8 paths with '/' separators. A '/' byte never occurs
// inside a multi-byte UTF-8 sequence, so a byte search for it is safe.

#include <string>
#include <string_view>

namespace veltrano {

inline constexpr const char* kOutputPathTooLongText =
    "The output file path is too long. A path may hold at most 259 bytes; please choose a shorter one.";

// Everything up to and including the last '/', or "" without one.
std::string FolderOfPath(std::string_view path);

// The file name with its extension ("song.mp3" for "/music/song.mp3"); false
// and name untouched when the path is empty.
bool FileNameOfPath(std::string_view path, std::string& name);

// The part from the last '/' (included) to the end, or "" without one.
std::string FileNameWithBackslash(std::string_view path);

// The chosen name with the extension of its file name (from the last '.'
// after the last '/') replaced by ".wav".
std::string WithWavExtension(std::string_view chosen);

// Byte length check against a path buffer: at most 259 bytes.
bool FitsPathBuffer(std::string_view path);

}  // namespace veltrano
