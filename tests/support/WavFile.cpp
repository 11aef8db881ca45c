#include "tests/support/WavFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include <csignal>
#include <sys/resource.h>

namespace veltrano::test {

namespace {

std::uint32_t U32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

void Put32(std::ofstream& out, std::uint32_t v) {
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(b, 4);
}
void Put16(std::ofstream& out, std::uint16_t v) {
    const char b[2] = {char(v), char(v >> 8)};
    out.write(b, 2);
}

}  // namespace

std::vector<float> WavFile::channel(int c) const {
    std::vector<float> out(frames());
    for (std::uint64_t f = 0; f < out.size(); ++f) out[f] = at(f, c);
    return out;
}

namespace {

float SampleAt(const unsigned char* p, std::uint16_t bits, bool isFloat) {
    if (isFloat) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    switch (bits) {
    case 8: return (float(p[0]) - 128.0f) / 128.0f;
    case 16: return float(std::int16_t(U16(p))) / 32768.0f;
    case 24: {
        const std::int32_t v = std::int32_t(p[0] | p[1] << 8 | p[2] << 16);
        return float(v >= 0x800000 ? v - 0x1000000 : v) / 8388608.0f;
    }
    default: return float(double(std::int32_t(U32(p))) / 2147483648.0);
    }
}

void ReadInfo(const unsigned char* p, std::size_t size, std::map<std::string, std::string>& info) {
    for (std::size_t q = 4; q + 8 <= size;) {
        const std::size_t len = U32(p + q + 4);
        const std::size_t end = std::min(size, q + 8 + len);
        std::string text(reinterpret_cast<const char*>(p + q + 8), end - (q + 8));
        info[std::string(reinterpret_cast<const char*>(p + q), 4)] = text.substr(0, text.find('\0'));
        q += 8 + len + (len & 1);
    }
}

}  // namespace

WavFile ReadWavFile(const std::string& path) {
    WavFile w;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        w.error = "cannot open " + path;
        return w;
    }
    std::vector<unsigned char> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    w.fileSize = d.size();
    w.rf64 = d.size() >= 4 && std::memcmp(d.data(), "RF64", 4) == 0;
    if (d.size() < 12 || (!w.rf64 && std::memcmp(d.data(), "RIFF", 4) != 0) ||
        std::memcmp(d.data() + 8, "WAVE", 4) != 0) {
        w.error = "not a RIFF or RF64 WAVE file";
        return w;
    }
    w.riffSize = U32(&d[4]);
    std::uint64_t ds64Data = 0;
    bool haveFmt = false, haveData = false;
    for (std::size_t pos = 12; pos + 8 <= d.size();) {
        const std::string id(reinterpret_cast<const char*>(&d[pos]), 4);
        const std::uint64_t size = U32(&d[pos + 4]);
        w.chunkIds.push_back(id);
        const unsigned char* body = &d[pos + 8];
        const bool whole = pos + 8 + size <= d.size();
        if (id == "ds64" && size >= 28 && whole) {
            w.riffSize = U32(body) | std::uint64_t(U32(body + 4)) << 32;
            ds64Data = U32(body + 8) | std::uint64_t(U32(body + 12)) << 32;
            w.ds64Samples = U32(body + 16) | std::uint64_t(U32(body + 20)) << 32;
        } else if (id == "fmt " && size >= 16 && whole) {
            w.fmtSize = std::uint32_t(size);
            w.formatTag = U16(body);
            w.channels = U16(body + 2);
            w.sampleRate = U32(body + 4);
            w.byteRate = U32(body + 8);
            w.blockAlign = U16(body + 12);
            w.bitsPerSample = U16(body + 14);
            w.sampleType = w.formatTag;
            if (w.formatTag == 0xFFFE && size >= 40) {
                w.validBits = U16(body + 18);
                w.channelMask = U32(body + 20);
                w.sampleType = U16(body + 24);
            }
            haveFmt = true;
        } else if (id == "fact" && size >= 4 && whole) {
            w.hasFact = true;
            w.factSamples = U32(body);
        } else if (id == "LIST" && size >= 4 && whole && std::memcmp(body, "INFO", 4) == 0) {
            ReadInfo(body, std::size_t(size), w.info);
        } else if (id == "data") {
            w.dataSize = w.rf64 && size == 0xFFFFFFFFu ? ds64Data : size;
            w.dataOffset = pos + 8;
            haveData = true;
            break;
        }
        pos += 8 + size + (size & 1);
    }
    if (!haveFmt || !haveData) {
        w.error = "no fmt or data chunk";
        return w;
    }
    if (w.dataOffset + w.dataSize > d.size()) {
        w.error = "data chunk larger than the file";
        return w;
    }
    const unsigned bytes = w.bitsPerSample / 8u;
    if (bytes == 0 || (w.sampleType != 1 && w.sampleType != 3)) {
        w.error = "not PCM or float samples";
        return w;
    }
    const std::uint64_t count = w.dataSize / bytes;
    w.samples.resize(count);
    const unsigned char* p = &d[w.dataOffset];
    for (std::uint64_t i = 0; i < count; ++i)
        w.samples[i] = SampleAt(p + i * bytes, w.bitsPerSample, w.sampleType == 3);
    w.ok = true;
    return w;
}

bool WriteWavFile(const std::string& path, const Pcm& pcm) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto data = std::uint32_t(pcm.samples.size() * 2);
    out.write("RIFF", 4);
    Put32(out, 36 + data);
    out.write("WAVEfmt ", 8);
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, std::uint16_t(pcm.channels));
    Put32(out, std::uint32_t(pcm.rate));
    Put32(out, std::uint32_t(pcm.rate * pcm.channels * 2));
    Put16(out, std::uint16_t(pcm.channels * 2));
    Put16(out, 16);
    out.write("data", 4);
    Put32(out, data);
    std::vector<char> bytes(pcm.samples.size() * 2);
    for (std::size_t i = 0; i < pcm.samples.size(); ++i) {
        const auto v = std::int16_t(std::lround(std::clamp(pcm.samples[i], -1.0f, 32767.0f / 32768.0f) * 32768.0f));
        bytes[2 * i] = char(v);
        bytes[2 * i + 1] = char(v >> 8);
    }
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

double ToneFrequency(const std::vector<float>& x, int rate) {
    // Rising zero crossings, interpolated; the first and last crossing bound whole periods.
    double first = -1, last = -1;
    int periods = -1;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double t = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
            if (first < 0) first = t;
            last = t;
            ++periods;
        }
    }
    if (periods <= 0) return 0;
    return periods * double(rate) / (last - first);
}

std::vector<std::int64_t> ClickFrames(const std::vector<float>& x, float threshold) {
    std::vector<std::int64_t> out;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(x[i]) < threshold) continue;
        std::size_t best = i;
        while (i < x.size() && std::fabs(x[i]) >= threshold * 0.1f) {
            if (std::fabs(x[i]) > std::fabs(x[best])) best = i;
            ++i;
        }
        out.push_back(std::int64_t(best));
    }
    return out;
}

std::int64_t BestLag(const std::vector<float>& x, const std::vector<float>& y, std::int64_t maxLag) {
    double bestScore = -1e300;
    std::int64_t best = 0;
    const auto nx = std::int64_t(x.size()), ny = std::int64_t(y.size());
    for (std::int64_t lag = -maxLag; lag <= maxLag; ++lag) {
        double s = 0;
        for (std::int64_t i = 0; i < ny; ++i) {
            const std::int64_t j = i + lag;
            if (j >= 0 && j < nx) s += double(x[std::size_t(j)]) * double(y[std::size_t(i)]);
        }
        if (s > bestScore) {
            bestScore = s;
            best = lag;
        }
    }
    return best;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(std::uint64_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    previousSoft_ = r.rlim_cur;
    r.rlim_cur = rlim_t(bytes);
    setrlimit(RLIMIT_FSIZE, &r);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = rlim_t(previousSoft_);
    setrlimit(RLIMIT_FSIZE, &r);
}

Pcm Noise(double seconds, int rate, int channels, double amplitude, unsigned seed) {
    Pcm pcm{rate, channels, {}};
    const auto frames = std::size_t(std::llround(seconds * rate));
    pcm.samples.resize(frames * std::size_t(channels));
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-float(amplitude), float(amplitude));
    for (std::size_t f = 0; f < frames; ++f) {
        const float v = dist(gen);
        for (int c = 0; c < channels; ++c) pcm.samples[f * std::size_t(channels) + std::size_t(c)] = v;
    }
    return pcm;
}

}  // namespace veltrano::test
