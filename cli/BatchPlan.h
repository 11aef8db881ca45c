#pragma once
// The pure parts of converting several files in one run: where each output
// goes, which inputs would overwrite each other, how the results add up to a
// summary and an exit status.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

struct PlannedFile {
    std::string input;
    std::string output;
    // An earlier input of the run that has this very output: this one is refused.
    std::optional<std::size_t> sameOutputAs;
};

// The output of an input in a folder, named as Browse names a chosen file:
// the input's file name with its extension replaced by ".wav".
std::string OutputInFolder(std::string_view folder, std::string_view input);

// One entry per input, in order: the given output for a single input (-o), or
// the input's name in the folder (-d).
std::vector<PlannedFile> PlanOutputs(const std::vector<std::string>& inputs, const std::string& output,
                                     const std::string& folder);

std::string SameOutputText(const std::string& output, const std::string& earlierInput);
std::string NotAFolderText(const std::string& folder);
// "Skipped. Output File: PATH is complete already."
std::string SkippedText(const std::string& output);

// True when the path names an existing folder (through links too).
bool IsFolder(const std::string& path);

// Why an input cannot be read as a media file ("Cannot read /x/in: it is a
// FIFO, not a regular file."), or nothing for a regular file (through
// links). Nothing is opened: a FIFO would be drained, or wait for a writer.
std::optional<std::string> InputFileRefusal(const std::string& path);

// Skipped: --skip-existing found its output complete; it counts as converted.
enum class FileState { Pending, Converted, Failed, Stopped, Skipped };

struct FileResult {
    FileState state = FileState::Pending;
    int status = 0;  // the single-file exit status of a failed file
};

struct BatchCounts {
    std::size_t total = 0, converted = 0, failed = 0, stopped = 0, notStarted = 0;
    std::size_t skipped = 0;  // counted in converted too
};
BatchCounts CountResults(const std::vector<FileResult>& results);

// "Converted 3 of 4 files; 1 failed." (skipped, failed, stopped and not
// started are named when there are any).
std::string BatchSummaryText(const BatchCounts& counts);

// 0 when every file was converted; 130 when interrupted; otherwise the highest
// status of the files not converted.
int BatchExitStatus(const std::vector<FileResult>& results, bool interrupted);

// The run's share done, 0 to 100: every file weighs the same; a finished file
// (whatever its result) counts whole, a running one by its own percent.
int OverallPercent(std::size_t total, std::size_t finished, const std::vector<int>& runningPercents);

}  // namespace veltrano
