#pragma once
// What veltrano-convert prints: results on stdout, progress and messages on
// stderr. On a terminal the progress line is rewritten in place, and taken
// away before any other line so that lines never run into it.

#include <cstdio>
#include <string>

namespace veltrano {

class ConsoleReport {
public:
    explicit ConsoleReport(bool quiet, std::FILE* out = stdout, std::FILE* err = stderr);

    // "Please wait... Used Time: HH:MM:SS (P%)"; silent when quiet.
    void Progress(int seconds, int percent);
    // The same, only where it rewrites the line in place (between ticks).
    void Refresh(int seconds, int percent);
    // A line about the progress (a file finished); silent when quiet.
    void Note(const std::string& line);
    // A message that is always shown.
    void Error(const std::string& line);
    // A line on stdout.
    void Result(const std::string& line);
    // Leaves the last progress line standing; later lines go below it.
    void End();

    bool quiet() const { return quiet_; }

private:
    void ClearProgress();
    void RestoreProgress();
    void WriteLine(std::FILE* stream, const std::string& line);

    bool quiet_;
    std::FILE* out_;
    std::FILE* err_;
    bool tty_;
    std::string progress_;  // the progress line on the terminal, if any
    bool progressShown_ = false;
};

}  // namespace veltrano
