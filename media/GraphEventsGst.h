#pragma once
// platform/-internal: a GraphEvents queue over a pipeline's bus.

#include "media/GraphEvents.h"
#include "media/GstHandles.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>

namespace veltrano {

class GraphEvents::Impl {
public:
    // Installs the bus's sync handler; pipeline identifies the graph's own
    // state changes among those of its elements.
    Impl(GstBus* bus, GstElement* pipeline);
    ~Impl();

    // Translates a bus message into an event; false for messages that are not
    // events of the graph (those are dropped).
    static bool Translate(GstMessage* msg, GstElement* pipeline, GraphEvent& out);

    // Takes the oldest queued event, or with codes the oldest of those codes
    // (the others stay queued), waiting up to timeoutMs for one to come.
    bool Take(GraphEvent& out, int timeoutMs, std::initializer_list<long> codes = {});
    // Forgets every queued event (what a failed attempt left behind).
    void Flush();
    // Queues an event of the graph's own making (a preroll that ended at once
    // or took too long), notified like the bus's.
    void Post(GraphEvent event) { Queue(std::move(event)); }

    // Whether the graph has ended (all streams done, or an error), seen as the
    // events arrive, so a waiter needs none of the queued events.
    bool WaitForEnd(int timeoutMs, long& code, std::string& text);
    bool Ended();

    void SetTarget(QObject* target, int eventType, std::intptr_t instanceData);

private:
    static GstBusSyncReply SyncHandler(GstBus* bus, GstMessage* msg, gpointer self);
    void Queue(GraphEvent event);

    gsth::Bus bus_;
    GstElement* pipeline_;  // not owned: identity only

    // Events are queued here, on the streaming thread, before the notify
    // event is posted: a notified target always finds its event.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<GraphEvent> queue_;
    QObject* target_ = nullptr;
    int eventType_ = 0;
    std::intptr_t instanceData_ = 0;
    bool ended_ = false;
    long endCode_ = 0;
    std::string endText_;
};

// Makes a GraphEvents for a pipeline; every graph of platform/ has one.
std::unique_ptr<GraphEvents> MakeGraphEvents(GstElement* pipeline);

}  // namespace veltrano
