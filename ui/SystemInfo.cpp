#include "ui/SystemInfo.h"

#include "core/FixedText.h"

#include <sys/utsname.h>

#include <cstdio>

namespace veltrano {

bool GetVersionEx(OsVersionInfo& info) {
    if (info.dwOSVersionInfoSize != kOsVersionInfoSize) return false;
    utsname u{};
    if (uname(&u) != 0) return false;
    unsigned major = 0, minor = 0, patch = 0;
    if (std::sscanf(u.release, "%u.%u.%u", &major, &minor, &patch) < 1) return false;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.dwBuildNumber = patch;
    info.dwPlatformId = 0;
    CopyTextTruncated(info.szCSDVersion, u.release);
    return true;
}

}  // namespace veltrano
