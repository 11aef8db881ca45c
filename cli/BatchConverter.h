#pragma once
// Converts the files of one veltrano-convert run: at most 'jobs' at once (so
// at most that many graphs are alive), each with the checks of a single
// conversion, the next one started as an earlier one finishes. A file that
// fails does not stop the others. Everything runs on the calling thread; the
// graphs reach it through their posted events.

#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleReport.h"
#include "engine/ConversionEngine.h"
#include "engine/ConvertChecks.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

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
};

// Measures the input and applies the Convert command's checks, in its order.
// Other inputs of the run count as sources too: no output may replace one.
FilePreparation PrepareFileConversion(const PlannedFile& file, const std::vector<PlannedFile>& plan,
                                      const ConvertOptions& options, const OutputWaveFormat& format);

class BatchConverter : public QObject {
    Q_OBJECT

public:
    // stopRequested is asked before each file is started (a signal handler's flag).
    BatchConverter(ConvertOptions options, const OutputWaveFormat& format, ConsoleReport& report,
                   std::function<bool()> stopRequested);
    ~BatchConverter() override;

    // Converts every planned file and returns the exit status.
    int Run();
    // Ctrl+C: every running conversion is stopped as the Stop button stops it
    // (its file complete), and no further file is started.
    void Interrupt();

    int jobs() const { return jobs_; }

private:
    struct Job;

    void StartMore();
    void StartFile(std::size_t index);
    void OnJobEnded(Job* job);
    void Record(std::size_t index, FileState state, int status);
    void Tick();
    int CurrentPercent() const;
    bool NothingLeft() const;
    std::string MessagePrefix(std::size_t index) const;
    std::string FinishedLine(std::size_t index, const char* what) const;

    ConvertOptions options_;
    OutputWaveFormat format_;
    ConsoleReport& report_;
    std::function<bool()> stopRequested_;
    std::vector<PlannedFile> plan_;
    std::vector<FileResult> results_;
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
