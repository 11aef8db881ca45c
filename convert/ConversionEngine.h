#pragma once
// The conversion engine: the timeline of a conversion, its render and write
// graph and the graph's events. The dialog's Convert command and the
// command-line converter drive this same class; it reports every failure
// through the message-box seam it is given.

#include "app/WaveFormat.h"
#include "platform/FilterGraph.h"
#include "platform/GraphEvents.h"
#include "platform/MediaTime.h"
#include "platform/RenderEngine.h"
#include "platform/Result.h"
#include "platform/Timeline.h"
#include "platform/UiServices.h"
#include "platform/WaveFormatEx.h"

#include <QObject>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace veltrano {

// The four references of a conversion; all empty when idle.
struct ConversionJob {
    std::shared_ptr<Timeline> pTimeline;
    std::unique_ptr<RenderEngine> pRenderEngine;
    std::shared_ptr<MediaControl> pControl;
    std::shared_ptr<GraphEvents> pEvent;
};

// What the engine needs from the front end that drives it.
struct ConversionHost {
    IMessageBoxes* boxes = nullptr;
    QObject* notifyTarget = nullptr;  // gets the graph's kGraphNotifyEventType events
    std::function<void()> onRunning;  // the graph runs: enter the converting state
    char* errorText = nullptr;        // receives the system text of a failure (the dialog's 160 bytes)
    std::size_t errorTextCapacity = 0;
};

// The conversion's source, as the dialog's media lists and selection hold it.
struct ConversionSource {
    int audioCount = 0;     // entries in the audio source list
    std::string audioPath;  // entry 0, the one converted
    MediaTime startTime = 0;
    MediaTime endTime = 0;
};

class ConversionEngine {
public:
    explicit ConversionEngine(ConversionHost host);
    ~ConversionEngine();
    ConversionEngine(const ConversionEngine&) = delete;
    ConversionEngine& operator=(const ConversionEngine&) = delete;

    ConversionJob job;

    // What the next conversion reads and writes.
    void SetSource(const ConversionSource& source) { source_ = source; }
    void SetOutput(const std::string& path, const OutputWaveFormat& format);

    // The timeline: one audio group, one track, one source holding the selection.
    Result CreateTimeline();
    Result AddAudioGroup(Timeline& timeline);
    Result AddSourceTrack(Timeline& timeline, const std::shared_ptr<TimelineObj>& group, std::string path);
    Result ValidateSourceNames(Timeline& timeline);

    // The graph: render engine front end, converter, multiplexer, writer; runs it.
    Result ConnectRenderEngine(const std::shared_ptr<Timeline>& timeline);
    void DisablePreviewMode(Timeline& timeline);
    Result BuildWriteGraph(RenderEngine& engine, const std::string& filename);
    // The n-th pin (from 0) of a direction, or an empty pin.
    static Pin GetPin(const Filter& filter, int n, PinDirection direction);

    // True while a graph has been started and not yet released.
    bool Running() const { return running_; }
    // Stops the graph and releases the job: graph first, then the filters. A
    // graph still streaming is first brought to its end (bounded in time), so
    // the file holds a complete header for what was written.
    void StopAndRelease();
    // Releases after the graph stopped on an error; the output stays as it
    // was and the part written is removed.
    void ReleaseAfterFailure();
    // After the release: whether the new file took the output's place, and
    // if a stop could not finish it, why.
    bool OutputCommitted() const { return committed_; }
    const std::string& CommitFailureText() const { return commitFailure_; }

    // Share of the selection written, 0 to 100; after the release, the share
    // the conversion reached.
    int ProgressPercent() const;
    // Where the conversion writes and in which format (after a refused
    // SetFormat, the converter's own).
    const std::string& OutputPath() const { return outputPath_; }
    WaveFormatEx WrittenFormat() const { return writtenFormat_; }

private:
    void AppBox(const std::string& text);
    void ErrorTextBox(const Result& r);
    void ReleaseJob();
    void FinishKeptPart();

    ConversionHost host_;
    ConversionSource source_;
    std::string outputPath_;
    OutputWaveFormat format_;
    WaveFormatEx writtenFormat_;
    std::shared_ptr<AcmWrapper> progress_;
    std::shared_ptr<FileWriter> writer_;
    bool committed_ = false;
    std::string commitFailure_;
    int lastPercent_ = 0;
    bool running_ = false;
};

// How long a stop waits for the graph to write the end of the file.
inline constexpr int kDrainTimeoutMs = 5000;

}  // namespace veltrano
