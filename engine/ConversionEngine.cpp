#include "engine/ConversionEngine.h"

#include "engine/ConvertChecks.h"
#include "engine/Logging.h"
#include "core/TimeText.h"
#include "formats/WavFinish.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

namespace veltrano {

int CoresForConversion(int machine, int concurrent) { return std::max(1, machine / std::max(1, concurrent)); }

ConversionEngine::ConversionEngine(QObject* parent) : QObject(parent) {
    drainTimeout_.setSingleShot(true);
    drainTimeout_.setInterval(kDrainTimeoutMs);
    connect(&drainTimeout_, &QTimer::timeout, this, &ConversionEngine::FinishDrain);
    progressCheck_.setInterval(1000);
    connect(&progressCheck_, &QTimer::timeout, this, &ConversionEngine::CheckProgress);
}

ConversionEngine::~ConversionEngine() { ReleaseJob(); }

void ConversionEngine::Notify(ConversionNotice::Kind kind, std::string text, std::string reason) {
    notices_.push_back({kind, std::move(text), std::move(reason)});
}

void ConversionEngine::Notify(std::string text, const Result& r) {
    Notify(ConversionNotice::Kind::Application, std::move(text), r.failed() ? r.text() : std::string());
}

ConversionEngine::Outcome ConversionEngine::Start(const ConversionRequest& request) {
    ReleaseJob();
    request_ = request;
    notices_.clear();
    failureText_.clear();
    warningText_.clear();
    lastPercent_ = 0;
    lastFrames_ = 0;
    paddedFrames_ = 0;
    outcome_ = Outcome::NotStarted;
    // A timeline that cannot be made, or whose source is gone, has nothing to render.
    // Every failed step has told its notice; the outcome says whether the graph runs.
    if (CreateTimeline().succeeded()) (void)ConnectRenderEngine(job_.pTimeline);
    if (outcome_ != Outcome::Running) ReleaseJob();
    return outcome_;
}

// ---- the timeline ----

Result ConversionEngine::CreateTimeline() {
    // A new timeline: nothing is reused from an earlier conversion.
    job_.pTimeline = std::make_shared<Timeline>();
    // The audio group, when there is an audio source. Its failures are told
    // but do not end the build: the group count stops it further on.
    if (request_.source.audioCount > 0) (void)AddAudioGroup(*job_.pTimeline);
    return ValidateSourceNames(*job_.pTimeline);
}

Result ConversionEngine::AddAudioGroup(Timeline& timeline) {
    std::shared_ptr<TimelineObj> pAudioGroupObj;
    if (Result r = timeline.CreateEmptyNode(pAudioGroupObj, TIMELINE_MAJOR_TYPE_GROUP); r.failed()) {
        Notify("Could not create pAudioGroupObj", r);
        return r;
    }
    // The group is given its major type only; the wave format is set downstream.
    AmMediaType mt;
    mt.majortype = MajorType::Audio;
    mt.bFixedSizeSamples = true;
    mt.bTemporalCompression = false;
    mt.lSampleSize = 1;
    if (Result r = pAudioGroupObj->SetMediaType(mt); r.failed()) {
        Notify("Could not set AudioGroupType", r);
        return r;
    }
    if (Result r = timeline.AddGroup(pAudioGroupObj); r.failed()) {
        Notify("Could not add audio group", r);
        return r;
    }
    return AddSourceTrack(timeline, pAudioGroupObj, request_.source.audioPath);
}

Result ConversionEngine::AddSourceTrack(Timeline& timeline, const std::shared_ptr<TimelineObj>& group,
                                        const std::string& path) {
    std::shared_ptr<TimelineObj> pTrack3Obj;
    if (Result r = timeline.CreateEmptyNode(pTrack3Obj, TIMELINE_MAJOR_TYPE_TRACK); r.failed()) {
        Notify("Could not create pTrack3Obj", r);
        return r;
    }
    if (Result r = group->VTrackInsBefore(pTrack3Obj, -1); r.failed()) {
        Notify("Could not insert pTrack3Obj", r);
        return r;
    }
    const MediaTime start = request_.source.startTime;
    const MediaTime end = request_.source.endTime;
    std::shared_ptr<TimelineObj> pSource3Obj;
    if (Result r = timeline.CreateEmptyNode(pSource3Obj, TIMELINE_MAJOR_TYPE_SOURCE); r.failed()) {
        Notify("Could not create the pSource3Obj", r);
        return r;
    }
    (void)pSource3Obj->SetStartStop(0, end - start);  // a source node always takes its place
    if (Result r = pSource3Obj->SetMediaTimes(start, end); r.failed()) {
        Notify("Could not set audio start and eng time!", r);
        return r;
    }
    if (Result r = pSource3Obj->SetMediaName(path); r.failed()) {
        Notify("Could not configure pSource3Src", r);
        return r;
    }
    if (Result r = pTrack3Obj->SrcAdd(pSource3Obj); r.failed()) {
        Notify("Could not add pSource3Obj to track", r);
        return r;
    }
    return Result::Ok();
}

Result ConversionEngine::ValidateSourceNames(Timeline& timeline) {
    // Nothing can stand in for a lost file: it is told, and nothing is built
    // (a graph on a missing source would only fail again, leaving an empty file).
    return timeline.ValidateSourceNames(SFN_VALIDATEF_CHECK | SFN_VALIDATEF_POPUP | SFN_VALIDATEF_REPLACE,
                                        [this](const std::string& text) { Notify(text); });
}

// ---- the render and write graph ----

Result ConversionEngine::ConnectRenderEngine(const std::shared_ptr<Timeline>& timeline) {
    if (Result r = CreateRenderEngine(job_.pRenderEngine); r.failed()) {
        Notify(ConversionNotice::Kind::Error, "Could not create pRenderEngine", r.text());
        return r;
    }
    job_.pRenderEngine->SetCores(request_.cores > 0 ? request_.cores
                                                    : CoresForConversion(static_cast<int>(std::thread::hardware_concurrency()),
                                                                         request_.concurrent));
    job_.pRenderEngine->SetSourceAnalysis(request_.analysis);
    job_.pRenderEngine->SetSoundStream(request_.source.soundStream);
    if (Result r = job_.pRenderEngine->SetTimelineObject(timeline); r.failed()) {
        Notify("Could not SetTimelineObject", r);
        return r;
    }
    // Dynamic reconnection has no counterpart: the graph is built once and never rebuilt.
    if (Result r = job_.pRenderEngine->ConnectFrontEnd(); r.failed()) {
        qCWarning(lcEngine) << "front end:" << r.text().c_str();
        Notify("Could not ConnectFrontEnd", r);
        return r;
    }
    DisablePreviewMode(*timeline);
    return BuildWriteGraph(*job_.pRenderEngine, request_.outputPath);
}

void ConversionEngine::DisablePreviewMode(Timeline& timeline) {
    long groups = 0;
    (void)timeline.GetGroupCount(groups);  // a timeline always counts its groups
    for (long i = 0; i < groups; ++i) {
        std::shared_ptr<TimelineObj> group;
        if (timeline.GetGroup(group, i).succeeded()) (void)group->SetPreviewMode(false);
    }
}

namespace {

// The n-th pin (from 0) of a direction, or an empty pin.
Pin GetPin(const Filter& filter, int n, PinDirection direction) {
    std::vector<Pin> pins;
    if (filter.EnumPins(pins).failed()) return {};
    for (const Pin& pin : pins) {
        if (pin.QueryDirection() != direction) continue;
        if (n == 0) return pin;
        --n;
    }
    return {};
}

}  // namespace

Result ConversionEngine::BuildWriteGraph(RenderEngine& engine, const std::string& filename) {
    // Every local is released on every way out by its handle.
    std::unique_ptr<CaptureGraphBuilder> pBuilder;
    if (Result r = CreateCaptureGraphBuilder(pBuilder); r.failed()) {
        Notify("Could not create ICaptureGraphBuilder2", r);
        return r;
    }
    std::shared_ptr<Timeline> timeline;
    if (Result r = engine.GetTimelineObject(timeline); r.failed()) return r;
    std::shared_ptr<FilterGraph> pGraph;
    if (Result r = engine.GetFilterGraph(pGraph); r.failed()) return r;
    long Groups = 0;
    (void)timeline->GetGroupCount(Groups);  // zero groups is the failure looked at
    if (Groups == 0) {
        Notify("Could not GetGroupCount( &Groups )");
        return Result(E_INVALIDARG);
    }
    if (Result r = pBuilder->SetFiltergraph(pGraph); r.failed()) {
        Notify("Error pBuilder->SetFiltergraph( pGraph )", r);
        return r;
    }
    Filter pMux;
    if (Result r = CreateWavMultiplexer(pMux); r.failed()) {
        Notify(ConversionNotice::Kind::Error,
               "The program does not detect its file writer. Please install the program again!", r.text());
        return r;
    }
    if (Result r = pGraph->AddFilter(pMux, "Wav File Mux"); r.failed()) {
        Notify("pGraph->AddFilter( Wav, File Mux )", r);
        return r;
    }
    std::shared_ptr<FileWriter> pWriter;
    if (Result r = CreateFileWriter(pWriter); r.failed()) {
        Notify("failed to create wav writer!", r);
        return r;
    }
    if (Result r = pWriter->SetMode(AM_FILE_OVERWRITE); r.failed()) {
        Notify("hr = pWriter->SetMode(AM_FILE_OVERWRITE);", r);
        return r;
    }
    (void)pWriter->SetWriteTags(request_.tags);  // a property: setting it cannot fail
    if (WritesDescriptor()) {
        if (Result r = pWriter->SetDescriptor(request_.outputFd); r.failed()) {
            Notify("Could not write to the descriptor", r);
            return r;
        }
    } else if (Result r = pWriter->SetFileName(filename); r.failed()) {
        Notify("hr = pWriter->SetFileName( Filename, NULL );", r);
        return r;
    }
    if (Result r = pGraph->AddFilter(pWriter->BaseFilter(), kWriterName); r.failed()) {
        Notify("hr = pGraph->AddFilter( pWriterBase, Writer );", r);
        return r;
    }
    std::shared_ptr<AcmWrapper> pACM;
    if (Result r = CreateAcmWrapper(pACM); r.failed()) {
        Notify(ConversionNotice::Kind::Error,
               "The program does not detect its file ACM WRAPPER. Please install the latest DirectX!", r.text());
        return r;
    }
    pACM->SetDither(request_.dither);
    if (Result r = pGraph->AddFilter(pACM->BaseFilter(), "Wave Format"); r.failed()) {
        Notify("pGraph->AddFilter( pACM, Wave Format)", r);
        return r;
    }
    // Group 0 only, whatever Groups says.
    Pin pPin;
    if (Result r = engine.GetGroupOutputPin(0, pPin); r.failed()) {
        Notify("Could not GetGroupOutputPin( g, &pPin )", r);
        return r;
    }
    if (!pPin) return Result(S_FALSE);
    if (Result r = pBuilder->RenderStream(pPin, pACM->BaseFilter(), pMux); r.failed()) {
        qCWarning(lcEngine) << "render stream:" << r.text().c_str();
        Notify("Could not RenderStream( NULL, NULL, pPin, pACM, pMux )", r);
        return r;
    }
    if (Result r = SetWrittenFormat(*pBuilder, pMux); r.failed()) return r;
    // The header is chosen before the first sample, for the frames the selection yields.
    if (Result r = pWriter->SetExpectedFrames(ExpectedFrames()); r.failed()) return r;
    const Pin pMuxOut = GetPin(pMux, 0, PINDIR_OUTPUT);
    const Pin pWriterIn = GetPin(pWriter->BaseFilter(), 0, PINDIR_INPUT);
    if (!pMuxOut || !pWriterIn) return Result(E_UNEXPECTED);
    if (Result r = pGraph->Connect(pMuxOut, pWriterIn); r.failed()) {
        Notify("Could not pGraph->Connect( pMuxOut, pWriterIn )", r);
        return r;
    }
    progress_ = pACM;
    writer_ = pWriter;
    return StartGraph(pGraph);
}

Result ConversionEngine::SetWrittenFormat(CaptureGraphBuilder& builder, const Filter& mux) {
    writtenFormat_ = DefaultGroupFormat();
    std::shared_ptr<StreamConfig> pASC;
    if (Result r = builder.FindInterface(FindDirection::LOOK_UPSTREAM_ONLY, MajorType::Audio, mux, pASC);
        r.failed()) {
        Notify("can not FindInterface", r);
        return r;
    }
    WaveFormatEx pmt;
    if (Result r = pASC->GetFormat(pmt); r.failed()) return r;
    pmt.nBlockAlign = request_.format.nBlockAlign;
    pmt.nChannels = request_.format.nChannels;
    pmt.wBitsPerSample = request_.format.wBitsPerSample;
    pmt.nSamplesPerSec = request_.format.nSamplesPerSec;
    pmt.nAvgBytesPerSec = request_.format.nAvgBytesPerSec;
    // Float has a tag of its own; integers keep the one the converter reported.
    if (request_.format.kind == SampleKind::Float) pmt.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    // A format the converter cannot produce ends the build: writing another
    // one than was asked for would be a wrong result called done.
    if (Result r = pASC->SetFormat(pmt); r.failed()) {
        Notify("can not pASC->SetFormat(pmt)", r);
        return r;
    }
    writtenFormat_ = pmt;
    return Result::Ok();
}

Result ConversionEngine::StartGraph(const std::shared_ptr<FilterGraph>& graph) {
    // The graph is its own media control and event queue.
    job_.pControl = graph;
    job_.pEvent = std::shared_ptr<GraphEvents>(graph, &graph->Events());
    if (Result r = job_.pEvent->SetNotifyWindow(this, kGraphNotifyEventType, 0); r.failed()) {
        Notify("can not SetNotifyWindow!!!", r);
        return r;
    }
    if (Result r = job_.pControl->Run(); r.failed()) {
        Notify("can not pControl->Run()!!!", r);
        return r;
    }
    outcome_ = Outcome::Running;
    lastDelivered_ = 0;
    stalledSeconds_ = 0;
    progressCheck_.start();
    return Result::Ok();
}

// ---- the graph's events and the stop ----

bool ConversionEngine::event(QEvent* e) {
    if (static_cast<int>(e->type()) != kGraphNotifyEventType) return QObject::event(e);
    OnGraphNotify();
    return true;
}

void ConversionEngine::OnGraphNotify() {
    GraphEvent event;
    while (Running() && job_.pEvent && job_.pEvent->GetEvent(event, 0).succeeded()) {
        const long code = event.code;
        std::string text = FailureNamingItsFile(event);
        (void)job_.pEvent->FreeEventParams(event);  // the event is a value; nothing can fail
        if (code == EC_COMPLETE) {
            OnGraphComplete();
        } else if (code == EC_ERRORABORT) {
            // A conversion that cannot go on ends now, and says why; it is
            // never "Done", and the output stays as it was.
            failureText_ = text;
            End(Outcome::Failed);
        }
    }
}

std::uint64_t ConversionEngine::ExpectedFrames() const {
    return OutputFrames(request_.source.endTime - request_.source.startTime, writtenFormat_.nSamplesPerSec);
}

std::optional<std::string> ConversionEngine::ShortfallText(const std::string& rest) const {
    const std::uint64_t written = progress_ ? progress_->FramesDelivered() : 0;
    const std::uint64_t expected = ExpectedFrames();
    if (written >= expected || writtenFormat_.nSamplesPerSec == 0) return std::nullopt;
    const auto at = [&](std::uint64_t frames) {
        return HmsText(MediaTime(frames * kUnitsPerSecond / writtenFormat_.nSamplesPerSec));
    };
    return "The sound of " + request_.source.audioPath + " ends after " + at(written) + " of the selection's " +
           at(expected) + "; " + rest;
}

void ConversionEngine::OnGraphComplete() {
    // The writer has made up a descriptor's stream to its stated length by now.
    if (writer_) paddedFrames_ = writer_->PaddedFrames();
    if (outcome_ == Outcome::Stopping) {
        EndCommitted(Outcome::Stopped);
        return;
    }
    if (WritesDescriptor()) {
        // The header is on its way with the selection's length: the rest is
        // silence, and said so.
        if (auto shortfall = ShortfallText(std::to_string(paddedFrames_) + " frames of silence make up the rest."))
            warningText_ = std::move(*shortfall);
        EndCommitted(Outcome::Done);
        return;
    }
    // A source that ended early, or delivered nothing, is not a whole
    // conversion: it fails, and the output stays as it was.
    if (auto shortfall = ShortfallText("the file is cut short or damaged.")) {
        failureText_ = std::move(*shortfall);
        End(Outcome::Failed);
        return;
    }
    EndCommitted(Outcome::Done);
}

std::string ConversionEngine::FailureNamingItsFile(const GraphEvent& event) const {
    // The writer's failures are the output's; everything else is the source's.
    const std::string& file = event.source == kWriterName ? request_.outputPath : request_.source.audioPath;
    if (event.text.find(file) != std::string::npos) return event.text;
    return file + ": " + event.text;
}

void ConversionEngine::CheckProgress() {
    if (outcome_ != Outcome::Running || !progress_) return;
    const std::uint64_t delivered = progress_->FramesDelivered();
    stalledSeconds_ = delivered == lastDelivered_ ? stalledSeconds_ + 1 : 0;
    lastDelivered_ = delivered;
    if (stalledSeconds_ < request_.stallSeconds) return;
    failureText_ = "The conversion of " + request_.source.audioPath + " made no progress for " +
                   std::to_string(stalledSeconds_) + " seconds; the file may be damaged.";
    progressCheck_.stop();
    // The stalled graph may never come down to remove its part file, and the
    // program may end first: the part goes now (its writer only holds it open).
    if (writer_) {
        if (const std::string part = writer_->PartFileName(); !part.empty()) ::unlink(part.c_str());
    }
    ReleaseJob(true);
    End(Outcome::Failed);
}

void ConversionEngine::Stop() {
    if (outcome_ != Outcome::Running) return;
    outcome_ = Outcome::Stopping;
    auto graph = std::dynamic_pointer_cast<FilterGraph>(job_.pControl);
    // Nothing written yet: there is nothing to drain, the file only needs its header.
    const bool anything = progress_ && progress_->FramesDelivered() > 0;
    if (!graph || !job_.pRenderEngine || !anything) {
        FinishDrain();
        return;
    }
    if (!graph->HasEnded()) (void)job_.pRenderEngine->EndStreams();  // the drain's end is what is waited for
    // The end of the streams arrives as EC_COMPLETE; a graph that cannot get
    // there in time is cut off and its file finished by hand.
    drainTimeout_.start();
}

void ConversionEngine::FinishDrain() {
    if (outcome_ != Outcome::Stopping) return;
    if (Result r = CommitCutOffPart(); r.failed()) {
        failureText_ = r.text();
        End(Outcome::Failed);
        return;
    }
    End(Outcome::Stopped);
}

Result ConversionEngine::CommitCutOffPart() {
    if (!writer_) return Result(E_UNEXPECTED, "The conversion has no writer.");
    // A descriptor's bytes are out: its stream simply ends here.
    if (WritesDescriptor()) {
        if (job_.pControl) (void)job_.pControl->Stop();
        return Result::Ok();
    }
    writer_->KeepPartOnStop();
    if (job_.pControl) (void)job_.pControl->Stop();  // a graph always goes down
    const std::string part = writer_->PartFileName();
    // Channels never negotiated: nothing was written, and an empty file
    // gets the header of the group's default channels.
    WaveFormatEx header = WrittenFormat();
    if (header.nChannels == kSourceChannels) header = WithChannels(header, DefaultGroupFormat().nChannels);
    if (part.empty() || !FinishWavFile(part, header))
        return Result(E_FAIL, "The part written before the stop could not be finished.");
    return writer_->Commit();
}

void ConversionEngine::EndCommitted(Outcome outcome) {
    // Ended without an error: the new file takes the output's place.
    if (Result r = writer_ ? writer_->Commit() : Result(E_UNEXPECTED, "The conversion has no writer."); r.failed()) {
        failureText_ = r.text();
        outcome = Outcome::Failed;
    }
    End(outcome);
}

void ConversionEngine::End(Outcome outcome) {
    drainTimeout_.stop();
    ReleaseJob();
    outcome_ = outcome;
    emit ended();
}

void ConversionEngine::ReleaseJob(bool stalled) {
    drainTimeout_.stop();
    progressCheck_.stop();
    if (job_.pEvent) (void)job_.pEvent->SetNotifyWindow(nullptr, 0, 0);  // stopping notifications cannot fail
    // The share written, the frames and the channels stay readable after the release.
    lastPercent_ = ProgressPercent();
    lastFrames_ = FramesWritten();
    writtenFormat_ = WrittenFormat();
    if (stalled) {
        // What the graph holds goes with it; its writer removes its part file
        // once the graph is down, whenever that is.
        std::thread([job = std::move(job_), writer = std::move(writer_), progress = std::move(progress_)]() mutable {
            if (job.pControl) (void)job.pControl->Stop();
            if (job.pRenderEngine) (void)job.pRenderEngine->ScrapIt();
        }).detach();
        job_ = {};
        return;
    }
    if (job_.pControl) (void)job_.pControl->Stop();
    job_.pEvent.reset();
    job_.pControl.reset();
    if (job_.pRenderEngine) (void)job_.pRenderEngine->ScrapIt();
    job_.pRenderEngine.reset();
    job_.pTimeline.reset();
    writer_.reset();
    progress_.reset();
}

std::uint64_t ConversionEngine::FramesWritten() const {
    return progress_ ? std::min(progress_->FramesDelivered(), ExpectedFrames()) : lastFrames_;
}

WaveFormatEx ConversionEngine::WrittenFormat() const {
    if (writtenFormat_.nChannels != kSourceChannels || !progress_) return writtenFormat_;
    const std::uint16_t channels = progress_->OutputChannels();
    return channels ? WithChannels(writtenFormat_, channels) : writtenFormat_;
}

int ConversionEngine::ProgressPercent() const {
    if (!progress_) return lastPercent_;
    const std::uint64_t expected = ExpectedFrames();
    if (expected == 0) return 100;
    const std::uint64_t done = std::min(progress_->FramesDelivered(), expected);
    return static_cast<int>(done * 100 / expected);
}

}  // namespace veltrano
