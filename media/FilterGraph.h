#pragma once
// Graph building in the vocabulary of the conversion: filters with pins,
// added to a graph by name and connected pin to pin; a builder that renders
// a pin through a converter into a sink and finds the converter's format
// interface; the graph's media control and event queue. A filter is a
// GStreamer element (or bin), a pin one of its pads, the graph a pipeline.

#include "media/GraphEvents.h"
#include "core/Result.h"
#include "media/Timeline.h"
#include "core/WaveFormatEx.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veltrano {

enum PinDirection : int { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

class Pin {
public:
    struct Impl;
    Pin() = default;
    explicit Pin(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
    explicit operator bool() const { return impl_ != nullptr; }
    PinDirection QueryDirection() const;
    bool IsConnected() const;
    std::string Name() const;
    Impl* impl() const { return impl_.get(); }

private:
    std::shared_ptr<Impl> impl_;
};

class Filter {
public:
    struct Impl;
    Filter() = default;
    explicit Filter(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
    explicit operator bool() const { return impl_ != nullptr; }
    // The filter's pins, inputs and outputs, in the order the filter has them.
    Result EnumPins(std::vector<Pin>& pins) const;
    std::string Name() const;
    Impl* impl() const { return impl_.get(); }
    const std::shared_ptr<Impl>& shared() const { return impl_; }

private:
    std::shared_ptr<Impl> impl_;
};

// The format interface of a converter's output.
class StreamConfig {
public:
    virtual ~StreamConfig() = default;
    virtual Result GetFormat(WaveFormatEx& format) = 0;
    // Refuses (VFW_E_INVALIDMEDIATYPE, with the reason as text) a format the
    // converter cannot put out as PCM or float; the format stays as it was.
    // 0 channels keeps the source's.
    virtual Result SetFormat(const WaveFormatEx& format) = 0;
};

class MediaControl {
public:
    virtual ~MediaControl() = default;
    virtual Result Run() = 0;
    virtual Result Stop() = 0;
};

class FilterGraph final : public MediaControl {
public:
    struct Impl;
    static std::shared_ptr<FilterGraph> Create(const std::string& name);
    explicit FilterGraph(std::unique_ptr<Impl> impl);
    ~FilterGraph() override;
    FilterGraph(const FilterGraph&) = delete;
    FilterGraph& operator=(const FilterGraph&) = delete;

    Result AddFilter(const Filter& filter, const std::string& name);
    Result Connect(const Pin& out, const Pin& in);

    // Starts streaming; a failure carries the text of what refused to start
    // (an output file that cannot be created, for instance).
    Result Run() override;
    // Stops at once and releases every resource of the graph.
    Result Stop() override;
    // Waits at most timeoutMs for the end of all streams (EC_COMPLETE) or an
    // error (EC_ERRORABORT, with its text); E_ABORT when neither came.
    Result WaitForCompletion(int timeoutMs, long& eventCode);
    // True once all streams ended or an error stopped the graph.
    bool HasEnded() const;

    GraphEvents& Events();
    Impl* impl() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
};

// The builder of the write graph.
enum class FindDirection { LOOK_UPSTREAM_ONLY };

class CaptureGraphBuilder {
public:
    Result SetFiltergraph(std::shared_ptr<FilterGraph> graph);
    // Connects source to the first free input of intermediate and the first
    // free output of intermediate to the first free input of sink (source to
    // sink directly without an intermediate).
    Result RenderStream(const Pin& source, const Filter& intermediate, const Filter& sink);
    // Looks upstream of 'from' for a filter with a format interface for the
    // given major type.
    Result FindInterface(FindDirection direction, MajorType type, const Filter& from,
                         std::shared_ptr<StreamConfig>& config);

private:
    std::shared_ptr<FilterGraph> graph_;
};

Result CreateCaptureGraphBuilder(std::unique_ptr<CaptureGraphBuilder>& builder);

// The WAV multiplexer: PCM in, PCM out. The writer behind it lays out the
// file itself; the multiplexer only keeps the graph's shape.
Result CreateWavMultiplexer(Filter& mux);

// The file writer: a WAV (or RF64) file written beside the output and put in
// its place by Commit once the graph has ended without an error; until then
// the output is untouched, and a file never committed is removed.
inline constexpr int AM_FILE_OVERWRITE = 1;

class FileWriter {
public:
    explicit FileWriter(Filter filter) : filter_(std::move(filter)) {}
    // Overwriting replaces the output when the new file is complete.
    Result SetMode(int mode);
    Result SetFileName(const std::string& fileName);
    Result GetFileName(std::string& fileName) const;
    // Writes to an open descriptor instead (standard output, say): the
    // header then states the expected frames from the start, and a stream
    // that ends short is made up with silence (PaddedFrames tells how much).
    Result SetDescriptor(int fd);
    std::uint64_t PaddedFrames() const;
    // Frames the stream will hold, known before its first: the header is
    // chosen for them (RF64 when a RIFF file could not hold them).
    Result SetExpectedFrames(std::uint64_t frames);
    // Whether the source's tags go into the file (they do unless told).
    Result SetWriteTags(bool write);
    // Puts the new file in the output's place: the one finished at the end
    // of the stream, or a part kept at a stop and finished since.
    Result Commit();
    // True once the new file has replaced the output.
    bool Committed() const;
    // Before stopping a graph that did not reach its end: what was written
    // stays in the part file instead of being removed.
    void KeepPartOnStop();
    // The temporary file being written, finished or kept.
    std::string PartFileName() const;
    Filter BaseFilter() const { return filter_; }

private:
    Filter filter_;
};

Result CreateFileWriter(std::shared_ptr<FileWriter>& writer);

// The format converter: down-mixes (or keeps the source's channels, up to 8,
// with their positions), resamples and converts the sample format, once, in
// floating point; its output is cut to the length of the stream it
// is given. Until SetFormat it puts out the group's default format.
class AcmWrapper {
public:
    explicit AcmWrapper(Filter filter) : filter_(std::move(filter)) {}
    Filter BaseFilter() const { return filter_; }
    std::shared_ptr<StreamConfig> Config() const;
    // Frames put out so far, and the frames the stream is to hold (0 until known).
    std::uint64_t FramesDelivered() const;
    std::uint64_t FramesExpected() const;
    // Channels of the output once negotiated (the source's, when its own were
    // asked for); 0 until then.
    std::uint16_t OutputChannels() const;
    // TPDF dither where samples lose bits (on unless told otherwise).
    void SetDither(bool dither);

private:
    Filter filter_;
};

// The format an audio group's output stands for until the converter is told
// otherwise: the audio groups' default, 44100 Hz, 16 bits, stereo.
WaveFormatEx DefaultGroupFormat();

Result CreateAcmWrapper(std::shared_ptr<AcmWrapper>& acm);

}  // namespace veltrano
