// Benchmark tool: measures how faithfully a converter resampled a test tone.
//
//   veltrano-bench-quality snr FILE.wav FREQ      SNR (dB) of a sine of FREQ Hz
//                                                 against the ideal sine fitted
//                                                 to it (least squares)
//   veltrano-bench-quality level FILE.wav REF_DBFS level of what is left (dB
//                                                 below a reference of REF_DBFS),
//                                                 e.g. the alias of a tone above
//                                                 the new Nyquist frequency
//   veltrano-bench-quality tone FILE.wav FREQ REF_DBFS
//                                                 level (dB below a sine of
//                                                 REF_DBFS) of the component at
//                                                 FREQ alone, e.g. where a tone
//                                                 above the new Nyquist frequency
//                                                 would fold back, apart from
//                                                 broadband noise such as dither
//   veltrano-bench-quality info FILE.wav          header fields and frame count

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Wav {
    int rate = 0, channels = 0, bits = 0;
    std::vector<double> mono;  // first channel, in [-1, 1]
    std::uint64_t frames = 0;
};

bool ReadWav(const char* path, Wav& wav, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open";
        return false;
    }
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, data.data() + at, 4);
        return v;
    };
    auto u16 = [&](std::size_t at) {
        std::uint16_t v;
        std::memcpy(&v, data.data() + at, 2);
        return v;
    };
    if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) || std::memcmp(data.data() + 8, "WAVE", 4)) {
        error = "not a RIFF WAVE file";
        return false;
    }
    std::size_t at = 12;
    std::size_t dataAt = 0, dataSize = 0;
    while (at + 8 <= data.size()) {
        const std::uint32_t size = u32(at + 4);
        if (!std::memcmp(data.data() + at, "fmt ", 4)) {
            wav.channels = u16(at + 10);
            wav.rate = int(u32(at + 12));
            wav.bits = u16(at + 22);
        } else if (!std::memcmp(data.data() + at, "data", 4)) {
            dataAt = at + 8;
            dataSize = std::min<std::size_t>(size, data.size() - dataAt);
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (!dataAt || !wav.channels || (wav.bits != 8 && wav.bits != 16 && wav.bits != 32)) {
        error = "no PCM data";
        return false;
    }
    const std::size_t bytes = std::size_t(wav.bits / 8);
    const std::size_t block = bytes * std::size_t(wav.channels);
    wav.frames = dataSize / block;
    wav.mono.resize(wav.frames);
    for (std::size_t f = 0; f < wav.frames; ++f) {
        const char* p = data.data() + dataAt + f * block;
        if (wav.bits == 32) {
            std::int32_t s;
            std::memcpy(&s, p, 4);
            wav.mono[f] = s / 2147483648.0;
        } else if (wav.bits == 16) {
            std::int16_t s;
            std::memcpy(&s, p, 2);
            wav.mono[f] = s / 32768.0;
        } else {
            wav.mono[f] = (static_cast<unsigned char>(*p) - 128) / 128.0;
        }
    }
    return true;
}

// Fits a*sin + b*cos + c at the frequency over the middle of the file (edges
// are skipped: filters ring there) and returns signal and residual power,
// and the sine's amplitude.
void FitSine(const std::vector<double>& x, int rate, double freq, double& signal, double& residual,
             double* amplitude = nullptr) {
    const std::size_t skip = std::size_t(rate) / 10;
    const std::size_t n0 = x.size() > 3 * skip ? skip : 0, n1 = x.size() > 3 * skip ? x.size() - skip : x.size();
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, s1 = 0, c1 = 0, x1 = 0;
    const double w = 2 * M_PI * freq / rate;
    const double n = double(n1 - n0);
    for (std::size_t i = n0; i < n1; ++i) {
        const double s = std::sin(w * double(i)), c = std::cos(w * double(i));
        ss += s * s, cc += c * c, sc += s * c, xs += x[i] * s, xc += x[i] * c, s1 += s, c1 += c, x1 += x[i];
    }
    // Normal equations of [s c 1] (3x3), solved by Cramer's rule.
    const double A[3][3] = {{ss, sc, s1}, {sc, cc, c1}, {s1, c1, n}};
    const double B[3] = {xs, xc, x1};
    auto det = [](const double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const double d = det(A);
    double coef[3];
    for (int k = 0; k < 3; ++k) {
        double M[3][3];
        std::memcpy(M, A, sizeof M);
        for (int r = 0; r < 3; ++r) M[r][k] = B[r];
        coef[k] = det(M) / d;
    }
    if (amplitude) *amplitude = std::hypot(coef[0], coef[1]);
    signal = residual = 0;
    for (std::size_t i = n0; i < n1; ++i) {
        const double fit = coef[0] * std::sin(w * double(i)) + coef[1] * std::cos(w * double(i)) + coef[2];
        signal += fit * fit;
        residual += (x[i] - fit) * (x[i] - fit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s snr FILE FREQ | level FILE REF_DBFS | tone FILE FREQ REF_DBFS | info FILE\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    Wav wav;
    std::string error;
    if (!ReadWav(argv[2], wav, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
        return 1;
    }
    if (mode == "info") {
        std::printf("rate %d channels %d bits %d frames %llu\n", wav.rate, wav.channels, wav.bits,
                    static_cast<unsigned long long>(wav.frames));
        return 0;
    }
    if (argc < 4) return 2;
    const double arg = std::atof(argv[3]);
    if (mode == "snr") {
        double signal = 0, residual = 0;
        FitSine(wav.mono, wav.rate, arg, signal, residual);
        std::printf("%.1f\n", 10 * std::log10(signal / std::max(residual, 1e-30)));
        return 0;
    }
    if (mode == "tone") {
        if (argc < 5) return 2;
        double signal = 0, residual = 0, amplitude = 0;
        FitSine(wav.mono, wav.rate, arg, signal, residual, &amplitude);
        const double ref = std::pow(10.0, std::atof(argv[4]) / 20.0);  // amplitude of a sine at REF dBFS
        std::printf("%.1f\n", 20 * std::log10(std::max(amplitude, 1e-12) / ref));
        return 0;
    }
    if (mode == "level") {
        double power = 0;
        const std::size_t skip = std::size_t(wav.rate) / 10;
        std::size_t n = 0;
        for (std::size_t i = skip; i + skip < wav.mono.size(); ++i, ++n) power += wav.mono[i] * wav.mono[i];
        const double rms = std::sqrt(power / std::max<std::size_t>(n, 1));
        const double ref = std::pow(10.0, arg / 20.0) / std::sqrt(2.0);  // rms of a sine at REF dBFS
        std::printf("%.1f\n", 20 * std::log10(std::max(rms, 1e-12) / ref));
        return 0;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
