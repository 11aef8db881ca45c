#pragma once
// Converts the files of one veltrano-convert run: at most 'jobs' at once (so
// at most that many graphs are alive), each with the checks of a single
// conversion, the next one started as an earlier one finishes. A file that
// fails does not stop the others. Everything runs on the calling thread; the
// graphs reach it through their posted events.

#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleReport.h"
#include "cli/ScriptOutput.h"
#include "engine/ConversionEngine.h"
#include "engine/ConvertChecks.h"
#include "media/MediaProbe.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace veltrano {

inline constexpr const char* kConvertProgramName = "veltrano-convert";

// What the checks of a single conversion make of one planned file.
struct FilePreparation {
    int status = kExitDone;  // anything else: refused, with its messages
    std::vector<std::string> messages;
    ConversionRequest request;
    // --skip-existing found the output complete: nothing to convert.
    bool skipped = false;
    std::uint64_t existingFrames = 0;
};

// Why an input could not be measured, in one line.
std::string UnmeasuredText(ProbeStep step, const Result& r);

// Measures the input and applies the Convert command's checks, in its order.
// Other inputs of the run count as sources too: no output may replace one.
// The input must be a regular file, and have the sound stream asked for;
// the selection must start before the media ends.
FilePreparation PrepareFileConversion(const PlannedFile& file, const std::vector<PlannedFile>& plan,
                                      const ConvertOptions& options, const OutputWaveFormat& format);

class BatchConverter : public QObject {
    Q_OBJECT

public:
    // stopRequested is asked before each file is started (a signal handler's
    // flag). reportFile, when given, gets each input's line as it ends.
    BatchConverter(ConvertOptions options, const OutputWaveFormat& format, ConsoleReport& report,
                   std::function<bool()> stopRequested, ReportFile* reportFile = nullptr);
    ~BatchConverter() override;

    // Converts every planned file and returns the exit status.
    int Run();
    // Ctrl+C: every running conversion is stopped as the Stop button stops it
    // (its file complete), and no further file is started.
    void Interrupt();

    int jobs() const { return jobs_; }

private:
    struct Job;

    // How one input ended, for the console and the report.
    struct Ending {
        FileState state = FileState::Failed;
        int status = kExitDone;
        const char* reported = "failed";  // the report's status
        std::uint64_t frames = 0;
        std::string message;
    };

    void StartMore();
    void StartFile(std::size_t index);
    void OnJobEnded(Job* job);
    void EndPrepared(std::size_t index, const FilePreparation& prep);
    void Record(std::size_t index, const Ending& ending);
    void StopRunning();
    void ReportNotStarted();
    void Tick();
    int CurrentPercent() const;
    bool NothingLeft() const;
    bool ToStandardOutput() const { return WritesToStandardOutput(options_); }
    std::string MessageLine(std::size_t index, const std::string& text) const;
    std::string FinishedLine(std::size_t index, const char* what) const;
    std::string StoppedText(std::size_t index, const ConversionEngine& conversion) const;

    ConvertOptions options_;
    OutputWaveFormat format_;
    ConsoleReport& report_;
    std::function<bool()> stopRequested_;
    ReportFile* reportFile_;
    bool reportFailed_ = false;
    std::vector<PlannedFile> plan_;
    std::vector<FileResult> results_;
    std::vector<std::chrono::steady_clock::time_point> startedAt_;  // when each input's preparation began
    bool batch_ = false;  // several inputs: messages name their file, a summary ends the run
    int jobs_ = 1;
    std::size_t next_ = 0;
    std::size_t finished_ = 0;
    bool interrupted_ = false;
    int seconds_ = 0;
    std::list<std::unique_ptr<Job>> running_;
    QTimer ticks_;
    QEventLoop loop_;
};

}  // namespace veltrano
