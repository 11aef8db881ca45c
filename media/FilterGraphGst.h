#pragma once
// platform/-internal: what the graph-building types hold.

#include "media/FilterGraph.h"
#include "media/GraphEventsGst.h"
#include "media/GstHandles.h"

#include <memory>

namespace veltrano {

struct Pin::Impl {
    gsth::Pad pad;
};

struct Filter::Impl : std::enable_shared_from_this<Filter::Impl> {
    explicit Impl(gsth::Element e) : element(std::move(e)) {}
    virtual ~Impl() = default;
    virtual std::shared_ptr<StreamConfig> streamConfig() { return nullptr; }
    gsth::Element element;
};

struct FilterGraph::Impl {
    gsth::Element pipeline;
    std::unique_ptr<GraphEvents> events;
};

// Wraps an element as a filter and marks the element so that the filter can
// be found from it (FindInterface walks elements).
Filter WrapFilter(std::shared_ptr<Filter::Impl> impl);
Filter WrapElement(gsth::Element element);
// The filter an element belongs to, while one is held.
std::shared_ptr<Filter::Impl> FilterOfElement(GstElement* element);

Pin WrapPad(gsth::Pad pad);

// Writes the graph as a dot file when GST_DEBUG_DUMP_DOT_DIR is set.
void DumpGraph(GstElement* pipeline, const char* name);

}  // namespace veltrano
