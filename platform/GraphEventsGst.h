#pragma once
// platform/-internal: a GraphEvents queue over a pipeline's bus.

#include "platform/GraphEvents.h"
#include "platform/GstHandles.h"

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

private:
    static GstBusSyncReply SyncHandler(GstBus* bus, GstMessage* msg, gpointer self);
};

// Makes a GraphEvents for a pipeline; every graph of platform/ has one.
std::unique_ptr<GraphEvents> MakeGraphEvents(GstElement* pipeline);

}  // namespace veltrano
