#include "cli/BatchPlan.h"

#include "cli/CommandLine.h"
#include "core/Paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace veltrano {

std::string OutputInFolder(std::string_view folder, std::string_view input) {
    std::string name;
    FileNameOfPath(input, name);
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    return path + WithWavExtension(name);
}

std::vector<PlannedFile> PlanOutputs(const std::vector<std::string>& inputs, const std::string& output,
                                     const std::string& folder) {
    std::vector<PlannedFile> plan;
    std::map<std::string, std::size_t> firstWithOutput;
    for (const std::string& input : inputs) {
        PlannedFile file;
        file.input = input;
        file.output = folder.empty() ? output : OutputInFolder(folder, input);
        const auto [it, inserted] = firstWithOutput.emplace(file.output, plan.size());
        if (!inserted) file.sameOutputAs = it->second;
        plan.push_back(std::move(file));
    }
    return plan;
}

std::string SameOutputText(const std::string& output, const std::string& earlierInput) {
    return "Its output file " + output + " is already the output of " + earlierInput +
           " in this run; the file is not converted, so as not to overwrite it.";
}

std::string NotAFolderText(const std::string& folder) {
    return "The output folder " + folder + " does not exist or is not a folder.";
}

std::string SkippedText(const std::string& output) {
    return "Skipped. Output File: " + output + " is complete already.";
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> InputFileRefusal(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "Cannot read " + path + ": " + std::strerror(errno) + ".";
    if (S_ISREG(st.st_mode)) return std::nullopt;
    const char* kind = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a FIFO"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                       : S_ISCHR(st.st_mode)  ? "a character device"
                       : S_ISBLK(st.st_mode)  ? "a block device"
                                              : "a special file";
    return "Cannot read " + path + ": it is " + kind + ", not a regular file.";
}

BatchCounts CountResults(const std::vector<FileResult>& results) {
    BatchCounts c;
    c.total = results.size();
    for (const FileResult& r : results) {
        switch (r.state) {
        case FileState::Pending: ++c.notStarted; break;
        case FileState::Converted: ++c.converted; break;
        case FileState::Failed: ++c.failed; break;
        case FileState::Stopped: ++c.stopped; break;
        case FileState::Skipped:
            ++c.converted;
            ++c.skipped;
            break;
        }
    }
    return c;
}

std::string BatchSummaryText(const BatchCounts& c) {
    std::string text = "Converted " + std::to_string(c.converted) + " of " + std::to_string(c.total) +
                       (c.total == 1 ? " file" : " files");
    std::string rest;
    auto add = [&rest](std::size_t n, const char* what) {
        if (n == 0) return;
        rest += (rest.empty() ? "; " : ", ") + std::to_string(n) + " " + what;
    };
    add(c.skipped, "complete already");
    add(c.failed, "failed");
    add(c.stopped, "stopped");
    add(c.notStarted, "not started");
    return text + rest + ".";
}

int BatchExitStatus(const std::vector<FileResult>& results, bool interrupted) {
    if (interrupted) return kExitInterrupted;
    int status = kExitDone;
    for (const FileResult& r : results) {
        if (r.state == FileState::Failed) status = std::max(status, r.status);
        // Not converted without a failure of its own: nothing else can have stopped it.
        else if (r.state != FileState::Converted && r.state != FileState::Skipped)
            status = std::max(status, int(kExitConversionFailed));
    }
    return status;
}

int OverallPercent(std::size_t total, std::size_t finished, const std::vector<int>& runningPercents) {
    if (total == 0) return 100;
    std::size_t sum = finished * 100;
    for (int p : runningPercents) sum += static_cast<std::size_t>(std::clamp(p, 0, 100));
    return static_cast<int>(std::min<std::size_t>(sum / total, 100));
}

}  // namespace veltrano
