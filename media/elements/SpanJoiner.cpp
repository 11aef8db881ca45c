#include "media/elements/SpanJoiner.h"

#include <gst/gst.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace veltrano {

namespace {

GstStaticPadTemplate kSinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink_%u", GST_PAD_SINK, GST_PAD_REQUEST, GST_STATIC_CAPS("audio/x-raw"));
GstStaticPadTemplate kSrcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-raw"));

struct JoinState {
    std::mutex mutex;
    std::condition_variable turn;
    std::vector<GstPad*> inputs;  // in the order of their spans
    std::vector<bool> ended;
    std::size_t current = 0;      // whose span goes out now
    bool flushing = false;
    bool endSent = false;
    bool streamStarted = false, capsSent = false, segmentSent = false;
};

struct VeltranoJoiner {
    GstElement parent;
    GstPad* src;
    JoinState* state;
};

struct VeltranoJoinerClass {
    GstElementClass parent_class;
};

GType veltrano_joiner_get_type();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // GLib's type macros are C
G_DEFINE_TYPE(VeltranoJoiner, veltrano_joiner, GST_TYPE_ELEMENT)
#pragma GCC diagnostic pop

VeltranoJoiner* Self(gpointer p) { return static_cast<VeltranoJoiner*>(p); }

std::size_t IndexOf(JoinState& s, GstPad* pad) {
    for (std::size_t i = 0; i < s.inputs.size(); ++i)
        if (s.inputs[i] == pad) return i;
    return s.inputs.size();
}

// With the lock held: the end goes out once the input whose turn it is has
// ended; inputs still waiting for their turn are released.
bool EndIsDue(JoinState& s) {
    if (s.endSent || s.inputs.empty() || !s.ended[s.current]) return false;
    s.endSent = true;
    s.turn.notify_all();
    return true;
}

GstFlowReturn Chain(GstPad* pad, GstObject* parent, GstBuffer* buf) {
    VeltranoJoiner* self = Self(parent);
    JoinState& s = *self->state;
    std::size_t me;
    {
        std::unique_lock lock(s.mutex);
        me = IndexOf(s, pad);
        s.turn.wait(lock, [&] { return s.flushing || s.endSent || s.current == me; });
        if (s.flushing || s.endSent) {
            gst_buffer_unref(buf);
            return s.flushing ? GST_FLOW_FLUSHING : GST_FLOW_EOS;
        }
    }
    // Only the input whose turn it is pushes, so the output stays in order.
    const bool lastOfSpan = GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_MARKER);
    const GstFlowReturn ret = gst_pad_push(self->src, buf);
    if (lastOfSpan) {
        bool end;
        {
            std::lock_guard lock(s.mutex);
            s.current = (s.current + 1) % s.inputs.size();
            s.turn.notify_all();
            end = EndIsDue(s);
        }
        if (end) gst_pad_push_event(self->src, gst_event_new_eos());
    }
    return ret;
}

// Stream start, format and segment are the same on every input: the first
// input's go out once. Ends are joined; everything else passes.
gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    VeltranoJoiner* self = Self(parent);
    JoinState& s = *self->state;
    std::unique_lock lock(s.mutex);
    const std::size_t me = IndexOf(s, pad);
    const GstEventType type = GST_EVENT_TYPE(event);
    if (s.endSent && type != GST_EVENT_FLUSH_START && type != GST_EVENT_FLUSH_STOP) {
        // The joined stream has ended (a stop ends it while the other input
        // goes on): what an input still says goes nowhere. Refused, a sticky
        // event (a tag) would fail the input's next buffer as an error
        // instead of as the end.
        gst_event_unref(event);
        return TRUE;
    }
    bool* once = nullptr;
    switch (type) {
    case GST_EVENT_STREAM_START: once = &s.streamStarted; break;
    case GST_EVENT_CAPS: once = &s.capsSent; break;
    case GST_EVENT_SEGMENT: once = &s.segmentSent; break;
    case GST_EVENT_EOS: {
        if (me < s.ended.size()) s.ended[me] = true;
        const bool end = EndIsDue(s);
        lock.unlock();
        if (end) return gst_pad_push_event(self->src, event);
        gst_event_unref(event);
        return TRUE;
    }
    case GST_EVENT_FLUSH_START:
        s.flushing = true;
        s.turn.notify_all();
        lock.unlock();
        return gst_pad_push_event(self->src, event);
    case GST_EVENT_FLUSH_STOP:
        s.flushing = false;
        lock.unlock();
        return gst_pad_push_event(self->src, event);
    default:
        lock.unlock();
        return gst_pad_push_event(self->src, event);
    }
    if (me != 0 || *once) {
        // A later segment of the first input (after its seek to its next
        // span) is the same timeline segment again.
        gst_event_unref(event);
        return TRUE;
    }
    *once = true;
    lock.unlock();
    return gst_pad_push_event(self->src, event);
}

gboolean SinkQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    // Format questions are answered downstream, for every input alike.
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS || GST_QUERY_TYPE(query) == GST_QUERY_ACCEPT_CAPS)
        return gst_pad_peer_query(Self(parent)->src, query);
    return gst_pad_query_default(pad, parent, query);
}

GstPad* RequestNewPad(GstElement* element, GstPadTemplate* templ, const gchar* name, const GstCaps*) {
    VeltranoJoiner* self = Self(element);
    JoinState& s = *self->state;
    GstPad* pad = gst_pad_new_from_template(templ, name);
    gst_pad_set_chain_function(pad, &Chain);
    gst_pad_set_event_function(pad, &SinkEvent);
    gst_pad_set_query_function(pad, &SinkQuery);
    {
        std::lock_guard lock(s.mutex);
        s.inputs.push_back(pad);
        s.ended.push_back(false);
    }
    gst_pad_set_active(pad, TRUE);
    gst_element_add_pad(element, pad);
    return pad;
}

void ReleasePad(GstElement* element, GstPad* pad) {
    VeltranoJoiner* self = Self(element);
    {
        std::lock_guard lock(self->state->mutex);
        const std::size_t i = IndexOf(*self->state, pad);
        if (i < self->state->inputs.size()) self->state->inputs[i] = nullptr;  // keeps the turns in place
    }
    gst_element_remove_pad(element, pad);
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    VeltranoJoiner* self = Self(element);
    JoinState& s = *self->state;
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        std::lock_guard lock(s.mutex);
        s.flushing = true;  // no input may stay waiting for its turn
        s.turn.notify_all();
    }
    const GstStateChangeReturn ret = GST_ELEMENT_CLASS(veltrano_joiner_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED || transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        std::lock_guard lock(s.mutex);
        s.flushing = false;
        s.endSent = false;
        s.current = 0;
        s.streamStarted = s.capsSent = s.segmentSent = false;
        std::fill(s.ended.begin(), s.ended.end(), false);
    }
    return ret;
}

void Finalize(GObject* object) {
    delete Self(object)->state;
    G_OBJECT_CLASS(veltrano_joiner_parent_class)->finalize(object);
}

void veltrano_joiner_class_init(VeltranoJoinerClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = &Finalize;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    element->request_new_pad = &RequestNewPad;
    element->release_pad = &ReleasePad;
    element->change_state = &ChangeState;
    gst_element_class_add_static_pad_template(element, &kSinkTemplate);
    gst_element_class_add_static_pad_template(element, &kSrcTemplate);
    gst_element_class_set_static_metadata(element, "Veltrano span joiner", "Generic",
                                          "Joins spans of one stream decoded side by side", "Veltrano");
}

void veltrano_joiner_init(VeltranoJoiner* self) {
    self->state = new JoinState();
    self->src = gst_pad_new_from_static_template(&kSrcTemplate, "src");
    gst_pad_use_fixed_caps(self->src);
    gst_element_add_pad(GST_ELEMENT(self), self->src);
}

}  // namespace

bool RegisterSpanJoinerElement() {
    return gst_element_register(nullptr, kSpanJoinerElementName, GST_RANK_NONE, veltrano_joiner_get_type());
}

}  // namespace veltrano
