#pragma once
// platform/-internal: a GraphEvents queue over a pipeline's bus.

#include "platform/GraphEvents.h"
#include "platform/GstHandles.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace veltrano {

class GraphEvents::Impl {
public:
    // Installs the bus's sync handler; pipeline identifies the graph's own
    // state changes among those of its elements.
    Impl(GstBus* bus, GstElement* pipeline);
    ~Impl();

    // Translates a bus message into an event; false for messages that are not
    // events of the graph (those are dropped before they are queued).
    static bool Translate(GstMessage* msg, GstElement* pipeline, GraphEvent& out);

    gsth::Bus bus;
    GstElement* pipeline;  // not owned: identity only

    std::mutex mutex;
    QObject* target = nullptr;
    int eventType = 0;
    std::intptr_t instanceData = 0;

    // The notification is posted before the bus queues its message; these
    // counts tell GetEvent that a message is on its way and worth a wait.
    std::atomic<std::uint64_t> announced{0};
    std::uint64_t taken = 0;

    // Whether the graph has ended (all streams done, or an error), seen as the
    // messages arrive, so a waiter needs none of the queued events.
    bool WaitForEnd(int timeoutMs, long& code, std::string& text);
    bool Ended();

private:
    static GstBusSyncReply SyncHandler(GstBus* bus, GstMessage* msg, gpointer self);
    void NoteEnd(const GraphEvent& event);

    std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool ended_ = false;
    long endCode_ = 0;
    std::string endText_;
};

// Makes a GraphEvents for a pipeline; every graph of platform/ has one.
std::unique_ptr<GraphEvents> MakeGraphEvents(GstElement* pipeline);

}  // namespace veltrano
