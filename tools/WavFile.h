// WAV files without libsndfile, for the build that has none (MinGW): the
// header for a known length, samples encoded as 16-bit or 24-bit PCM or
// 32-bit float, and recordings read back as one channel. The whole-number
// encoding (full-scale clipping, TPDF dither at 16 bits) is the one the
// libsndfile path uses too, so both give the same samples.
#ifndef VXHOST_TOOL_WAVFILE_H
#define VXHOST_TOOL_WAVFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "AudioFormat.h"

namespace vxhost {

// Samples as whole numbers of 16-bit or 24-bit steps: dithered by one step
// (triangular) at 16 bits, clipped at full scale, NaN as the lowest value,
// so that no float outside the range ever becomes an integer.
class SampleQuantizer {
public:
    int32_t operator()(float sample, SampleDepth depth);

private:
    double Uniform();
    uint64_t m_state = 0x9E3779B97F4A7C15ull;
};

// RIFF header and the data chunk's header for `frames` frames; HostError
// when that is more than a WAV file can hold (4 GiB).
std::vector<uint8_t> WavHeader(SampleDepth depth, int channels, uint32_t sample_rate, uint64_t frames);

// `frames` frames of the channels, interleaved and little-endian, appended to `out`.
void AppendWavSamples(std::vector<uint8_t>& out, const std::vector<const float*>& channels, int32_t frames,
                      SampleDepth depth, SampleQuantizer& quantizer);

// A WAV file's channels mixed to one (PCM 8 to 32 bits, 32-bit or 64-bit
// float); HostError when it is not one of those or its rate differs.
std::vector<float> ReadWavMono(const std::string& path, double sample_rate);

}  // namespace vxhost

#endif  // VXHOST_TOOL_WAVFILE_H
