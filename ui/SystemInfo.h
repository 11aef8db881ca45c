#pragma once
// The operating system's version, as the dialog records it at start-up.

#include <cstdint>

namespace veltrano {

struct OsVersionInfo {
    std::uint32_t dwOSVersionInfoSize = 0;
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0;
    char szCSDVersion[128] = {};
};

inline constexpr std::uint32_t kOsVersionInfoSize = 148;

// Fills the kernel's version (major, minor, patch level) and its release text;
// false when the structure's size field is wrong or the kernel cannot say.
bool GetVersionEx(OsVersionInfo& info);

}  // namespace veltrano
