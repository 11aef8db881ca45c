#pragma once
// Measuring a media file on a throw-away graph: its length and which kinds of
// streams it has. Nothing is decoded; a raw MP3's length comes from its own
// frames, without the encoder delay and padding when the file states them.
// The dialog measures on a thread of its own (MediaProber) and hears the
// answer as a posted event; the command line measures in place.

#include "core/MediaTime.h"
#include "core/Result.h"
#include "media/SourceAnalysis.h"

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace veltrano {

// A sound stream as the file describes it. Streams count from 0 in the order
// the parser exposes them, the order a conversion's stream number counts in.
struct SoundStreamInfo {
    std::string codec;       // "Vorbis", "MPEG-4 AAC", ...
    int rate = 0;            // 0 where the file does not say before decoding
    int channels = 0;
    std::string language;    // an ISO 639 code, when the file states one
    std::string title;       // the stream's own title, when it has one
    bool decodable = false;  // an installed decoder takes it
    MediaTime length = 0;    // 0 when the stream does not state it
};

struct MediaProbe {
    MediaTime stopPosition = 0;  // the media's length
    bool hasAudio = false;       // a sound stream that an installed decoder can decode
    bool hasVideo = false;
    // What the conversion can use again (a raw MP3's frames); may be null.
    SourceAnalysisRef analysis;
    std::vector<SoundStreamInfo> soundStreams;  // every sound stream, decodable or not
};

enum class ProbeStep {
    Render,        // the file cannot be opened or decoded at all
    Seeking,       // no stream can be positioned in time
    StopPosition,  // the length is not known
};

// "The media file has no sound stream 2; it has 2 (0 to 1)."
std::string NoSoundStreamText(int stream, int streams);

// path is UTF-8. On failure *failedStep says which step failed. The file is
// read through the installed handler of file URIs.
Result ProbeMedia(const std::string& path, MediaProbe& out, ProbeStep* failedStep = nullptr);

// Posted to a MediaProber's target when its probe has ended.
inline constexpr int kProbeDoneEventType = QEvent::User + 14;

class ProbeDoneEvent final : public QEvent {
public:
    ProbeDoneEvent(std::uint64_t ticketOfProbe, std::string probedPath, Result probeResult, MediaProbe measured,
                   ProbeStep failed)
        : QEvent(static_cast<QEvent::Type>(kProbeDoneEventType)),
          ticket(ticketOfProbe),
          path(std::move(probedPath)),
          result(std::move(probeResult)),
          probe(measured),
          failedStep(failed) {}

    const std::uint64_t ticket;  // what Start returned
    const std::string path;
    const Result result;
    const MediaProbe probe;
    const ProbeStep failedStep;  // meaningful when result failed
};

// Measures one file at a time on a worker thread, so the caller's thread never
// waits on the media. Made, started and destroyed on one thread.
class MediaProber {
public:
    // target: where each ProbeDoneEvent is posted; it must outlive the prober.
    explicit MediaProber(QObject* target);
    // A probe still running is abandoned: its graph is stopped and nothing is posted.
    ~MediaProber();
    MediaProber(const MediaProber&) = delete;
    MediaProber& operator=(const MediaProber&) = delete;

    // Starts measuring path; the ticket comes back in the event. 0 while an
    // earlier probe is still running.
    std::uint64_t Start(const std::string& path);
    bool Busy() const;

    class Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    std::uint64_t lastTicket_ = 0;
};

}  // namespace veltrano
