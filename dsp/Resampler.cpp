#include "dsp/Resampler.h"

#include <soxr.h>

#include <algorithm>

namespace veltrano {

namespace {

// soxr's HQ recipe ends its passband at 0.9137 of the lower Nyquist
// frequency, its VHQ recipe at 0.9113: both are widened to at least this,
// 20.1 kHz at 44.1 kHz and 10.07 kHz at 22.05 kHz.
constexpr double kMinPassbandEnd = 0.913;

// Room for this many more output frames than the ratio promises, per call:
// the tail that the end flushes fits in one or two.
constexpr std::size_t kOutputSlack = 1024;

}  // namespace

ResampleQuality QualityForBits(int bitsPerSample) {
    return bitsPerSample <= 16 ? ResampleQuality::High : ResampleQuality::VeryHigh;
}

Resampler::Resampler(int inRate, int outRate, int channels, ResampleQuality quality)
    : inRate_(std::max(1, inRate)), outRate_(std::max(1, outRate)), channels_(std::clamp(channels, 1, 8)),
      quality_(quality) {
    if (Passthrough()) return;
    // Linear phase (the recipes' default), so the output keeps the input's
    // timing: libsoxr takes its filters' delay out itself and starts the
    // output at the input's first instant. soxr_delay() counts the output
    // still owed for input already taken, which Finish() flushes; there is
    // no leading output to drop (measured: a tone comes out aligned to the
    // sample, and no more than round(frames x ratio) frames in all).
    soxr_quality_spec_t q = soxr_quality_spec(quality == ResampleQuality::High ? SOXR_HQ : SOXR_VHQ, 0);
    q.passband_end = std::max(q.passband_end, kMinPassbandEnd);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    // One thread: the other core decodes.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_ = soxr_create(inRate_, outRate_, static_cast<unsigned>(channels_), &error, &io, &q, &runtime);
    if (!soxr_ || error) error_ = error ? error : "the resampler could not be created";
}

Resampler::~Resampler() {
    if (soxr_) soxr_delete(soxr_);
}

bool Resampler::Process(const float* in, std::size_t frames, std::vector<float>& out) {
    if (*error_) return false;
    if (finished_ || frames == 0) return true;
    if (Passthrough()) {
        out.insert(out.end(), in, in + frames * static_cast<std::size_t>(channels_));
        produced_ += frames;
        return true;
    }
    return Drain(in, frames, out);
}

bool Resampler::Finish(std::vector<float>& out) {
    if (*error_) return false;
    if (finished_) return true;
    finished_ = true;
    if (Passthrough()) return true;
    return Drain(nullptr, 0, out);  // no input: the end of it, and the tail flushed
}

// Feeds 'frames' (none and 'in' null: the end) and appends what comes out,
// until the input is taken and libsoxr has nothing more to give. It takes
// input only as far as the output room it is offered, so the room follows
// the ratio. The output does not depend on how input and room are cut:
// libsoxr filters whole blocks of its own, measured and tested to the bit.
bool Resampler::Drain(const float* in, std::size_t frames, std::vector<float>& out) {
    const auto ch = static_cast<std::size_t>(channels_);
    const auto room = static_cast<std::size_t>(static_cast<double>(frames) * outRate_ / inRate_) + kOutputSlack;
    for (;;) {
        const std::size_t at = out.size();
        out.resize(at + room * ch);
        std::size_t taken = 0, made = 0;
        const soxr_error_t error = soxr_process(soxr_, in, frames, in ? &taken : nullptr, out.data() + at, room, &made);
        out.resize(at + made * ch);
        produced_ += made;
        if (error || (taken == 0 && made == 0 && frames > 0)) {
            error_ = error ? error : "the resampler took no input";
            return false;
        }
        if (in) {
            in += taken * ch;
            frames -= taken;
            if (frames == 0 && made < room) return true;
        } else if (made == 0) {
            return true;
        }
    }
}

}  // namespace veltrano
