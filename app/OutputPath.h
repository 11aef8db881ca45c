#pragma once
// Pure parts of the output path and help: where Browse starts, how its answer
// becomes a .wav path, and where the help pages are.

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

// The user's music folder when it exists (the XDG one), else the home folder.
QString MusicFolder();

// The folder Browse opens in: the path before its last '/', "." without one,
// "/" for a file in the root.
std::string BrowseInitialFolder(std::string_view outputFile);

// Where the help's Introduction page may lie for an executable: beside it in
// the build tree, then in the installed data folder.
std::vector<std::string> HelpPageCandidates(std::string_view executablePath);

// The file:// URL of the first candidate that exists (or of the first one).
std::string HelpPageUrl(std::string_view executablePath,
                        const std::function<bool(const std::string&)>& exists);

}  // namespace veltrano
