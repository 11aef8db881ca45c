#include "convert/ConversionEngine.h"

#include "convert/ConvertChecks.h"
#include "convert/WavFinish.h"
#include "platform/Logging.h"

#include <algorithm>

namespace veltrano {

ConversionEngine::ConversionEngine(ConversionHost host) : host_(std::move(host)) {}

ConversionEngine::~ConversionEngine() {
    if (job.pEvent) job.pEvent->SetNotifyWindow(nullptr, 0, 0);
    ReleaseJob();
}

void ConversionEngine::SetOutput(const std::string& path, const OutputWaveFormat& format) {
    outputPath_ = path;
    format_ = format;
}

void ConversionEngine::AppBox(const std::string& text) {
    if (host_.boxes) host_.boxes->AppBox(text);
}

void ConversionEngine::ErrorTextBox(const Result& r) {
    char text[kMaxErrorTextLength + 1];
    GetErrorText(r, text, sizeof text);
    if (host_.errorText && host_.errorTextCapacity) GetErrorText(r, host_.errorText, host_.errorTextCapacity);
    AppBox(text);
}

// ---- the timeline ----

Result ConversionEngine::CreateTimeline() {
    // 1. A new timeline (nothing is reused from an earlier conversion).
    job.pTimeline = std::make_shared<Timeline>();
    if (!job.pTimeline) {
        if (host_.boxes) host_.boxes->DialogBox("Error", "Could not create timeline");
        return E_OUTOFMEMORY;
    }
    // 2. The audio group, when there is an audio source; its result is not looked at.
    if (source_.audioCount > 0) AddAudioGroup(*job.pTimeline);
    // 3. The source must still be there; the result is not looked at.
    ValidateSourceNames(*job.pTimeline);
    return S_OK;
}

Result ConversionEngine::AddAudioGroup(Timeline& timeline) {
    std::shared_ptr<TimelineObj> pAudioGroupObj;
    if (Result r = timeline.CreateEmptyNode(pAudioGroupObj, TIMELINE_MAJOR_TYPE_GROUP); r.failed()) {
        AppBox("Could not create pAudioGroupObj");
        return r;
    }
    // The group is given its major type only; the wave format is set downstream.
    AmMediaType mt;
    mt.majortype = MajorType::Audio;
    mt.bFixedSizeSamples = true;
    mt.bTemporalCompression = false;
    mt.lSampleSize = 1;
    if (Result r = pAudioGroupObj->SetMediaType(mt); r.failed()) {
        AppBox("Could not set AudioGroupType");
        return r;
    }
    if (Result r = timeline.AddGroup(pAudioGroupObj); r.failed()) {
        AppBox("Could not add audio group");
        return r;
    }
    AddSourceTrack(timeline, pAudioGroupObj, source_.audioPath);
    return S_OK;
}

Result ConversionEngine::AddSourceTrack(Timeline& timeline, const std::shared_ptr<TimelineObj>& group,
                                        std::string path) {
    std::shared_ptr<TimelineObj> pTrack3Obj;
    if (Result r = timeline.CreateEmptyNode(pTrack3Obj, TIMELINE_MAJOR_TYPE_TRACK); r.failed()) {
        AppBox("Could not create pTrack3Obj");
        return r;
    }
    if (Result r = group->VTrackInsBefore(pTrack3Obj, -1); r.failed()) {
        AppBox("Could not insert pTrack3Obj");
        return r;
    }
    const MediaTime start = source_.startTime;
    const MediaTime end = source_.endTime;
    const MediaTime length = end - start;
    std::shared_ptr<TimelineObj> pSource3Obj;
    if (Result r = timeline.CreateEmptyNode(pSource3Obj, TIMELINE_MAJOR_TYPE_SOURCE); r.failed()) {
        AppBox("Could not create the pSource3Obj");
        return r;
    }
    pSource3Obj->SetStartStop(0, length);
    if (pSource3Obj->SetMediaTimes(start, end).failed()) {
        AppBox("Could not set audio start and eng time!");
        return E_FAIL;
    }
    if (pSource3Obj->SetMediaName(path).failed()) {
        AppBox("Could not configure pSource3Src");
        return E_FAIL;
    }
    if (Result r = pTrack3Obj->SrcAdd(pSource3Obj); r.failed()) {
        AppBox("Could not add pSource3Obj to track");
        return r;
    }
    return S_OK;
}

Result ConversionEngine::ValidateSourceNames(Timeline& timeline) {
    // Check, ask (here: tell) and replace; nothing can stand in for a lost file.
    return timeline.ValidateSourceNames(SFN_VALIDATEF_CHECK | SFN_VALIDATEF_POPUP | SFN_VALIDATEF_REPLACE,
                                        [this](const std::string& text) { AppBox(text); });
}

// ---- the render and write graph ----

Result ConversionEngine::ConnectRenderEngine(const std::shared_ptr<Timeline>& timeline) {
    // 1.
    if (Result r = CreateRenderEngine(job.pRenderEngine); r.failed()) {
        if (host_.boxes) host_.boxes->DialogBox("Error", "Could not create pRenderEngine");
        return r;
    }
    // 2. Also when no timeline was made.
    if (Result r = job.pRenderEngine->SetTimelineObject(timeline); r.failed()) {
        AppBox("Could not SetTimelineObject");
        return r;
    }
    // 3. Dynamic reconnection has no counterpart: the graph is built once and never rebuilt.
    // 4.
    if (Result r = job.pRenderEngine->ConnectFrontEnd(); r.failed()) {
        qCWarning(lcConvert) << "front end:" << r.text().c_str();
        AppBox("Could not ConnectFrontEnd");
        return r;
    }
    // 5. The output path as the writer takes it (UTF-8 throughout).
    const std::string filename = outputPath_;
    // 6.
    DisablePreviewMode(*timeline);
    // 7.
    BuildWriteGraph(*job.pRenderEngine, filename);
    return S_OK;
}

void ConversionEngine::DisablePreviewMode(Timeline& timeline) {
    long groups = 0;
    timeline.GetGroupCount(groups);
    for (long i = 0; i < groups; ++i) {
        std::shared_ptr<TimelineObj> group;
        if (timeline.GetGroup(group, i).succeeded()) group->SetPreviewMode(false);
    }
}

Pin ConversionEngine::GetPin(const Filter& filter, int n, PinDirection direction) {
    std::vector<Pin> pins;
    if (filter.EnumPins(pins).failed()) return {};
    for (const Pin& pin : pins) {
        if (pin.QueryDirection() != direction) continue;
        if (n == 0) return pin;
        --n;
    }
    return {};
}

Result ConversionEngine::BuildWriteGraph(RenderEngine& engine, const std::string& filename) {
    // Every local is released on every way out (step 26) by its handle.
    // 1.
    std::unique_ptr<CaptureGraphBuilder> pBuilder;
    if (Result r = CreateCaptureGraphBuilder(pBuilder); r.failed()) {
        AppBox("Could not create ICaptureGraphBuilder2");
        return r;
    }
    // 2.
    std::shared_ptr<Timeline> timeline;
    if (Result r = engine.GetTimelineObject(timeline); r.failed()) return r;
    // 3.
    std::shared_ptr<FilterGraph> pGraph;
    if (Result r = engine.GetFilterGraph(pGraph); r.failed()) return r;
    // 4.
    long Groups = 0;
    timeline->GetGroupCount(Groups);
    if (Groups == 0) {
        AppBox("Could not GetGroupCount( &Groups )");
        return E_INVALIDARG;
    }
    // 5.
    if (Result r = pBuilder->SetFiltergraph(pGraph); r.failed()) {
        AppBox("Error pBuilder->SetFiltergraph( pGraph )");
        return r;
    }
    // 6.
    Filter pMux;
    if (Result r = CreateWavMultiplexer(pMux); r.failed()) {
        if (host_.boxes)
            host_.boxes->DialogBox("Error",
                                   "The program does not detect its file writer. Please install the program again!");
        return r;
    }
    // 7.
    if (Result r = pGraph->AddFilter(pMux, "Wav File Mux"); r.failed()) {
        AppBox("pGraph->AddFilter( Wav, File Mux )");
        return r;
    }
    // 8.
    std::shared_ptr<FileWriter> pWriter;
    if (Result r = CreateFileWriter(pWriter); r.failed()) {
        AppBox("failed to create wav writer!");
        return r;
    }
    // 9.
    if (Result r = pWriter->SetMode(AM_FILE_OVERWRITE); r.failed()) {
        AppBox("hr = pWriter->SetMode(AM_FILE_OVERWRITE);");
        return r;
    }
    // 10.
    if (Result r = pWriter->SetFileName(filename); r.failed()) {
        AppBox("hr = pWriter->SetFileName( Filename, NULL );");
        return r;
    }
    // 11.
    if (Result r = pGraph->AddFilter(pWriter->BaseFilter(), "Writer"); r.failed()) {
        AppBox("hr = pGraph->AddFilter( pWriterBase, Writer );");
        return r;
    }
    // 12.
    std::shared_ptr<AcmWrapper> pACM;
    if (Result r = CreateAcmWrapper(pACM); r.failed()) {
        if (host_.boxes)
            host_.boxes->DialogBox(
                "Error", "The program does not detect its file ACM WRAPPER. Please install the latest DirectX!");
        return r;
    }
    // 13.
    if (Result r = pGraph->AddFilter(pACM->BaseFilter(), "Wave Format"); r.failed()) {
        AppBox("pGraph->AddFilter( pACM, Wave Format)");
        return r;
    }
    // 14. Group 0 only, whatever Groups says.
    for (long g = 0; g < 1; ++g) {
        Pin pPin;
        const Result pin = engine.GetGroupOutputPin(g, pPin);
        if (pin.failed()) {
            AppBox("Could not GetGroupOutputPin( g, &pPin )");
            return pin;
        }
        if (!pPin) return S_FALSE;
        if (Result r = pBuilder->RenderStream(pPin, pACM->BaseFilter(), pMux); r.failed()) {
            qCWarning(lcConvert) << "render stream:" << r.text().c_str();
            AppBox("Could not RenderStream( NULL, NULL, pPin, pACM, pMux )");
            return r;
        }
    }
    writtenFormat_ = DefaultGroupFormat();
    // 15.
    std::shared_ptr<StreamConfig> pASC;
    if (pBuilder->FindInterface(FindDirection::LOOK_UPSTREAM_ONLY, MajorType::Audio, pMux, pASC).failed()) {
        AppBox("can not FindInterface");
    } else {
        // 16.
        WaveFormatEx pmt;
        if (pASC->GetFormat(pmt).succeeded()) {
            writtenFormat_ = pmt;
            pmt.nBlockAlign = format_.nBlockAlign;
            pmt.nChannels = format_.nChannels;
            pmt.wBitsPerSample = format_.wBitsPerSample;
            pmt.nSamplesPerSec = format_.nSamplesPerSec;
            pmt.nAvgBytesPerSec = format_.nAvgBytesPerSec;
            if (Result r = pASC->SetFormat(pmt); r.failed()) {
                AppBox("can not pASC->SetFormat(pmt)");
                ErrorTextBox(r);
            } else {
                writtenFormat_ = pmt;
            }
        }
        // 17. The format block is a value here; there is nothing to free.
    }
    // 18.
    pASC.reset();
    // The header is chosen before the first sample, for the frames the selection yields.
    pWriter->SetExpectedFrames(OutputFrames(source_.endTime - source_.startTime, writtenFormat_.nSamplesPerSec));
    const Filter pWriterBase = pWriter->BaseFilter();
    // 19.
    const Pin pMuxOut = GetPin(pMux, 0, PINDIR_OUTPUT);
    const Pin pWriterIn = GetPin(pWriterBase, 0, PINDIR_INPUT);
    if (!pMuxOut || !pWriterIn) return E_UNEXPECTED;
    // 20.
    if (Result r = pGraph->Connect(pMuxOut, pWriterIn); r.failed()) {
        AppBox("Could not pGraph->Connect( pMuxOut, pWriterIn )");
        return r;
    }
    // 21.-22. The graph is its own media control and event queue.
    job.pControl = pGraph;
    if (!job.pControl) {
        AppBox("Could not get pControl");
        return E_NOINTERFACE;
    }
    job.pEvent = std::shared_ptr<GraphEvents>(pGraph, &pGraph->Events());
    if (!job.pEvent) {
        AppBox("Could not get pEvent");
        return E_NOINTERFACE;
    }
    // 23.
    if (job.pEvent->SetNotifyWindow(host_.notifyTarget, kGraphNotifyEventType, 0).failed()) {
        AppBox("can not SetNotifyWindow!!!");
        return E_FAIL;
    }
    // 24.
    if (Result r = job.pControl->Run(); r.failed()) {
        AppBox("can not pControl->Run()!!!");
        ErrorTextBox(r);
        return r;
    }
    // 25.
    progress_ = pACM;
    writer_ = pWriter;
    running_ = true;
    if (host_.onRunning) host_.onRunning();
    return S_OK;
}

// ---- stopping ----

void ConversionEngine::ReleaseJob() {
    job.pEvent.reset();
    job.pControl.reset();
    if (writer_) committed_ = writer_->Committed();
    if (job.pRenderEngine) job.pRenderEngine->ScrapIt();
    job.pRenderEngine.reset();
    job.pTimeline.reset();
    writer_.reset();
    // The share written stays readable after the release.
    lastPercent_ = ProgressPercent();
    progress_.reset();
    running_ = false;
}

// What a stop that could not drain leaves: the writer's header stands ahead
// of the data it wrote. Made readable, it still replaces the output.
void ConversionEngine::FinishKeptPart() {
    const std::string part = writer_->PartFileName();
    if (part.empty() || !FinishWavFile(part, writtenFormat_)) {
        commitFailure_ = "The part written before the stop could not be finished.";
        return;
    }
    if (Result r = writer_->Commit(); r.failed()) commitFailure_ = r.text();
}

void ConversionEngine::StopAndRelease() {
    if (job.pControl) {
        auto graph = std::dynamic_pointer_cast<FilterGraph>(job.pControl);
        bool ended = false;
        bool failed = false;
        // Nothing written yet: there is nothing to drain, the file only needs its header.
        const bool anything = progress_ && progress_->FramesDelivered() > 0;
        if (running_ && graph && job.pRenderEngine && (anything || graph->HasEnded())) {
            long code = 0;
            if (!graph->HasEnded()) job.pRenderEngine->EndStreams();
            const Result r = graph->WaitForCompletion(kDrainTimeoutMs, code);
            ended = r.succeeded();
            failed = r.failed() && r != E_ABORT;
            if (failed) commitFailure_ = r.text();
        }
        // Ended without an error, the new file takes the output's place;
        // failed, the writer removes it at the stop.
        if (running_ && writer_ && ended) {
            if (Result r = writer_->Commit(); r.failed()) commitFailure_ = r.text();
        }
        const bool finishHere = running_ && writer_ && !ended && !failed;
        if (finishHere) writer_->KeepPartOnStop();
        job.pControl->Stop();
        if (finishHere) FinishKeptPart();
    }
    if (job.pEvent) job.pEvent->SetNotifyWindow(nullptr, 0, 0);
    ReleaseJob();
}

void ConversionEngine::ReleaseAfterFailure() {
    // The writer removes its part file when the graph stops without an end.
    if (job.pControl) job.pControl->Stop();
    if (job.pEvent) job.pEvent->SetNotifyWindow(nullptr, 0, 0);
    ReleaseJob();
}

int ConversionEngine::ProgressPercent() const {
    if (!progress_) return lastPercent_;
    const std::uint64_t expected = OutputFrames(source_.endTime - source_.startTime, writtenFormat_.nSamplesPerSec);
    if (expected == 0) return 100;
    const std::uint64_t done = std::min(progress_->FramesDelivered(), expected);
    return static_cast<int>(done * 100 / expected);
}

}  // namespace veltrano
