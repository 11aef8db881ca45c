#pragma once
// What veltrano-convert writes for scripts to read: the report's JSON lines,
// the probe's list of sound streams, and the selection's refusals that name
// times.

#include "core/MediaTime.h"
#include "media/MediaProbe.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

// A JSON string, quotes included. Paths need not be UTF-8: a byte that is not
// part of a valid UTF-8 sequence is written as \udcXX (0xDC00 + the byte),
// as Python's "surrogateescape" reads it back to the same bytes.
std::string JsonString(std::string_view text);

// One input's line of the --report file.
struct ReportEntry {
    std::string input;
    std::string output;            // "-" for standard output
    std::string status;            // done, skipped, failed, refused or stopped
    int exitStatus = 0;            // the status this input alone would exit with
    std::uint64_t frames = 0;      // frames in the output
    std::uint32_t rate = 0;        // of the output, for its seconds of sound
    double wallSeconds = 0;        // from its preparation to its end
    std::string message;           // why, when not done
};

// The entry as one JSON object and a newline.
std::string ReportLine(const ReportEntry& entry);

// The --report file, appended to: each line goes out in one write, so runs
// appending to one file on a local disk do not mix their lines.
class ReportFile {
public:
    ReportFile() = default;
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // "" once open, else why it cannot be ("Cannot write the report r.jsonl: ...").
    std::string Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    // "" once written, else why not.
    std::string Write(const ReportEntry& entry);

private:
    std::string path_;
    int fd_ = -1;
};

// "stream 0: Vorbis, 44100 Hz, 2 channels, language en, title "Main"", one
// line per sound stream.
std::string SoundStreamLines(const std::vector<SoundStreamInfo>& streams);

// HH:MM:SS, with .fff when asked.
std::string ClockText(MediaTime t, bool milliseconds);
// "The start 00:11:40 is past the end of the media (00:10:00)." Milliseconds
// are shown when whole seconds would not tell the two apart truthfully.
std::string StartPastEndText(MediaTime start, MediaTime length);

}  // namespace veltrano
