#pragma once
// The output file of a conversion as the file system sees it: what a path
// names (through symbolic links), the file a write through it lands in, and
// the temporary file beside that file which is written first and renamed
// over it at the end, so that the old file stays whole until the new one is.
// POSIX only; nothing here opens the output path itself.

#include <sys/types.h>

#include <optional>
#include <string>

namespace veltrano {

// Why the path cannot be a conversion's output ("Cannot write /x/fifo: it is
// a FIFO, not a regular file."), or nothing when it names a regular file or
// nothing yet. A symbolic link is judged by what it names.
std::optional<std::string> OutputFileRefusal(const std::string& path);

// The file an output path writes: the path itself, or the file its symbolic
// links lead to (which need not exist yet).
struct OutputTarget {
    std::string path;
    bool exists = false;
    mode_t mode = 0;  // permission bits of the file replaced
    uid_t uid = 0;
    gid_t gid = 0;
};

// False, with the refusal's text, for a path that cannot be written.
bool ResolveOutputTarget(const std::string& path, OutputTarget& target, std::string& error);

// "<name>.part-" beside the target: a name that says what the file is and
// never ends in .wav; the name is shortened to fit the file system's limit.
std::string PartFilePrefix(const std::string& targetPath);
inline constexpr std::size_t kPartSuffixLength = 6;

// Creates a new temporary file beside the target (exclusively, readable by
// its owner only while written); its descriptor, or -1 with errno set.
int CreatePartFile(const OutputTarget& target, std::string& partPath);

// Gives the part file the permissions (and, where allowed, the owner) of the
// file it replaces, or those the umask gives a new file; writes its data
// through to the disk when asked; then renames it over the target. False
// with the system's text on failure.
bool CommitPartFile(const std::string& partPath, const OutputTarget& target, bool sync, std::string& error);

}  // namespace veltrano
