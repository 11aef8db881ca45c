#include "media/FilterGraphGst.h"

#include "media/Logging.h"

namespace veltrano {

namespace {

GQuark FilterQuark() {
    static const GQuark q = g_quark_from_static_string("veltrano-filter");
    return q;
}

void DeleteWeakFilter(gpointer p) { delete static_cast<std::weak_ptr<Filter::Impl>*>(p); }

gsth::Pad FirstFreePad(GstElement* element, GstPadDirection direction) {
    gsth::Iterator it = gsth::Iterator::Adopt(direction == GST_PAD_SINK ? gst_element_iterate_sink_pads(element)
                                                                        : gst_element_iterate_src_pads(element));
    GValue item = G_VALUE_INIT;
    gsth::Pad found;
    bool done = false;
    while (!done && !found) {
        switch (gst_iterator_next(it.get(), &item)) {
        case GST_ITERATOR_OK: {
            auto* pad = GST_PAD(g_value_get_object(&item));
            if (!gst_pad_is_linked(pad)) found = gsth::Pad::Retain(pad);
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC: gst_iterator_resync(it.get()); break;
        default: done = true; break;
        }
    }
    g_value_unset(&item);
    if (found) return found;
    // A multiplexer's inputs are made on request.
    if (direction == GST_PAD_SINK) {
        GstElementClass* klass = GST_ELEMENT_GET_CLASS(element);
        for (GList* l = gst_element_class_get_pad_template_list(klass); l; l = l->next) {
            auto* templ = static_cast<GstPadTemplate*>(l->data);
            if (GST_PAD_TEMPLATE_DIRECTION(templ) == GST_PAD_SINK &&
                GST_PAD_TEMPLATE_PRESENCE(templ) == GST_PAD_REQUEST)
                return gsth::Pad::Adopt(gst_element_request_pad(element, templ, nullptr, nullptr));
        }
    }
    return {};
}

Result LinkPads(GstPad* out, GstPad* in) {
    const GstPadLinkReturn r = gst_pad_link(out, in);
    if (r == GST_PAD_LINK_OK) return Result(S_OK);
    return Result(E_FAIL, std::string("The pins cannot be connected: ") + gst_pad_link_get_name(r) + ".");
}

}  // namespace

Filter WrapFilter(std::shared_ptr<Filter::Impl> impl) {
    g_object_set_qdata_full(G_OBJECT(impl->element.get()), FilterQuark(), new std::weak_ptr<Filter::Impl>(impl),
                            &DeleteWeakFilter);
    return Filter(std::move(impl));
}

Filter WrapElement(gsth::Element element) {
    return WrapFilter(std::make_shared<Filter::Impl>(std::move(element)));
}

std::shared_ptr<Filter::Impl> FilterOfElement(GstElement* element) {
    auto* weak = static_cast<std::weak_ptr<Filter::Impl>*>(g_object_get_qdata(G_OBJECT(element), FilterQuark()));
    return weak ? weak->lock() : nullptr;
}

Pin WrapPad(gsth::Pad pad) {
    if (!pad) return {};
    auto impl = std::make_shared<Pin::Impl>();
    impl->pad = std::move(pad);
    return Pin(std::move(impl));
}

void DumpGraph(GstElement* pipeline, const char* name) {
    GST_DEBUG_BIN_TO_DOT_FILE_WITH_TS(GST_BIN(pipeline), GST_DEBUG_GRAPH_SHOW_ALL, name);
}

PinDirection Pin::QueryDirection() const {
    return GST_PAD_DIRECTION(impl_->pad.get()) == GST_PAD_SRC ? PINDIR_OUTPUT : PINDIR_INPUT;
}

bool Pin::IsConnected() const { return impl_ && gst_pad_is_linked(impl_->pad.get()); }

std::string Pin::Name() const {
    if (!impl_) return {};
    gsth::String n = gsth::String::Adopt(gst_pad_get_name(impl_->pad.get()));
    return n ? n.get() : "";
}

Result Filter::EnumPins(std::vector<Pin>& pins) const {
    pins.clear();
    if (!impl_) return Result(E_UNEXPECTED);
    gsth::Iterator it = gsth::Iterator::Adopt(gst_element_iterate_pads(impl_->element.get()));
    GValue item = G_VALUE_INIT;
    for (bool done = false; !done;) {
        switch (gst_iterator_next(it.get(), &item)) {
        case GST_ITERATOR_OK:
            pins.push_back(WrapPad(gsth::Pad::Retain(GST_PAD(g_value_get_object(&item)))));
            g_value_reset(&item);
            break;
        case GST_ITERATOR_RESYNC:
            pins.clear();
            gst_iterator_resync(it.get());
            break;
        case GST_ITERATOR_ERROR: g_value_unset(&item); return Result(E_FAIL);
        case GST_ITERATOR_DONE: done = true; break;
        }
    }
    g_value_unset(&item);
    return Result(S_OK);
}

std::string Filter::Name() const {
    if (!impl_) return {};
    gsth::String n = gsth::String::Adopt(gst_element_get_name(impl_->element.get()));
    return n ? n.get() : "";
}

std::shared_ptr<FilterGraph> FilterGraph::Create(const std::string& name) {
    auto impl = std::make_unique<Impl>();
    impl->pipeline = gsth::Element::Adopt(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(name.c_str()))));
    impl->events = MakeGraphEvents(impl->pipeline.get());
    return std::make_shared<FilterGraph>(std::move(impl));
}

FilterGraph::FilterGraph(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FilterGraph::~FilterGraph() {
    // Streaming threads end before the event queue goes.
    gst_element_set_state(impl_->pipeline.get(), GST_STATE_NULL);
    impl_->events.reset();
}

Result FilterGraph::AddFilter(const Filter& filter, const std::string& name) {
    if (!filter) return Result(E_INVALIDARG);
    GstElement* e = filter.impl()->element.get();
    if (GST_OBJECT_PARENT(e)) return Result(E_UNEXPECTED, "The filter is in a graph already.");
    if (!name.empty() && !gst_object_set_name(GST_OBJECT(e), name.c_str()))
        return Result(E_FAIL, "The filter cannot take the name " + name + ".");
    if (!gst_bin_add(GST_BIN(impl_->pipeline.get()), e))
        return Result(E_FAIL, "The graph already holds a filter named " + name + ".");
    return Result(S_OK);
}

Result FilterGraph::Connect(const Pin& out, const Pin& in) {
    if (!out || !in) return Result(E_INVALIDARG);
    if (out.QueryDirection() != PINDIR_OUTPUT || in.QueryDirection() != PINDIR_INPUT) return Result(E_INVALIDARG);
    return LinkPads(out.impl()->pad.get(), in.impl()->pad.get());
}

Result FilterGraph::Run() {
    GstElement* p = impl_->pipeline.get();
    if (gst_element_set_state(p, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) return Result(S_OK);
    DumpGraph(p, "veltrano-run-failed");
    GraphEvent error;
    std::string text = impl_->events->impl()->Take(error, 0, {EC_ERRORABORT}) ? error.text : std::string();
    gst_element_set_state(p, GST_STATE_NULL);
    if (text.empty()) text = "The graph could not be started.";
    return Result(E_FAIL, text);
}

Result FilterGraph::Stop() {
    return Result(gst_element_set_state(impl_->pipeline.get(), GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK);
}

Result FilterGraph::WaitForCompletion(int timeoutMs, long& eventCode) {
    eventCode = 0;
    std::string text;
    if (!impl_->events->impl()->WaitForEnd(timeoutMs, eventCode, text)) return Result(E_ABORT);
    if (eventCode == EC_COMPLETE) return Result(S_OK);
    return Result(E_FAIL, text.empty() ? "The graph stopped on an error." : text);
}

bool FilterGraph::HasEnded() const { return impl_->events->impl()->Ended(); }

GraphEvents& FilterGraph::Events() { return *impl_->events; }

Result CreateCaptureGraphBuilder(std::unique_ptr<CaptureGraphBuilder>& builder) {
    builder = std::make_unique<CaptureGraphBuilder>();
    return Result(S_OK);
}

Result CaptureGraphBuilder::SetFiltergraph(std::shared_ptr<FilterGraph> graph) {
    if (!graph) return Result(E_INVALIDARG);
    graph_ = std::move(graph);
    return Result(S_OK);
}

Result CaptureGraphBuilder::RenderStream(const Pin& source, const Filter& intermediate, const Filter& sink) {
    if (!graph_ || !source || !sink) return Result(E_INVALIDARG);
    GstPad* out = source.impl()->pad.get();
    if (intermediate) {
        gsth::Pad in = FirstFreePad(intermediate.impl()->element.get(), GST_PAD_SINK);
        if (!in) return Result(E_FAIL, "The converter has no free input.");
        if (Result r = LinkPads(out, in.get()); r.failed()) return r;
        gsth::Pad next = FirstFreePad(intermediate.impl()->element.get(), GST_PAD_SRC);
        if (!next) return Result(E_FAIL, "The converter has no free output.");
        gsth::Pad sinkIn = FirstFreePad(sink.impl()->element.get(), GST_PAD_SINK);
        if (!sinkIn) return Result(E_FAIL, "The multiplexer has no free input.");
        return LinkPads(next.get(), sinkIn.get());
    }
    gsth::Pad sinkIn = FirstFreePad(sink.impl()->element.get(), GST_PAD_SINK);
    if (!sinkIn) return Result(E_FAIL, "The multiplexer has no free input.");
    return LinkPads(out, sinkIn.get());
}

Result CaptureGraphBuilder::FindInterface(FindDirection, MajorType type, const Filter& from,
                                          std::shared_ptr<StreamConfig>& config) {
    config.reset();
    if (!from || type != MajorType::Audio) return Result(E_INVALIDARG);
    // Walk upstream, one input at a time, from the filter's inputs.
    gsth::Element current = gsth::Element::Retain(from.impl()->element.get());
    for (int depth = 0; current && depth < 32; ++depth) {
        gsth::Pad in = gsth::Pad::Adopt(gst_element_get_static_pad(current.get(), "sink"));
        if (!in) {
            gsth::Iterator it = gsth::Iterator::Adopt(gst_element_iterate_sink_pads(current.get()));
            GValue item = G_VALUE_INIT;
            if (gst_iterator_next(it.get(), &item) == GST_ITERATOR_OK)
                in = gsth::Pad::Retain(GST_PAD(g_value_get_object(&item)));
            g_value_unset(&item);
        }
        if (!in) break;
        gsth::Pad peer = gsth::Pad::Adopt(gst_pad_get_peer(in.get()));
        if (!peer) break;
        current = gsth::Element::Adopt(gst_pad_get_parent_element(peer.get()));
        if (GST_IS_GHOST_PAD(peer.get()) && !current) break;
        if (!current) break;
        if (auto impl = FilterOfElement(current.get())) {
            if (auto c = impl->streamConfig()) {
                config = std::move(c);
                return Result(S_OK);
            }
        }
    }
    return Result(E_NOINTERFACE, "No converter with a format interface lies upstream.");
}

}  // namespace veltrano
