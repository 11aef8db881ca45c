#include "cli/BatchConverter.h"

#include "cli/ExistingOutput.h"
#include "core/Paths.h"
#include "core/TimeText.h"
#include "engine/ConvertChecks.h"
#include "media/MediaProbe.h"

#include <QThread>

#include <unistd.h>

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

std::string UnmeasuredText(ProbeStep step, const Result& r) {
    if (step != ProbeStep::Render) return "Can not get the duration of the clip! (" + r.text() + ")";
    return "Can not get the duration of the clip! The file cannot be opened (" + r.text() +
           "): an installed decoder is missing, or the file is corrupt.";
}

FilePreparation PrepareFileConversion(const PlannedFile& file, const std::vector<PlannedFile>& plan,
                                      const ConvertOptions& options, const OutputWaveFormat& format) {
    FilePreparation prep;
    if (file.sameOutputAs)
        return Refused(prep, kExitOutputRefused, SameOutputText(file.output, plan[*file.sameOutputAs].input));
    // Looked at without opening it: a FIFO would be drained by the measuring,
    // and the conversion's own open would wait for a writer for ever.
    if (const auto refusal = InputFileRefusal(file.input)) return Refused(prep, kExitInputUnusable, *refusal);

    // Measuring, as opening the file in the dialog does.
    MediaProbe probe;
    ProbeStep step = ProbeStep::Render;
    if (Result r = ProbeMedia(file.input, probe, &step); r.failed()) {
        return Refused(prep, kExitInputUnusable, UnmeasuredText(step, r));
    }

    // Stream 0 is the first one a decoder takes, as in the dialog; another
    // one must be there, decodable, and its own length bounds the selection.
    MediaTime length = probe.stopPosition;
    if (options.stream > 0) {
        const auto streams = static_cast<int>(probe.soundStreams.size());
        if (options.stream >= streams)
            return Refused(prep, kExitInputUnusable, NoSoundStreamText(options.stream, streams));
        const SoundStreamInfo& chosen = probe.soundStreams[static_cast<std::size_t>(options.stream)];
        if (!chosen.decodable)
            return Refused(prep, kExitInputUnusable,
                           "No installed decoder can decode sound stream " + std::to_string(options.stream) + " (" +
                               chosen.codec + ") of the media file.");
        if (chosen.length > 0) length = chosen.length;
    }
    if (options.start >= length) return Refused(prep, kExitBadArguments, StartPastEndText(options.start, length));

    const bool toStandardOutput = WritesToStandardOutput(options);
    ConvertCheckInput in;
    in.output = file.output;
    in.outputIsStream = toStandardOutput;
    in.source = file.input;
    in.startTime = options.start;
    const MediaTime end = options.duration ? options.start + *options.duration : options.end.value_or(length);
    in.endTime = std::min(end, length);
    in.hasSound = probe.hasAudio;
    for (const PlannedFile& other : plan)
        if (&other != &file) in.otherInputs.push_back(other.input);
    in.format = format;
    in.customSamplesPerSec = options.rate;

    // A finished output of an earlier run is done: neither checked nor written again.
    if (options.skipExisting && in.endTime > in.startTime) {
        const std::uint64_t expected = OutputFrames(in.endTime - in.startTime, format.nSamplesPerSec);
        if (CompleteWavFileFrames(file.output, WaveFormatExOf(format)) == expected) {
            prep.skipped = true;
            prep.existingFrames = expected;
            return prep;
        }
    }
    // What --skip-existing finds unfinished is a leftover to convert again.
    const bool replace = options.overwrite || options.skipExisting;
    if (const auto refusal = CheckConversion(in, [replace](const std::string&) { return replace; })) {
        std::string text = refusal->text;
        if (refusal->check == ConvertCheck::Replace)
            text = ReplaceQuestionText(file.output) + " Use -y (--overwrite) to replace it.";
        return Refused(prep, ExitStatusOf(refusal->check), text);
    }

    prep.request.source.audioCount = 1;
    prep.request.source.audioPath = file.input;
    prep.request.source.startTime = in.startTime;
    prep.request.source.endTime = in.endTime;
    prep.request.source.soundStream = options.stream;
    prep.request.outputPath = file.output;
    if (toStandardOutput) prep.request.outputFd = STDOUT_FILENO;
    prep.request.dither = options.dither;
    prep.request.tags = options.tags;
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
                               std::function<bool()> stopRequested, ReportFile* reportFile)
    : options_(std::move(options)),
      format_(format),
      report_(report),
      stopRequested_(std::move(stopRequested)),
      reportFile_(reportFile) {
    plan_ = PlanOutputs(options_.inputs, options_.output, options_.outputDir);
    results_.resize(plan_.size());
    startedAt_.resize(plan_.size());
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
    ReportNotStarted();
    if (batch_) {
        const BatchCounts counts = CountResults(results_);
        const std::string summary = BatchSummaryText(counts);
        // Quiet and all done says nothing; anything else is worth a line.
        if (counts.converted == counts.total) report_.Note(summary);
        else report_.Error(summary);
    } else if (interrupted_ && results_.front().state == FileState::Pending) {
        report_.Error("Stopped. Nothing was written.");
    }
    const int status = BatchExitStatus(results_, interrupted_);
    // A report that lost lines must not pass for a clean run.
    return status == kExitDone && reportFailed_ ? int(kExitOutputRefused) : status;
}

void BatchConverter::Interrupt() {
    // Once everything has been started and has ended, there is nothing left to stop.
    if (interrupted_ || (running_.empty() && next_ >= plan_.size())) return;
    StopRunning();
}

void BatchConverter::StopRunning() {
    interrupted_ = true;
    // Each stop ends its job through a queued call, so the list stays as it is here.
    for (const auto& job : running_) job->conversion.Stop();
    if (running_.empty()) loop_.quit();
}

bool BatchConverter::NothingLeft() const { return next_ >= plan_.size() || interrupted_; }

void BatchConverter::StartMore() {
    while (static_cast<int>(running_.size()) < jobs_ && next_ < plan_.size() && !interrupted_) {
        if (stopRequested_()) {
            Interrupt();
            break;
        }
        StartFile(next_++);
    }
    if (running_.empty() && NothingLeft()) loop_.quit();
}

void BatchConverter::StartFile(std::size_t index) {
    startedAt_[index] = std::chrono::steady_clock::now();
    FilePreparation prep = PrepareFileConversion(plan_[index], plan_, options_, format_);
    // The run's jobs share the cores: the engine gives each its part.
    prep.request.concurrent = jobs_;
    // Stopped while it was measured (a blocking open ends early then): it was never started.
    if (stopRequested_()) {
        StopRunning();
        return;
    }
    if (prep.skipped || prep.status != kExitDone) {
        EndPrepared(index, prep);
        return;
    }
    auto job = std::make_unique<Job>(index);
    if (job->conversion.Start(prep.request) != ConversionEngine::Outcome::Running) {
        // What the dialog shows as boxes, in plain words: the reason when there is one.
        std::vector<std::string> lines;
        for (const ConversionNotice& n : job->conversion.notices()) lines.push_back(n.reason.empty() ? n.text : n.reason);
        std::string message;
        for (const std::string& line : lines) {
            report_.Error(MessageLine(index, line));
            message += (message.empty() ? "" : "\n") + line;
        }
        Record(index, {FileState::Failed, kExitConversionFailed, "failed", 0, message});
        if (batch_) report_.Note(FinishedLine(index, "failed"));
        return;
    }
    Job* raw = job.get();
    // Queued: the conversion is deleted here, never inside its own signal.
    connect(&raw->conversion, &ConversionEngine::ended, this, [this, raw] { OnJobEnded(raw); },
            Qt::QueuedConnection);
    running_.push_back(std::move(job));
}

void BatchConverter::EndPrepared(std::size_t index, const FilePreparation& prep) {
    if (prep.skipped) {
        Record(index, {FileState::Skipped, kExitDone, "skipped", prep.existingFrames, {}});
        if (!report_.quiet()) report_.Result(SkippedText(plan_[index].output));
        if (batch_) report_.Note(FinishedLine(index, "skipped"));
        return;
    }
    std::string message;
    for (const std::string& m : prep.messages) {
        report_.Error(MessageLine(index, m));
        message += (message.empty() ? "" : "\n") + m;
    }
    Record(index, {FileState::Failed, prep.status, "refused", 0, message});
    if (batch_) report_.Note(FinishedLine(index, "failed"));
}

void BatchConverter::OnJobEnded(Job* ended) {
    const auto it = std::find_if(running_.begin(), running_.end(), [ended](const auto& j) { return j.get() == ended; });
    if (it == running_.end()) return;
    std::unique_ptr<Job> job = std::move(*it);
    running_.erase(it);
    const std::size_t index = job->index;
    const ConversionEngine& conversion = job->conversion;
    const ConversionEngine::Outcome outcome = conversion.outcome();
    Ending ending;
    ending.frames = conversion.FramesWritten() + conversion.PaddedFrames();
    switch (outcome) {
    case ConversionEngine::Outcome::Done:
        // Written whole, but made up with silence (standard output only): not a success.
        if (conversion.warningText().empty()) ending = {FileState::Converted, kExitDone, "done", ending.frames, {}};
        else ending = {FileState::Failed, kExitConversionFailed, "failed", ending.frames, conversion.warningText()};
        break;
    case ConversionEngine::Outcome::Stopped:
        ending = {FileState::Stopped, kExitInterrupted, "stopped", ending.frames, StoppedText(index, conversion)};
        break;
    default:
        ending = {FileState::Failed, kExitConversionFailed, "failed", ending.frames,
                  ConversionFailedText(conversion.failureText())};
        break;
    }
    Record(index, ending);
    if (outcome != ConversionEngine::Outcome::Stopped) report_.Refresh(seconds_, CurrentPercent());
    // The last one: the progress line stays, the results go below it.
    if (running_.empty() && NothingLeft()) report_.End();
    switch (ending.state) {
    case FileState::Converted:
        if (report_.quiet()) break;
        // Standard output carries the WAV: the result line goes with the messages.
        if (ToStandardOutput()) report_.Note("Done. Written to standard output.");
        else report_.Result(DoneText(plan_[index].output));
        break;
    case FileState::Stopped: report_.Error(ending.message); break;
    default: report_.Error(MessageLine(index, ending.message)); break;
    }
    if (batch_) {
        report_.Note(FinishedLine(index, ending.state == FileState::Converted ? "converted"
                                         : ending.state == FileState::Stopped ? "stopped"
                                                                              : "failed"));
    }
    job.reset();  // before the next one starts: never more than 'jobs' runners
    StartMore();
}

void BatchConverter::Record(std::size_t index, const Ending& ending) {
    results_[index] = {ending.state, ending.status};
    ++finished_;
    if (!reportFile_ || !reportFile_->IsOpen()) return;
    ReportEntry entry;
    entry.input = plan_[index].input;
    entry.output = plan_[index].output;
    entry.status = ending.reported;
    entry.exitStatus = ending.status;
    entry.frames = ending.frames;
    entry.rate = format_.nSamplesPerSec;
    entry.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_[index]).count();
    entry.message = ending.message;
    if (const std::string error = reportFile_->Write(entry); !error.empty() && !reportFailed_) {
        reportFailed_ = true;
        report_.Error(std::string(kConvertProgramName) + ": " + error);
    }
}

void BatchConverter::ReportNotStarted() {
    if (!reportFile_ || !reportFile_->IsOpen()) return;
    for (std::size_t i = 0; i < plan_.size(); ++i) {
        if (results_[i].state != FileState::Pending) continue;
        ReportEntry entry;
        entry.input = plan_[i].input;
        entry.output = plan_[i].output;
        entry.status = "stopped";
        entry.exitStatus = kExitInterrupted;
        entry.rate = format_.nSamplesPerSec;
        entry.message = "Not started: the run was stopped.";
        if (const std::string error = reportFile_->Write(entry); !error.empty() && !reportFailed_) {
            reportFailed_ = true;
            report_.Error(std::string(kConvertProgramName) + ": " + error);
        }
    }
}

int BatchConverter::CurrentPercent() const {
    std::vector<int> percents;
    for (const auto& job : running_) percents.push_back(job->conversion.ProgressPercent());
    // A stopped file is not done: it does not count whole.
    const auto done = std::count_if(results_.begin(), results_.end(), [](const FileResult& r) {
        return r.state == FileState::Converted || r.state == FileState::Skipped || r.state == FileState::Failed;
    });
    return OverallPercent(plan_.size(), static_cast<std::size_t>(done), percents);
}

void BatchConverter::Tick() { report_.Progress(++seconds_, CurrentPercent()); }

std::string BatchConverter::MessageLine(std::size_t index, const std::string& text) const {
    // Every message says which file it is about: in a batch always its input;
    // alone, its input when the text names no file of its own.
    const PlannedFile& file = plan_[index];
    const bool named = text.find(file.input) != std::string::npos || text.find(file.output) != std::string::npos;
    return std::string(kConvertProgramName) + ": " + (batch_ || !named ? file.input + ": " : "") + text;
}

std::string BatchConverter::FinishedLine(std::size_t index, const char* what) const {
    return "[" + std::to_string(finished_) + "/" + std::to_string(plan_.size()) + "] " + plan_[index].input + ": " +
           what;
}

std::string BatchConverter::StoppedText(std::size_t index, const ConversionEngine& conversion) const {
    const std::uint64_t rate = std::max<std::uint64_t>(format_.nSamplesPerSec, 1);
    const auto at = [rate](std::uint64_t frames) {
        return HmsText(MediaTime(frames / rate * kUnitsPerSecond + frames % rate * kUnitsPerSecond / rate));
    };
    const std::uint64_t kept = conversion.FramesWritten();
    const std::string whole = at(conversion.ExpectedFrames());
    if (!ToStandardOutput()) return "Stopped. Kept " + at(kept) + " of " + whole + " in " + plan_[index].output + ".";
    if (conversion.PaddedFrames() > 0)
        return "Stopped. Standard output holds " + at(kept) + " of sound, then silence to the " + whole +
               " its header states.";
    if (kept == 0) return "Stopped. Nothing was written to standard output.";
    return "Stopped. Standard output ends after " + at(kept) + ", short of the " + whole + " its header states.";
}

}  // namespace veltrano
