#pragma once
// A graph's event queue: whenever the graph queues an event, a QEvent of the
// notify type is posted to the notify target; the target then drains the queue
// on its own thread without waiting (GetEvent with time-out 0), handing each
// event back with FreeEventParams.

#include "core/Result.h"

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>
#include <string>

namespace veltrano {

// Notify message of both graphs (the playback graph's to the player window,
// the conversion graph's to the main dialog).
inline constexpr int kGraphNotifyEventType = QEvent::User + 13;

// Event codes, as the media platform numbers them.
enum EventCode : long {
    EC_COMPLETE = 0x01,                 // end of stream: all data rendered
    EC_USERABORT = 0x02,
    EC_ERRORABORT = 0x03,               // an error stopped the graph; param1 = code, text set
    EC_STREAM_ERROR_STILLPLAYING = 0x07,  // a warning; the graph goes on
    EC_VIDEO_SIZE_CHANGED = 0x0A,
    EC_LENGTH_CHANGED = 0x1E,
    EC_STATE_CHANGE = 0x32,             // param1 = new state: 0 stopped, 1 paused, 2 running
    EC_USER = 0x8000,
    EC_ASYNC_DONE = EC_USER + 1,        // a state change or seek has completed
};

struct GraphEvent {
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    std::string text;  // system text of an error or warning
    std::string source;  // name of the element that raised it
};

class GraphEvents {
public:
    class Impl;
    explicit GraphEvents(std::unique_ptr<Impl> impl);
    ~GraphEvents();
    GraphEvents(const GraphEvents&) = delete;
    GraphEvents& operator=(const GraphEvents&) = delete;

    // target null stops the notifications. The target must outlive the
    // registration or be unregistered first (posted events die with it).
    Result SetNotifyWindow(QObject* target, int eventType, std::intptr_t instanceData);
    // E_ABORT-like failure (S_FALSE is never returned) when nothing is queued.
    Result GetEvent(GraphEvent& event, int timeoutMs = 0);
    Result FreeEventParams(GraphEvent& event);

    Impl* impl() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
};

// The event posted to a notify target.
class GraphNotifyEvent : public QEvent {
public:
    GraphNotifyEvent(int type, std::intptr_t instanceData)
        : QEvent(static_cast<QEvent::Type>(type)), instanceData_(instanceData) {}
    std::intptr_t instanceData() const { return instanceData_; }

private:
    std::intptr_t instanceData_;
};

// A GStreamer error's message with the system's cause taken from its debug
// text ("Could not write to resource. (File too large)").
std::string ErrorTextWithCause(const char* message, const char* debug);

inline constexpr HResult E_ABORT = static_cast<HResult>(0x80004004u);

}  // namespace veltrano
