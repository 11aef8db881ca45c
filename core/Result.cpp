#include "core/Result.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace veltrano {

Result::Result(HResult code, std::string_view text) : code_(code), text_(text) {}

std::string Result::text() const {
    if (!text_.empty()) return text_;
    return ErrorTextForCode(code_);
}

std::string ErrorTextForCode(HResult code) {
    switch (code) {
    case S_OK: return "No error.";
    case S_FALSE: return "The operation completed without a result.";
    case E_FAIL: return "Unspecified error.";
    case E_INVALIDARG: return "An invalid parameter was passed to a routine.";
    case E_UNEXPECTED: return "An unexpected error occurred.";
    case E_NOINTERFACE: return "No such interface supported.";
    case E_OUTOFMEMORY: return "Not enough memory is available.";
    case VFW_E_INVALIDMEDIATYPE: return "The specified media type is invalid.";
    case E_ACCESSDENIED: return "Access is denied.";
    case E_NOTFOUND: return "The system cannot find the file specified.";
    default: break;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "Unknown error 0x%08X.", static_cast<unsigned>(code));
    return buf;
}

void GetErrorText(const Result& r, char* buffer, std::size_t capacity) {
    if (capacity == 0) return;
    const std::string t = r.text();
    std::size_t n = std::min(t.size(), capacity - 1);
    if (n < t.size()) {
        // Never cut a UTF-8 sequence in half.
        while (n > 0 && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(buffer, t.data(), n);
    buffer[n] = '\0';
}

}  // namespace veltrano
