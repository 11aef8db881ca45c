#pragma once
// Sample-rate conversion of interleaved float sound, the arithmetic behind
// the format converter, done by libsoxr. Free of any media framework and of
// Qt: the converter element does not care which library resamples, and the
// conversion is tested on its own.

#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;  // libsoxr's resampler; its header stays in the .cpp

namespace veltrano {

enum class ResampleQuality {
    High,      // soxr's HQ recipe, 20-bit precision: for 8- and 16-bit output
    VeryHigh,  // soxr's VHQ recipe, 28-bit precision: for 24- and 32-bit and float output
};

// The quality an output of this many bits per sample needs.
ResampleQuality QualityForBits(int bitsPerSample);

// A linear-phase resampler. Output frame n lies at input time
// n * inRate / outRate exactly: the first output frame is the first input
// frame's instant, and libsoxr's own delay is taken out. The output is the
// same to the bit however the input is cut into Process calls. The passband
// reaches at least 0.913 of the lower Nyquist frequency (20.1 kHz at
// 44.1 kHz), within 0.01 dB.
class Resampler {
public:
    Resampler(int inRate, int outRate, int channels, ResampleQuality quality);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Same rate: no filter at all, the samples pass untouched.
    bool Passthrough() const { return inRate_ == outRate_; }
    int Channels() const { return channels_; }
    ResampleQuality Quality() const { return quality_; }
    // Empty while all is well; else libsoxr's reason, and nothing more is put out.
    const char* Error() const { return error_; }

    // Takes 'frames' interleaved frames and appends the output frames they
    // complete. False on a failure of the library (see Error()).
    bool Process(const float* in, std::size_t frames, std::vector<float>& out);
    // The input has ended: appends the remaining output frames, reading
    // silence beyond the end, for round(input frames * outRate / inRate)
    // frames in all (within one). Later input is ignored.
    bool Finish(std::vector<float>& out);
    // Output frames put out so far.
    std::uint64_t Produced() const { return produced_; }

private:
    bool Drain(const float* in, std::size_t frames, std::vector<float>& out);

    int inRate_, outRate_, channels_;
    ResampleQuality quality_;
    ::soxr* soxr_ = nullptr;
    const char* error_ = "";
    std::uint64_t produced_ = 0;
    bool finished_ = false;
};

}  // namespace veltrano
