#pragma once
// Sample-rate conversion and quantization of interleaved float sound, the
// arithmetic behind the format converter. Free of any media framework, so it
// is tested on its own.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrano {

// A polyphase windowed-sinc resampler (Kaiser window). Output frame n lies at
// input time n * inRate / outRate exactly: there is no delay to compensate,
// the first output frame is the first input frame's instant.
class SincResampler {
public:
    SincResampler(int inRate, int outRate, int channels);

    bool Passthrough() const { return inRate_ == outRate_; }
    int Channels() const { return channels_; }
    // Input frames each side of an output frame that it depends on.
    int HalfTaps() const { return half_; }

    // Takes 'frames' interleaved frames and appends every output frame whose
    // input window is complete.
    void Process(const float* in, std::size_t frames, std::vector<float>& out);
    // The input has ended: appends the remaining output frames, up to the
    // instant of the last input frame's end, reading silence beyond it.
    void Finish(std::vector<float>& out);
    // Output frames put out so far.
    std::uint64_t Produced() const { return produced_; }

private:
    void BuildTable();
    void Produce(std::vector<float>& out, std::int64_t lastUsable);
    // Appends 'count' output frames from the current position on.
    void Emit(std::vector<float>& out, std::size_t count);
    void Compact();

    int inRate_, outRate_, channels_;
    std::int64_t phases_ = 1;   // output steps per cycle of the rational ratio
    std::int64_t stepInt_ = 0;  // whole input frames per output frame
    std::int64_t stepFrac_ = 0; // and the rest, in 1/phases_
    int half_ = 0;
    int taps_ = 0;
    std::size_t rowLength_ = 0;  // taps, padded for vector reads; one row serves every channel
    int tableRows_ = 0;          // phases_ rows, or a finer grid interpolated between
    bool interpolate_ = false;
    std::vector<float> table_;

    // Input history, one plane per channel: frame 0 of each is absolute input
    // frame historyStart_.
    std::vector<std::vector<float>> history_;
    std::int64_t historyStart_ = 0;
    std::int64_t historyFrames_ = 0;
    std::int64_t inputFrames_ = 0;
    // The next output frame's input position: frame center_ plus phase_/phases_.
    std::int64_t center_ = 0;
    std::int64_t phase_ = 0;
    std::uint64_t produced_ = 0;
    bool finished_ = false;
};

// Quantizes 'samples' floats (full scale +-1.0) into little-endian PCM of
// 8 (unsigned), 16, 24 or 32 bits, rounding to nearest and clipping.
void QuantizeSamples(const float* in, std::size_t samples, int bits, std::uint8_t* out);

}  // namespace veltrano
