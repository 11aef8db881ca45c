#pragma once
// The conversion: the timeline of a conversion, its render and write graph,
// the graph's events and the stop. The dialog's Convert command and
// veltrano-convert drive this one object the same way: Start, then wait for
// ended(), or Stop. It shows nothing itself: what went wrong comes back as
// notices and a failure text, which each front end shows in its own way.

#include "core/MediaTime.h"
#include "core/Result.h"
#include "core/WaveFormat.h"
#include "core/WaveFormatEx.h"
#include "media/FilterGraph.h"
#include "media/GraphEvents.h"
#include "media/RenderEngine.h"
#include "media/SourceAnalysis.h"
#include "media/Timeline.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrano {

// The four references of a conversion; all empty when idle.
struct ConversionJob {
    std::shared_ptr<Timeline> pTimeline;
    std::unique_ptr<RenderEngine> pRenderEngine;
    std::shared_ptr<MediaControl> pControl;
    std::shared_ptr<GraphEvents> pEvent;
};

// The conversion's source, as the dialog's media lists and selection hold it.
struct ConversionSource {
    int audioCount = 0;     // entries in the audio source list
    std::string audioPath;  // entry 0, the one converted
    MediaTime startTime = 0;
    MediaTime endTime = 0;
    int soundStream = 0;    // which of the file's sound streams, from 0 (0: the first a decoder takes)
};

inline constexpr int kStallSeconds = 10;
// The writer's name in the graph: its failures are the output file's.
inline constexpr const char* kWriterName = "Writer";

struct ConversionRequest {
    ConversionSource source;
    std::string outputPath;
    OutputWaveFormat format;
    // What measuring the source learned (its MP3 frames), so that it is not
    // read twice; ignored when the file changed since. May be null.
    SourceAnalysisRef analysis;
    // TPDF dither where samples lose bits.
    bool dither = true;
    // The source's tags go into the file's LIST/INFO chunk.
    bool tags = true;
    // A conversion whose output does not grow for this long has stalled (a
    // damaged file that keeps a parser busy, or waiting on nothing): it fails
    // instead of holding a batch up for ever.
    int stallSeconds = kStallSeconds;
    // How many conversions run at once (a batch's jobs): they share the
    // machine's cores, so a batch already running a job per core decodes
    // each file on one branch, where spans would only add work.
    int concurrent = 1;
    // The cores the decoding may use, when a caller knows better (0: the engine decides).
    int cores = 0;
    // An open descriptor (standard output) written instead of outputPath:
    // its header states the selection's length from the start, so a sound
    // that ends early, or is stopped, is made up with silence to that length.
    int outputFd = -1;
};

// A step of the build that failed: the step's own text, and the reason in
// plain words when the system gave one. The dialog shows each as one box
// (an application box, or a box captioned "Error"); the command line as a line.
struct ConversionNotice {
    enum class Kind { Application, Error };
    Kind kind = Kind::Application;
    std::string text;
    std::string reason;
    friend bool operator==(const ConversionNotice&, const ConversionNotice&) = default;
};

// The cores one of 'concurrent' conversions may use on a machine of 'machine' cores.
int CoresForConversion(int machine, int concurrent);

class ConversionEngine : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        Idle,
        NotStarted,  // a build step failed; notices() says which
        Running,
        Stopping,    // Stop was asked; the file is being finished
        Done,
        Stopped,     // complete up to where it was stopped
        Failed,      // the graph stopped on an error; failureText() says why
    };

    explicit ConversionEngine(QObject* parent = nullptr);
    ~ConversionEngine() override;
    ConversionEngine(const ConversionEngine&) = delete;
    ConversionEngine& operator=(const ConversionEngine&) = delete;

    // Builds the timeline and the graph and runs it. Running, or NotStarted
    // with the notices of the steps that failed.
    Outcome Start(const ConversionRequest& request);
    // Stops a running conversion as the Stop button does: the graph is brought
    // to its end (bounded in time) so the file is complete, then released;
    // ended() follows, from the event loop.
    void Stop();

    Outcome outcome() const { return outcome_; }
    bool Running() const { return outcome_ == Outcome::Running || outcome_ == Outcome::Stopping; }
    const std::vector<ConversionNotice>& notices() const { return notices_; }
    const std::string& failureText() const { return failureText_; }
    // Done to a descriptor, but the sound ended before the selection did:
    // why, and how many frames of silence made up the rest.
    const std::string& warningText() const { return warningText_; }
    std::uint64_t PaddedFrames() const { return paddedFrames_; }
    // Frames of sound handed to the writer (silence made up not counted);
    // after the release, the count the conversion reached.
    std::uint64_t FramesWritten() const;
    // round(selection length x output rate): what a whole conversion holds.
    std::uint64_t ExpectedFrames() const;

    // Share of the selection written, 0 to 100; after the release, the share
    // the conversion reached.
    int ProgressPercent() const;
    // Where the conversion writes and in which format. With the source's
    // channels asked for, they are 0 until the converter has seen the sound.
    const std::string& OutputPath() const { return request_.outputPath; }
    WaveFormatEx WrittenFormat() const;

    // While running: the references the conversion holds.
    const ConversionJob& job() const { return job_; }

signals:
    // Done, Stopped or Failed: the conversion has ended and everything is released.
    void ended();

protected:
    bool event(QEvent* e) override;

private:
    void Notify(ConversionNotice::Kind kind, std::string text, std::string reason = {});
    void Notify(std::string text, const Result& r = Result::Ok());

    // The timeline: one audio group, one track, one source holding the selection.
    Result CreateTimeline();
    Result AddAudioGroup(Timeline& timeline);
    Result AddSourceTrack(Timeline& timeline, const std::shared_ptr<TimelineObj>& group, const std::string& path);
    Result ValidateSourceNames(Timeline& timeline);
    // The graph: render engine front end, converter, multiplexer, writer; runs it.
    Result ConnectRenderEngine(const std::shared_ptr<Timeline>& timeline);
    void DisablePreviewMode(Timeline& timeline);
    Result BuildWriteGraph(RenderEngine& engine, const std::string& filename);
    Result SetWrittenFormat(CaptureGraphBuilder& builder, const Filter& mux);
    Result StartGraph(const std::shared_ptr<FilterGraph>& graph);

    void OnGraphNotify();
    // A graph's failure, with the file it concerns named when its text does not.
    std::string FailureNamingItsFile(const GraphEvent& event) const;
    void CheckProgress();
    void OnGraphComplete();
    void FinishDrain();
    // Ends as 'outcome' after the new file took the output's place, or as a
    // failure when it could not.
    void EndCommitted(Outcome outcome);
    void End(Outcome outcome);
    // Stops the graph and releases the job: graph first, then the filters.
    // A stalled graph may never let its threads go: it is torn down on a
    // thread of its own, so that nothing here waits on it.
    void ReleaseJob(bool stalled = false);
    // A stop that could not drain: the writer's part file holds its header
    // ahead of the data; made readable, it still replaces the output.
    Result CommitCutOffPart();
    // Why a graph that reached its end holds less than the selection, and
    // what became of the rest.
    std::optional<std::string> ShortfallText(const std::string& rest) const;
    bool WritesDescriptor() const { return request_.outputFd >= 0; }

    ConversionJob job_;
    ConversionRequest request_;
    WaveFormatEx writtenFormat_;
    std::shared_ptr<AcmWrapper> progress_;
    std::shared_ptr<FileWriter> writer_;
    int lastPercent_ = 0;
    std::uint64_t lastFrames_ = 0;
    std::uint64_t paddedFrames_ = 0;
    std::string warningText_;
    Outcome outcome_ = Outcome::Idle;
    std::vector<ConversionNotice> notices_;
    std::string failureText_;
    QTimer drainTimeout_;
    QTimer progressCheck_;
    std::uint64_t lastDelivered_ = 0;
    int stalledSeconds_ = 0;
};

// How long a stop waits for the graph to write the end of the file.
inline constexpr int kDrainTimeoutMs = 5000;

}  // namespace veltrano
