#pragma once
// A failure code in the style of the media platform's results: negative means
// failure. A failure carries the system's text for it, which the dialogs show
// where a failure's system text is asked for. A result is never dropped
// unlooked-at by accident: the places that ignore one say so with (void).

#include <cstdint>
#include <string>
#include <string_view>

namespace veltrano {

using HResult = std::int32_t;

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr HResult E_INVALIDARG = static_cast<HResult>(0x80070057u);
inline constexpr HResult E_UNEXPECTED = static_cast<HResult>(0x8000FFFFu);
inline constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);
inline constexpr HResult E_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
// The format a stage was asked to carry is not one it can carry.
inline constexpr HResult VFW_E_INVALIDMEDIATYPE = static_cast<HResult>(0x80040200u);
// A file could not be opened, read or written.
inline constexpr HResult E_ACCESSDENIED = static_cast<HResult>(0x80070005u);
inline constexpr HResult E_NOTFOUND = static_cast<HResult>(0x80070002u);

// The dialog's error text buffer holds this many bytes and a terminator.
inline constexpr std::size_t kMaxErrorTextLength = 159;

class [[nodiscard]] Result {
public:
    Result() = default;
    explicit Result(HResult code) : code_(code) {}
    Result(HResult code, std::string_view text);

    static Result Ok() { return Result(S_OK); }
    static Result Fail(HResult code, std::string_view text) { return Result(code, text); }

    HResult code() const { return code_; }
    bool failed() const { return code_ < 0; }
    bool succeeded() const { return code_ >= 0; }
    explicit operator bool() const { return succeeded(); }

    // The system text of the failure; when none was recorded, a text for the code.
    std::string text() const;

    friend bool operator==(const Result& a, const Result& b) { return a.code_ == b.code_; }
    friend bool operator==(const Result& a, HResult b) { return a.code_ == b; }

private:
    HResult code_ = S_OK;
    std::string text_;
};

inline bool Failed(const Result& r) { return r.failed(); }
inline bool Succeeded(const Result& r) { return r.succeeded(); }

// Text for a bare code, as the platform's error-text lookup gives it.
std::string ErrorTextForCode(HResult code);

// Copies the system text of a failure into a fixed buffer (as the dialog's
// 160-character error text member), always terminated, never overrun, never
// splitting a UTF-8 sequence.
void GetErrorText(const Result& r, char* buffer, std::size_t capacity);

}  // namespace veltrano
