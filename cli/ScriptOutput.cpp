#include "cli/ScriptOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace veltrano {

namespace {

// Bytes of the valid UTF-8 sequence starting at s[i], or 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const auto continuation = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return k < s.size() && byte(k) >= lo && byte(k) <= hi;
    };
    const unsigned c = byte(i);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return continuation(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        // No overlong forms, no surrogates.
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return continuation(i + 1, lo, hi) && continuation(i + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return continuation(i + 1, lo, hi) && continuation(i + 2) && continuation(i + 3) ? 4 : 0;
    }
    return 0;
}

std::string Fixed3(double value) {
    // Locale-free: the program runs under the user's locale, JSON does not.
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return std::string(text, r.ptr);
}

bool HasMilliseconds(MediaTime t) { return (t / 10'000) % 1000 != 0; }

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8SequenceAt(text, i);
        char escape[8];
        if (n == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", c);
            out += escape;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out.append(text.substr(i, n));
        }
        i += n == 0 ? 1 : n;
    }
    return out + "\"";
}

std::string ReportLine(const ReportEntry& e) {
    const double seconds = e.rate > 0 ? static_cast<double>(e.frames) / e.rate : 0.0;
    std::string line = "{\"input\":" + JsonString(e.input) + ",\"output\":" + JsonString(e.output) +
                       ",\"status\":" + JsonString(e.status) + ",\"exit\":" + std::to_string(e.exitStatus) +
                       ",\"frames\":" + std::to_string(e.frames) + ",\"seconds\":" + Fixed3(seconds) +
                       ",\"wall_seconds\":" + Fixed3(e.wallSeconds);
    if (!e.message.empty()) line += ",\"message\":" + JsonString(e.message);
    return line + "}\n";
}

ReportFile::~ReportFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::string ReportFile::Open(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ >= 0) return {};
    return "Cannot write the report " + path + ": " + std::strerror(errno) + ".";
}

std::string ReportFile::Write(const ReportEntry& entry) {
    const std::string line = ReportLine(entry);
    ssize_t n = -1;
    do n = ::write(fd_, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(line.size())) return {};
    return "Cannot write the report " + path_ + ": " + (n < 0 ? std::strerror(errno) : "the disk is full") + ".";
}

std::string SoundStreamLines(const std::vector<SoundStreamInfo>& streams) {
    std::string text;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const SoundStreamInfo& s = streams[i];
        text += "stream " + std::to_string(i) + ": " + (s.codec.empty() ? std::string("unknown codec") : s.codec);
        if (s.rate > 0) text += ", " + std::to_string(s.rate) + " Hz";
        if (s.channels > 0) text += ", " + std::to_string(s.channels) + (s.channels == 1 ? " channel" : " channels");
        if (!s.language.empty()) text += ", language " + s.language;
        if (!s.title.empty()) text += ", title " + JsonString(s.title);
        if (!s.decodable) text += ", no decoder installed";
        text += '\n';
    }
    return text;
}

std::string ClockText(MediaTime t, bool milliseconds) {
    // Whole seconds are truncated, as every time text; milliseconds rounded, as the probe's length.
    const long long ms = milliseconds ? (t + 5'000) / 10'000 : t / 10'000;
    const long long seconds = ms / 1000;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    std::string out = text;
    if (milliseconds) {
        std::snprintf(text, sizeof text, ".%03lld", ms % 1000);
        out += text;
    }
    return out;
}

std::string StartPastEndText(MediaTime start, MediaTime length) {
    const bool ms = HasMilliseconds(start) || HasMilliseconds(length);
    return "The start " + ClockText(start, ms) + " is past the end of the media (" + ClockText(length, ms) + ").";
}

}  // namespace veltrano
