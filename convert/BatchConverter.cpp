#include "convert/BatchConverter.h"

#include "app/OutputPath.h"
#include "convert/ConversionRunner.h"
#include "convert/ConvertChecks.h"
#include "platform/MediaProbe.h"
#include "platform/OutputFile.h"
#include "platform/UiServices.h"
#include "source/Paths.h"

#include <QThread>

#include <algorithm>

namespace veltrano {

namespace {

// Boxes of a conversion as lines of the report, named after their file in a
// batch; a question is answered No.
class ReportingBoxes final : public IMessageBoxes {
public:
    ReportingBoxes(ConsoleReport& report, std::string prefix) : report_(report), prefix_(std::move(prefix)) {}
    BoxAnswer Show(const BoxRequest& request) override {
        report_.Error(prefix_ + request.text);
        switch (request.buttons) {
        case BoxButtons::YesNo:
        case BoxButtons::YesNoCancel: return BoxAnswer::No;
        case BoxButtons::OkCancel: return BoxAnswer::Cancel;
        default: return BoxAnswer::Ok;
        }
    }
    std::string ApplicationName() const override { return kConvertProgramName; }

private:
    ConsoleReport& report_;
    std::string prefix_;
};

FilePreparation Refused(FilePreparation prep, int status, std::string text) {
    prep.status = status;
    prep.messages.push_back(std::move(text));
    return prep;
}

}  // namespace

FilePreparation PrepareFileConversion(const PlannedFile& file, const std::vector<PlannedFile>& plan,
                                      const ConvertOptions& options) {
    FilePreparation prep;
    if (file.sameOutputAs)
        return Refused(prep, kExitOutputRefused, SameOutputText(file.output, plan[*file.sameOutputAs].input));

    // Measuring, as opening the file in the dialog does.
    MediaProbe probe;
    ProbeStep step = ProbeStep::Render;
    if (Result r = ProbeMedia(file.input, probe, &step); r.failed()) {
        if (step == ProbeStep::Render)
            prep.messages.push_back(
                "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt. (" + r.text() +
                ")");
        return Refused(prep, kExitInputUnusable, "Can not get the duration of the clip!");
    }

    // The Convert command's checks, in its order.
    if (!FitsPathBuffer(file.output)) return Refused(prep, kExitOutputRefused, kOutputPathTooLongText);
    const MediaTime start = options.start;
    const MediaTime end = std::min(options.end.value_or(probe.stopPosition), probe.stopPosition);
    if (!(end > start)) return Refused(prep, kExitBadArguments, kEndBeforeStartText);
    // A special file is never opened, not even to see whether it exists.
    const std::optional<std::string> special = OutputFileRefusal(file.output);
    const bool exists = !special && FileExists(file.output);
    if (NamesSameFile(file.output, file.input)) return Refused(prep, kExitOutputRefused, kOutputIsSourceText);
    if (exists) {
        for (const PlannedFile& other : plan)
            if (NamesSameFile(file.output, other.input))
                return Refused(prep, kExitOutputRefused, OutputIsOtherInputText(other.input));
    }
    if (!probe.hasAudio) return Refused(prep, kExitInputUnusable, kNoSoundStreamText);
    if (special) return Refused(prep, kExitOutputRefused, *special);
    if (exists && !options.overwrite)
        return Refused(prep, kExitOutputRefused,
                       ReplaceQuestionText(file.output) + " Use -y (--overwrite) to replace it.");

    prep.source.audioCount = 1;
    prep.source.audioPath = file.input;
    prep.source.startTime = start;
    prep.source.endTime = end;
    prep.replace = exists;
    return prep;
}

struct BatchConverter::Job {
    Job(std::size_t i, ConsoleReport& report, std::string prefix)
        : index(i), boxes(report, std::move(prefix)), runner(boxes) {}
    std::size_t index;
    ReportingBoxes boxes;  // outlives the runner that reports through it
    ConversionRunner runner;
};

BatchConverter::BatchConverter(ConvertOptions options, const OutputWaveFormat& format, ConsoleReport& report,
                               std::function<bool()> stopRequested)
    : options_(std::move(options)), format_(format), report_(report), stopRequested_(std::move(stopRequested)) {
    plan_ = PlanOutputs(options_.inputs, options_.output, options_.outputDir);
    results_.resize(plan_.size());
    batch_ = plan_.size() > 1;
    const int wanted = options_.jobs.value_or(QThread::idealThreadCount());
    jobs_ = std::clamp(wanted, 1, std::max(1, static_cast<int>(plan_.size())));
    connect(&ticks_, &QTimer::timeout, this, &BatchConverter::Tick);
}

BatchConverter::~BatchConverter() = default;

int BatchConverter::Run() {
    StartMore();
    if (!running_.empty()) {
        report_.Progress(seconds_, CurrentPercent());
        ticks_.start(1000);
        loop_.exec();
        ticks_.stop();
    }
    report_.End();
    if (batch_) {
        const BatchCounts counts = CountResults(results_);
        const std::string summary = BatchSummaryText(counts);
        // Quiet and all done says nothing; anything else is worth a line.
        if (counts.converted == counts.total) report_.Note(summary);
        else report_.Error(summary);
    }
    return BatchExitStatus(results_, interrupted_);
}

void BatchConverter::Interrupt() {
    // Once everything has been started and has ended, there is nothing left to stop.
    if (interrupted_ || (running_.empty() && next_ >= plan_.size())) return;
    interrupted_ = true;
    // Each stop ends its job through a queued call, so the list stays as it is here.
    for (const auto& job : running_) job->runner.Stop();
    if (running_.empty()) loop_.quit();
}

bool BatchConverter::NothingLeft() const { return next_ >= plan_.size() || interrupted_; }

void BatchConverter::StartMore() {
    while (static_cast<int>(running_.size()) < jobs_ && next_ < plan_.size()) {
        if (stopRequested_()) {
            Interrupt();
            break;
        }
        StartFile(next_++);
    }
    if (running_.empty() && NothingLeft()) loop_.quit();
}

void BatchConverter::StartFile(std::size_t index) {
    const PlannedFile& file = plan_[index];
    const FilePreparation prep = PrepareFileConversion(file, plan_, options_);
    if (prep.status != kExitDone) {
        for (const std::string& m : prep.messages) report_.Error(MessagePrefix(index) + m);
        Record(index, FileState::Failed, prep.status);
        if (batch_) report_.Note(FinishedLine(index, "failed"));
        return;
    }
    auto job = std::make_unique<Job>(index, report_, MessagePrefix(index));
    if (job->runner.Start(prep.source, file.output, format_) != ConversionRunner::Outcome::Running) {
        Record(index, FileState::Failed, kExitConversionFailed);
        if (batch_) report_.Note(FinishedLine(index, "failed"));
        return;
    }
    Job* raw = job.get();
    // Queued: the runner is deleted here, never inside its own signal.
    connect(&raw->runner, &ConversionRunner::ended, this, [this, raw] { OnJobEnded(raw); }, Qt::QueuedConnection);
    running_.push_back(std::move(job));
}

void BatchConverter::OnJobEnded(Job* ended) {
    const auto it = std::find_if(running_.begin(), running_.end(), [ended](const auto& j) { return j.get() == ended; });
    if (it == running_.end()) return;
    std::unique_ptr<Job> job = std::move(*it);
    running_.erase(it);
    const std::size_t index = job->index;
    const ConversionRunner::Outcome outcome = job->runner.outcome();
    if (outcome != ConversionRunner::Outcome::Stopped) {
        Record(index, outcome == ConversionRunner::Outcome::Done ? FileState::Converted : FileState::Failed,
               outcome == ConversionRunner::Outcome::Done ? kExitDone : kExitConversionFailed);
        report_.Refresh(seconds_, CurrentPercent());
    } else {
        Record(index, FileState::Stopped, kExitInterrupted);
    }
    // The last one: the progress line stays, the results go below it.
    if (running_.empty() && NothingLeft()) report_.End();
    const std::string& output = plan_[index].output;
    switch (outcome) {
    case ConversionRunner::Outcome::Done:
        report_.Result(DoneText(output));
        if (batch_) report_.Note(FinishedLine(index, "converted"));
        break;
    case ConversionRunner::Outcome::Stopped:
        // Complete up to where it was stopped, as after the Stop button.
        report_.Result(DoneText(output));
        if (batch_) report_.Note(FinishedLine(index, "stopped"));
        break;
    default:
        report_.Error(MessagePrefix(index) + ConversionFailedText(job->runner.failureText()));
        if (batch_) report_.Note(FinishedLine(index, "failed"));
        break;
    }
    job.reset();  // before the next one starts: never more than 'jobs' runners
    StartMore();
}

void BatchConverter::Record(std::size_t index, FileState state, int status) {
    results_[index] = {state, status};
    ++finished_;
}

int BatchConverter::CurrentPercent() const {
    std::vector<int> percents;
    for (const auto& job : running_) percents.push_back(job->runner.ProgressPercent());
    // A stopped file is not done: it does not count whole.
    const auto done = std::count_if(results_.begin(), results_.end(), [](const FileResult& r) {
        return r.state == FileState::Converted || r.state == FileState::Failed;
    });
    return OverallPercent(plan_.size(), static_cast<std::size_t>(done), percents);
}

void BatchConverter::Tick() { report_.Progress(++seconds_, CurrentPercent()); }

std::string BatchConverter::MessagePrefix(std::size_t index) const {
    std::string prefix = std::string(kConvertProgramName) + ": ";
    if (batch_) prefix += plan_[index].input + ": ";
    return prefix;
}

std::string BatchConverter::FinishedLine(std::size_t index, const char* what) const {
    return "[" + std::to_string(finished_) + "/" + std::to_string(plan_.size()) + "] " + plan_[index].input + ": " +
           what;
}

}  // namespace veltrano
