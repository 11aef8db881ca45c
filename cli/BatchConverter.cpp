#include "cli/BatchConverter.h"

#include "engine/ConvertChecks.h"
#include "media/MediaProbe.h"
#include "core/Paths.h"

#include <QThread>

#include <algorithm>

namespace veltrano {

namespace {

FilePreparation Refused(FilePreparation prep, int status, std::string text) {
    prep.status = status;
    prep.messages.push_back(std::move(text));
    return prep;
}

int ExitStatusOf(ConvertCheck check) {
    switch (check) {
    case ConvertCheck::Selection:
    case ConvertCheck::Rate:
    case ConvertCheck::FormatRange: return kExitBadArguments;
    case ConvertCheck::MediaOpen:
    case ConvertCheck::Sound: return kExitInputUnusable;
    default: return kExitOutputRefused;
    }
}

}  // namespace

FilePreparation PrepareFileConversion(const PlannedFile& file, const std::vector<PlannedFile>& plan,
                                      const ConvertOptions& options, const OutputWaveFormat& format) {
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

    ConvertCheckInput in;
    in.output = file.output;
    in.source = file.input;
    in.startTime = options.start;
    in.endTime = std::min(options.end.value_or(probe.stopPosition), probe.stopPosition);
    in.hasSound = probe.hasAudio;
    for (const PlannedFile& other : plan)
        if (&other != &file) in.otherInputs.push_back(other.input);
    in.format = format;
    in.customSamplesPerSec = options.rate;
    if (const auto refusal = CheckConversion(in, [&](const std::string&) { return options.overwrite; })) {
        std::string text = refusal->text;
        if (refusal->check == ConvertCheck::Replace)
            text = ReplaceQuestionText(file.output) + " Use -y (--overwrite) to replace it.";
        return Refused(prep, ExitStatusOf(refusal->check), text);
    }

    prep.request.source.audioCount = 1;
    prep.request.source.audioPath = file.input;
    prep.request.source.startTime = in.startTime;
    prep.request.source.endTime = in.endTime;
    prep.request.outputPath = file.output;
    prep.request.dither = options.dither;
    prep.request.analysis = probe.analysis;
    prep.request.format = format;
    return prep;
}

struct BatchConverter::Job {
    explicit Job(std::size_t i) : index(i) {}
    std::size_t index;
    ConversionEngine conversion;
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
    for (const auto& job : running_) job->conversion.Stop();
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
    const FilePreparation prep = PrepareFileConversion(file, plan_, options_, format_);
    if (prep.status != kExitDone) {
        for (const std::string& m : prep.messages) report_.Error(MessagePrefix(index) + m);
        Record(index, FileState::Failed, prep.status);
        if (batch_) report_.Note(FinishedLine(index, "failed"));
        return;
    }
    auto job = std::make_unique<Job>(index);
    if (job->conversion.Start(prep.request) != ConversionEngine::Outcome::Running) {
        // What the dialog shows as boxes, in plain words: the reason when there is one.
        for (const ConversionNotice& n : job->conversion.notices())
            report_.Error(MessagePrefix(index) + (n.reason.empty() ? n.text : n.reason));
        Record(index, FileState::Failed, kExitConversionFailed);
        if (batch_) report_.Note(FinishedLine(index, "failed"));
        return;
    }
    Job* raw = job.get();
    // Queued: the conversion is deleted here, never inside its own signal.
    connect(&raw->conversion, &ConversionEngine::ended, this, [this, raw] { OnJobEnded(raw); },
            Qt::QueuedConnection);
    running_.push_back(std::move(job));
}

void BatchConverter::OnJobEnded(Job* ended) {
    const auto it = std::find_if(running_.begin(), running_.end(), [ended](const auto& j) { return j.get() == ended; });
    if (it == running_.end()) return;
    std::unique_ptr<Job> job = std::move(*it);
    running_.erase(it);
    const std::size_t index = job->index;
    const ConversionEngine::Outcome outcome = job->conversion.outcome();
    if (outcome != ConversionEngine::Outcome::Stopped) {
        Record(index, outcome == ConversionEngine::Outcome::Done ? FileState::Converted : FileState::Failed,
               outcome == ConversionEngine::Outcome::Done ? kExitDone : kExitConversionFailed);
        report_.Refresh(seconds_, CurrentPercent());
    } else {
        Record(index, FileState::Stopped, kExitInterrupted);
    }
    // The last one: the progress line stays, the results go below it.
    if (running_.empty() && NothingLeft()) report_.End();
    const std::string& output = plan_[index].output;
    switch (outcome) {
    case ConversionEngine::Outcome::Done:
        report_.Result(DoneText(output));
        if (batch_) report_.Note(FinishedLine(index, "converted"));
        break;
    case ConversionEngine::Outcome::Stopped:
        // Complete up to where it was stopped, as after the Stop button.
        report_.Result(DoneText(output));
        if (batch_) report_.Note(FinishedLine(index, "stopped"));
        break;
    default:
        report_.Error(MessagePrefix(index) + ConversionFailedText(job->conversion.failureText()));
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
    for (const auto& job : running_) percents.push_back(job->conversion.ProgressPercent());
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
