#pragma once
// Reading a wave file back, field by field, and writing plain ones for tests
// that need long inputs quickly; plus signal measurements on what was read.

#include "tests/support/TestMedia.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace veltrano::test {

// Read independently of the writer's own header code, so that a fault there
// shows here.
struct WavFile {
    bool ok = false;
    std::string error;
    std::uint64_t fileSize = 0;
    bool rf64 = false;
    std::uint64_t riffSize = 0;  // ds64's in an RF64 file
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint32_t fmtSize = 0;
    std::uint16_t validBits = 0;    // extensible only
    std::uint32_t channelMask = 0;  // extensible only
    std::uint16_t sampleType = 0;   // 1 PCM, 3 float: the tag, or the extensible sub-format's
    bool hasFact = false;
    std::uint32_t factSamples = 0;
    std::uint64_t ds64Samples = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t dataOffset = 0;
    std::vector<std::string> chunkIds;        // in file order
    std::map<std::string, std::string> info;  // LIST/INFO entries by id
    std::vector<float> samples;  // interleaved, scaled to [-1, 1]

    std::uint64_t frames() const { return blockAlign ? dataSize / blockAlign : 0; }
    float at(std::uint64_t frame, int channel) const { return samples[frame * channels + std::uint64_t(channel)]; }
    std::vector<float> channel(int c) const;
};

WavFile ReadWavFile(const std::string& path);

// A 16-bit PCM wave file of the samples.
bool WriteWavFile(const std::string& path, const Pcm& pcm);

// Frequency of a steady tone, from its zero crossings.
double ToneFrequency(const std::vector<float>& x, int rate);

// Frame index of each click: the largest sample of each run above threshold.
std::vector<std::int64_t> ClickFrames(const std::vector<float>& x, float threshold = 0.3f);

// The lag (in frames, within +-maxLag) at which y best matches x: y[i] ~ x[i + lag].
std::int64_t BestLag(const std::vector<float>& x, const std::vector<float>& y, std::int64_t maxLag);

// While alive, files this process writes cannot grow past 'bytes': writes
// beyond fail as they do on a full disk (EFBIG, the signal ignored).
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(std::uint64_t bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    std::uint64_t previousSoft_ = 0;
};

// Deterministic white noise.
Pcm Noise(double seconds, int rate = 48000, int channels = 2, double amplitude = 0.3, unsigned seed = 1);

}  // namespace veltrano::test
