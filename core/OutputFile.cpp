#include "core/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

namespace veltrano {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit
constexpr std::size_t kMaxNameBytes = NAME_MAX;
constexpr const char* kPartMark = ".part-";

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    return "a special file";
}

std::string RefusalText(const std::string& path, const std::string& why) {
    return "Cannot write " + path + ": " + why + ".";
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The umask, read without changing it (umask() would, for every thread).
mode_t CurrentUmask() {
    std::FILE* f = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (!f) return mask;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<mode_t>(value);
            break;
        }
    }
    std::fclose(f);
    return mask;
}

std::string RandomSuffix(std::mt19937& gen) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string s;
    for (std::size_t i = 0; i < kPartSuffixLength; ++i) s += kChars[pick(gen)];
    return s;
}

}  // namespace

std::optional<std::string> OutputFileRefusal(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ELOOP) return RefusalText(path, "its symbolic links go round in a loop");
        return std::nullopt;  // nothing there yet, or a folder that cannot be read: the writer says which
    }
    if (S_ISREG(st.st_mode)) return std::nullopt;
    return RefusalText(path, std::string("it is ") + KindOf(st.st_mode) + ", not a regular file");
}

bool ResolveOutputTarget(const std::string& path, OutputTarget& target, std::string& error) {
    target = OutputTarget{};
    std::string current = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            // Nothing there yet: the file is made where the path (or the last link) points.
            target.path = current;
            return true;
        }
        if (S_ISREG(st.st_mode)) {
            target.path = current;
            target.exists = true;
            target.mode = st.st_mode & 07777;
            target.uid = st.st_uid;
            target.gid = st.st_gid;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            error = RefusalText(path, std::string("it is ") + KindOf(st.st_mode) + ", not a regular file");
            return false;
        }
        std::array<char, PATH_MAX> link{};
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size() - 1);
        if (n < 0) {
            error = RefusalText(path, std::strerror(errno));
            return false;
        }
        const std::string next(link.data(), static_cast<std::size_t>(n));
        current = next.front() == '/' ? next : DirectoryOf(current) + "/" + next;
    }
    error = RefusalText(path, "its symbolic links go round in a loop");
    return false;
}

std::string PartFilePrefix(const std::string& targetPath) {
    const auto slash = targetPath.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : targetPath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    const std::size_t room = kMaxNameBytes - std::strlen(kPartMark) - kPartSuffixLength;
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
        name.resize(cut);
    }
    return dir + name + kPartMark;
}

int CreatePartFile(const OutputTarget& target, std::string& partPath) {
    std::random_device seed;
    std::mt19937 gen(seed());
    const std::string prefix = PartFilePrefix(target.path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = prefix + RandomSuffix(gen);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            partPath = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

bool CommitPartFile(const std::string& partPath, const OutputTarget& target, bool sync, std::string& error) {
    const auto fail = [&error] {
        error = std::strerror(errno);
        return false;
    };
    mode_t mode = 0666 & ~CurrentUmask();
    if (target.exists) {
        mode = target.mode;
        // Only root may give a file away; for anyone else the new file stays theirs.
        struct stat st {};
        if (::stat(partPath.c_str(), &st) == 0 && (st.st_uid != target.uid || st.st_gid != target.gid)) {
            const bool given = ::chown(partPath.c_str(), target.uid, target.gid) == 0;
            static_cast<void>(given);
        }
    }
    if (::chmod(partPath.c_str(), mode) != 0) return fail();
    if (sync) {
        const int fd = ::open(partPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return fail();
        const int synced = ::fdatasync(fd) == 0 ? 0 : errno;
        ::close(fd);
        errno = synced;
        if (synced != 0) return fail();
    }
    if (::rename(partPath.c_str(), target.path.c_str()) != 0) return fail();
    return true;
}

}  // namespace veltrano
