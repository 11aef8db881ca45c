#pragma once
// The render engine: turns a timeline into the front end of a graph. For
// each audio group it reads the group's source, decodes only one sound
// stream (the first unless told) and offers the selection's audio, in
// timeline time, on the group's output pin. Everything behind that pin is
// the caller's.

#include "media/FilterGraph.h"
#include "media/SourceAnalysis.h"
#include "core/Result.h"
#include "media/Timeline.h"

#include <memory>

namespace veltrano {

class RenderEngine {
public:
    struct Impl;
    RenderEngine();
    ~RenderEngine();
    RenderEngine(const RenderEngine&) = delete;
    RenderEngine& operator=(const RenderEngine&) = delete;

    Result SetTimelineObject(std::shared_ptr<Timeline> timeline);
    Result GetTimelineObject(std::shared_ptr<Timeline>& timeline) const;
    // The cores the decoding may use; with two or more, a long selection in a
    // file that seeks to the exact sample is decoded in spans side by side.
    // The machine's cores unless told.
    void SetCores(int cores);
    // What measuring the source learned; used while the file is unchanged.
    void SetSourceAnalysis(SourceAnalysisRef analysis);
    // The sound stream each source decodes, counted from 0 in the order its
    // parser exposes them; 0, the default, takes the first one a decoder takes.
    void SetSoundStream(int stream);
    // Builds a new graph with one output pin per group of the timeline.
    Result ConnectFrontEnd();
    Result GetFilterGraph(std::shared_ptr<FilterGraph>& graph) const;
    // S_FALSE and no pin for a group index the front end does not have.
    Result GetGroupOutputPin(long group, Pin& pin) const;
    // Ends every group's stream where it stands, so that what is behind the
    // output pins finishes its work on what came so far.
    Result EndStreams();
    // Tears the graph down and forgets it.
    Result ScrapIt();

private:
    std::unique_ptr<Impl> impl_;
};

Result CreateRenderEngine(std::unique_ptr<RenderEngine>& engine);

}  // namespace veltrano
