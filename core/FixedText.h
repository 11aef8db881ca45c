#pragma once
// Fixed-capacity text buffers: every copy is bounded, and a text that does not
// fit is refused rather than cut, so a path is never silently shortened.

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace veltrano {

// Capacity of a path buffer: 259 bytes of UTF-8 and the terminator.
inline constexpr std::size_t kMaxPath = 260;

// Copies src into dst when it fits with its terminator; otherwise leaves dst
// untouched and returns false.
template <std::size_t N>
bool CopyText(char (&dst)[N], std::string_view src) {
    if (src.size() >= N) return false;
    std::memcpy(dst, src.data(), src.size());
    dst[src.size()] = '\0';
    return true;
}

// Copies as much of src as fits, never splitting a UTF-8 sequence; for texts
// that are only shown (messages), never for paths.
template <std::size_t N>
void CopyTextTruncated(char (&dst)[N], std::string_view src) {
    std::size_t n = src.size() < N ? src.size() : N - 1;
    if (n < src.size()) {
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

template <std::size_t N>
std::string_view TextOf(const char (&buf)[N]) {
    return std::string_view(buf, strnlen(buf, N));
}

}  // namespace veltrano
