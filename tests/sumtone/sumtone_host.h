// The sumtone plug-in in a recording host, and the partial series it should
// render, summed partial by partial in long double.
#ifndef VX_TESTS_SUMTONE_HOST_H
#define VX_TESTS_SUMTONE_HOST_H

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PluginLibrary.h"
#include "TestHost.h"

enum SumtonePin : int32_t { FC, FM1, N, A, GATE, DETUNE, MAXFREQ, MODE, OUTPUT };

inline const vxhost::PluginLibrary& SumtoneLibrary() {
    static std::unique_ptr<vxhost::PluginLibrary> library;
    if (!library) {
        std::string error;
        library =
            vxhost::PluginLibrary::Load(std::string(VX_PLUGIN_DIR) + "/" + vxhost::PluginFileName("sumtone"), &error);
        if (!library) throw std::runtime_error(error);
    }
    return *library;
}

// Input values as the host's buffers hold them; Mode goes into its member.
struct Inputs {
    float fc = 0.5f, fm1 = 0.0f, n = 0.0f, a = 0.0f, gate = 1.0f, detune = 0.0f, maxfreq = 0.0f;
    int16_t mode = 1;
};

struct Sumtone {
    explicit Sumtone(float rate = 44100.0f, int32_t block = 256) : host(SumtoneLibrary()) {
        host.Open(rate, block);
        host.ClearCalls();
    }
    void Set(const Inputs& in) {
        const float values[] = {in.fc, in.fm1, in.n, in.a, in.gate, in.detune, in.maxfreq};
        for (int32_t pin = FC; pin <= MAXFREQ; ++pin) host.Fill(pin, values[pin]);
        host.SetSetting(MODE, in.mode);
    }
    // Whole blocks from the current clock on, one processing call each.
    std::vector<float> Render(int32_t blocks) {
        std::vector<float> out;
        for (int32_t b = 0; b < blocks; ++b) {
            host.RunBlock(host.BlockSize());
            out.insert(out.end(), host.Buffer(OUTPUT).begin(), host.Buffer(OUTPUT).end());
        }
        return out;
    }
    vxhost::TestHost host;
};

// Σ a^|k|·sin(π(θ + kβ)) over k = 0 … n (one-sided) or -n … n (two-sided),
// divided by 2·Σ (k = 0 … n) a^k; phases in half-cycles.
inline long double SeriesSum(long double theta, long double beta, int n, long double a, bool one_sided) {
    const long double pi = 3.141592653589793238462643383279502884L;
    long double sum = 0, norm = 0, amplitude = 1;
    for (int k = 0; k <= n; ++k, amplitude *= a) {
        sum += amplitude * std::sin(pi * (theta + k * beta));
        if (!one_sided && k > 0) sum += amplitude * std::sin(pi * (theta - k * beta));
        norm += amplitude;
    }
    return sum / (2 * norm);
}

// The samples a series with constant frequencies renders from phase 0 on.
inline std::vector<long double> SeriesSamples(long double lowest_hz, long double spacing_hz, int n, long double a,
                                              bool one_sided, int count, long double rate = 44100) {
    std::vector<long double> out;
    for (int j = 0; j < count; ++j)
        out.push_back(SeriesSum(2 * lowest_hz * j / rate, 2 * spacing_hz * j / rate, n, a, one_sided));
    return out;
}

inline long double PitchHz(float fc) { return 440 * std::exp2(10 * static_cast<long double>(fc) - 5); }

inline double WorstError(const std::vector<float>& got, const std::vector<long double>& want, size_t first = 0) {
    long double worst = 0;
    for (size_t j = first; j < want.size(); ++j)
        worst = std::fmax(worst, std::fabs(static_cast<long double>(got.at(j)) - want[j]));
    return static_cast<double>(worst);
}

#endif
