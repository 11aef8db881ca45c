#include "media/GraphEventsGst.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

#include <string_view>

namespace veltrano {

std::string ErrorTextWithCause(const char* message, const char* debug) {
    std::string text = message ? message : "";
    if (!debug) return text;
    std::string_view last(debug);
    if (const auto nl = last.rfind('\n'); nl != std::string_view::npos) last = last.substr(nl + 1);
    // The first line names the source code, not the cause.
    if (last.find(".c(") != std::string_view::npos || last.empty()) return text;
    if (const auto colon = last.rfind(": "); colon != std::string_view::npos) last = last.substr(colon + 2);
    if (last.empty() || text.find(last) != std::string::npos) return text;
    return text.empty() ? std::string(last) : text + " (" + std::string(last) + ")";
}

GraphEvents::Impl::Impl(GstBus* b, GstElement* p) : bus_(gsth::Bus::Retain(b)), pipeline_(p) {
    gst_bus_set_sync_handler(bus_.get(), &Impl::SyncHandler, this, nullptr);
}

GraphEvents::Impl::~Impl() {
    gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
    gst_bus_set_flushing(bus_.get(), TRUE);
}

bool GraphEvents::Impl::Translate(GstMessage* msg, GstElement* pipeline, GraphEvent& out) {
    out = GraphEvent{};
    if (GST_MESSAGE_SRC(msg)) {
        gsth::String name = gsth::String::Adopt(gst_object_get_name(GST_MESSAGE_SRC(msg)));
        if (name) out.source = name.get();
    }
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_EOS:
        out.code = EC_COMPLETE;
        out.param1 = S_OK;
        return true;
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING: {
        gsth::Error err;
        gsth::String debug;
        if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            gst_message_parse_error(msg, err.out(), debug.out());
            out.code = EC_ERRORABORT;
        } else {
            gst_message_parse_warning(msg, err.out(), debug.out());
            out.code = EC_STREAM_ERROR_STILLPLAYING;
        }
        out.param1 = E_FAIL;
        if (err) {
            out.text = ErrorTextWithCause(err->message, debug.get());
            if (err->domain == GST_RESOURCE_ERROR) {
                if (err->code == GST_RESOURCE_ERROR_NOT_FOUND) out.param1 = E_NOTFOUND;
                else if (err->code == GST_RESOURCE_ERROR_OPEN_WRITE ||
                         err->code == GST_RESOURCE_ERROR_OPEN_READ ||
                         err->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED)
                    out.param1 = E_ACCESSDENIED;
            }
        }
        return true;
    }
    case GST_MESSAGE_STATE_CHANGED: {
        if (GST_MESSAGE_SRC(msg) != GST_OBJECT(pipeline)) return false;
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(msg, &oldState, &newState, &pending);
        out.code = EC_STATE_CHANGE;
        out.param1 = newState == GST_STATE_PLAYING ? 2 : newState == GST_STATE_PAUSED ? 1 : 0;
        return true;
    }
    case GST_MESSAGE_ASYNC_DONE:
        out.code = EC_ASYNC_DONE;
        return true;
    case GST_MESSAGE_DURATION_CHANGED:
        out.code = EC_LENGTH_CHANGED;
        return true;
    default:
        return false;
    }
}

GstBusSyncReply GraphEvents::Impl::SyncHandler(GstBus*, GstMessage* msg, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    GraphEvent event;
    if (Translate(msg, self->pipeline_, event)) self->Queue(std::move(event));
    // Every message the graph has to say is in our queue now.
    return GST_BUS_DROP;
}

void GraphEvents::Impl::Queue(GraphEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (!ended_ && (event.code == EC_COMPLETE || event.code == EC_ERRORABORT)) {
            ended_ = true;
            endCode_ = event.code;
            endText_ = event.text;
        }
        queue_.push_back(std::move(event));
        if (target_) QCoreApplication::postEvent(target_, new GraphNotifyEvent(eventType_, instanceData_));
    }
    changed_.notify_all();
}

bool GraphEvents::Impl::Take(GraphEvent& out, int timeoutMs, std::initializer_list<long> codes) {
    std::unique_lock lock(mutex_);
    auto find = [&] {
        if (codes.size() == 0) return queue_.begin();
        return std::find_if(queue_.begin(), queue_.end(), [&](const GraphEvent& e) {
            return std::find(codes.begin(), codes.end(), e.code) != codes.end();
        });
    };
    auto it = find();
    if (it == queue_.end() && timeoutMs > 0) {
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return (it = find()) != queue_.end(); });
    }
    if (it == queue_.end()) return false;
    out = std::move(*it);
    queue_.erase(it);
    return true;
}

void GraphEvents::Impl::Flush() {
    std::lock_guard lock(mutex_);
    queue_.clear();
    ended_ = false;
}

bool GraphEvents::Impl::WaitForEnd(int timeoutMs, long& code, std::string& text) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return ended_; })) return false;
    code = endCode_;
    text = endText_;
    return true;
}

bool GraphEvents::Impl::Ended() {
    std::lock_guard lock(mutex_);
    return ended_;
}

void GraphEvents::Impl::SetTarget(QObject* target, int eventType, std::intptr_t instanceData) {
    std::lock_guard lock(mutex_);
    target_ = target;
    eventType_ = eventType;
    instanceData_ = instanceData;
}

GraphEvents::GraphEvents(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
GraphEvents::~GraphEvents() = default;

Result GraphEvents::SetNotifyWindow(QObject* target, int eventType, std::intptr_t instanceData) {
    impl_->SetTarget(target, eventType, instanceData);
    return Result(S_OK);
}

Result GraphEvents::GetEvent(GraphEvent& event, int timeoutMs) {
    return impl_->Take(event, timeoutMs) ? Result(S_OK) : Result(E_ABORT);
}

Result GraphEvents::FreeEventParams(GraphEvent& event) {
    event = GraphEvent{};
    return Result(S_OK);
}

std::unique_ptr<GraphEvents> MakeGraphEvents(GstElement* pipeline) {
    gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline));
    return std::make_unique<GraphEvents>(std::make_unique<GraphEvents::Impl>(bus.get(), pipeline));
}

}  // namespace veltrano
