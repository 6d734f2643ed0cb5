#include "FourierAnalysis.h"

#include <cmath>

namespace vxhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Coefficients and coherent gain of the four-term Blackman-Harris window.
constexpr double kA0 = 0.35875, kA1 = 0.48829, kA2 = 0.14128, kA3 = 0.01168;
constexpr double kFloorDb = -200.0;

}  // namespace

void Fft(std::vector<std::complex<double>>& data) {
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * kPi / static_cast<double>(length);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += length) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> even = data[i + k];
                const std::complex<double> odd = data[i + k + length / 2] * w;
                data[i + k] = even + odd;
                data[i + k + length / 2] = even - odd;
                w *= step;
            }
        }
    }
}

std::vector<double> SpectrumDb(const std::vector<float>& signal, size_t start, size_t fft_size) {
    std::vector<std::complex<double>> data(fft_size);
    for (size_t i = 0; i < fft_size; ++i) {
        const double x = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(fft_size);
        const double window = kA0 - kA1 * std::cos(x) + kA2 * std::cos(2 * x) - kA3 * std::cos(3 * x);
        const double sample = start + i < signal.size() ? signal[start + i] : 0.0;
        data[i] = sample * window;
    }
    Fft(data);
    std::vector<double> levels(fft_size / 2 + 1);
    const double full_scale = static_cast<double>(fft_size) * kA0 / 2.0;
    for (size_t k = 0; k < levels.size(); ++k) {
        const double magnitude = std::abs(data[k]) / full_scale;
        levels[k] = magnitude > 0.0 ? std::max(kFloorDb, 20.0 * std::log10(magnitude)) : kFloorDb;
    }
    return levels;
}

}  // namespace vxhost
