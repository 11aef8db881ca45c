#include "cli/ConsoleReport.h"

#include "engine/ConvertChecks.h"

#include <unistd.h>

namespace veltrano {

ConsoleReport::ConsoleReport(bool quiet, std::FILE* out, std::FILE* err)
    : quiet_(quiet), out_(out), err_(err), tty_(::isatty(::fileno(err)) != 0) {}

void ConsoleReport::Progress(int seconds, int percent) {
    if (quiet_) return;
    const std::string text = UsedTimeText(seconds) + " (" + std::to_string(percent) + "%)";
    if (tty_) {
        // Shorter than the line before: blank out what is left of it.
        const std::size_t pad = progressShown_ && progress_.size() > text.size() ? progress_.size() - text.size() : 0;
        std::fprintf(err_, "\r%s%s", text.c_str(), std::string(pad, ' ').c_str());
        if (pad) std::fprintf(err_, "\r%s", text.c_str());
        progress_ = text;
        progressShown_ = true;
    } else {
        std::fprintf(err_, "%s\n", text.c_str());
    }
    std::fflush(err_);
}

void ConsoleReport::Refresh(int seconds, int percent) {
    if (tty_ && progressShown_) Progress(seconds, percent);
}

void ConsoleReport::Note(const std::string& line) {
    if (!quiet_) WriteLine(err_, line);
}

void ConsoleReport::Error(const std::string& line) { WriteLine(err_, line); }

void ConsoleReport::Result(const std::string& line) { WriteLine(out_, line); }

void ConsoleReport::End() {
    if (tty_ && progressShown_) {
        std::fputc('\n', err_);
        std::fflush(err_);
    }
    progressShown_ = false;
    progress_.clear();
}

void ConsoleReport::WriteLine(std::FILE* stream, const std::string& line) {
    ClearProgress();
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
    RestoreProgress();
}

void ConsoleReport::ClearProgress() {
    if (!tty_ || !progressShown_) return;
    std::fprintf(err_, "\r%s\r", std::string(progress_.size(), ' ').c_str());
    std::fflush(err_);
}

void ConsoleReport::RestoreProgress() {
    if (!tty_ || !progressShown_) return;
    std::fprintf(err_, "%s", progress_.c_str());
    std::fflush(err_);
}

}  // namespace veltrano
