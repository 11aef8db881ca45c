#include "media/RenderEngine.h"

#include "media/FilterGraphGst.h"
#include "media/FrontEndBuilder.h"

#include <gst/gst.h>

#include <thread>

namespace veltrano {

namespace {

Result FirstSourceOf(const std::shared_ptr<TimelineObj>& group, SourceSpec& out) {
    for (const auto& source : SourcesOfGroup(*group)) {
        if (source->GetMediaName(out.path).succeeded() && source->GetMediaTimes(out.mediaStart, out.mediaStop).succeeded())
            return Result(S_OK);
    }
    return Result(E_INVALIDARG, "The audio group holds no source.");
}

}  // namespace

struct RenderEngine::Impl {
    std::shared_ptr<Timeline> timeline;
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    SourceAnalysisRef analysis;
    int soundStream = 0;
    std::shared_ptr<FilterGraph> graph;
    std::vector<FrontEndRef> groups;  // every branch of every group
    std::vector<Filter> groupFilters;
};

RenderEngine::RenderEngine() : impl_(std::make_unique<Impl>()) {}
RenderEngine::~RenderEngine() { (void)ScrapIt(); }  // tearing down cannot fail

Result CreateRenderEngine(std::unique_ptr<RenderEngine>& engine) {
    engine = std::make_unique<RenderEngine>();
    return Result(S_OK);
}

Result RenderEngine::SetTimelineObject(std::shared_ptr<Timeline> timeline) {
    if (!timeline) return Result(E_INVALIDARG, "There is no timeline to render.");
    impl_->timeline = std::move(timeline);
    return Result(S_OK);
}

void RenderEngine::SetCores(int cores) { impl_->cores = cores; }

void RenderEngine::SetSourceAnalysis(SourceAnalysisRef analysis) { impl_->analysis = std::move(analysis); }
void RenderEngine::SetSoundStream(int stream) { impl_->soundStream = stream; }

Result RenderEngine::GetTimelineObject(std::shared_ptr<Timeline>& timeline) const {
    timeline = impl_->timeline;
    return timeline ? Result(S_OK) : Result(E_UNEXPECTED);
}

Result RenderEngine::ConnectFrontEnd() {
    if (!impl_->timeline) return Result(E_UNEXPECTED, "There is no timeline to render.");
    (void)ScrapIt();
    auto graph = FilterGraph::Create("conversion");
    long count = 0;
    (void)impl_->timeline->GetGroupCount(count);  // counting cannot fail
    std::vector<FrontEndRef> groups;
    std::vector<Filter> filters;
    for (long g = 0; g < count; ++g) {
        std::shared_ptr<TimelineObj> group;
        AmMediaType mt;
        if (impl_->timeline->GetGroup(group, g).failed() || group->GetMediaType(mt).failed()) continue;
        if (mt.majortype != MajorType::Audio) return Result(E_NOINTERFACE, "Only audio groups can be rendered.");
        // Preview mode would let a group drop samples to keep pace with a
        // clock; this graph runs without one, so every sample is delivered.
        SourceSpec spec;
        if (Result r = FirstSourceOf(group, spec); r.failed()) return r;
        spec.cores = impl_->cores;
        spec.analysis = impl_->analysis;
        spec.soundStream = impl_->soundStream;
        std::vector<FrontEndRef> branches;
        Filter filter;
        if (Result r = BuildGroup(spec, branches, filter); r.failed()) return r;
        if (Result r = graph->AddFilter(filter, "Audio Group " + std::to_string(g)); r.failed()) return r;
        for (FrontEndRef& fe : branches) groups.push_back(std::move(fe));
        filters.push_back(std::move(filter));
    }
    impl_->graph = std::move(graph);
    impl_->groups = std::move(groups);
    impl_->groupFilters = std::move(filters);
    return Result(S_OK);
}

Result RenderEngine::GetFilterGraph(std::shared_ptr<FilterGraph>& graph) const {
    graph = impl_->graph;
    return graph ? Result(S_OK) : Result(E_UNEXPECTED, "The front end has not been connected.");
}

Result RenderEngine::GetGroupOutputPin(long group, Pin& pin) const {
    pin = Pin();
    if (group < 0 || static_cast<std::size_t>(group) >= impl_->groupFilters.size()) return Result(S_FALSE);
    GstElement* bin = impl_->groupFilters[static_cast<std::size_t>(group)].impl()->element.get();
    pin = WrapPad(gsth::Pad::Adopt(gst_element_get_static_pad(bin, "src")));
    return pin ? Result(S_OK) : Result(S_FALSE);
}

Result RenderEngine::EndStreams() {
    for (const FrontEndRef& fe : impl_->groups) {
        fe->endRequested.store(true);
        // Branches end on their own at their next buffer: one waiting for
        // its turn may hold its queue, and an end sent in would wait on it.
        if (fe->branches == 1) gst_pad_send_event(fe->queueSink, gst_event_new_eos());
    }
    return Result(S_OK);
}

Result RenderEngine::ScrapIt() {
    if (impl_->graph) (void)impl_->graph->Stop();  // a graph going down has nothing to report
    impl_->groupFilters.clear();
    impl_->groups.clear();
    impl_->graph.reset();
    return Result(S_OK);
}

}  // namespace veltrano
