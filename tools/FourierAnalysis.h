// Magnitude spectra for pictures: a radix-2 FFT behind a four-term
// Blackman-Harris window, whose side lobes stay below -92 dB, so that the
// absence of partials above a band limit is visible as empty space.
#ifndef VXHOST_TOOL_FOURIERANALYSIS_H
#define VXHOST_TOOL_FOURIERANALYSIS_H

#include <complex>
#include <cstddef>
#include <vector>

namespace vxhost {

// In place; the size must be a power of two.
void Fft(std::vector<std::complex<double>>& data);

// fft_size/2 + 1 levels in dB relative to a full-scale sine, from the
// fft_size samples starting at `samples` (missing samples count as silence).
std::vector<double> SpectrumDb(const std::vector<float>& signal, size_t start, size_t fft_size);

}  // namespace vxhost

#endif  // VXHOST_TOOL_FOURIERANALYSIS_H
