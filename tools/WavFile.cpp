#include "WavFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

#include "HostError.h"

namespace vxhost {

namespace {

constexpr uint16_t kPcm = 1;
constexpr uint16_t kFloat = 3;
constexpr uint16_t kExtensible = 0xFFFE;

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFFu);
    Put16(out, value >> 16);
}

void PutTag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

uint32_t Get16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t Get32(const uint8_t* p) { return Get16(p) | Get16(p + 2) << 16; }

}  // namespace

double SampleQuantizer::Uniform() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 7;
    m_state ^= m_state << 17;
    return static_cast<double>(m_state >> 11) * (1.0 / 9007199254740992.0);
}

int32_t SampleQuantizer::operator()(float sample, SampleDepth depth) {
    const bool dither = depth == SampleDepth::Pcm16;
    const double steps = dither ? 32768.0 : 8388608.0;
    double x = static_cast<double>(sample) * steps;
    if (dither) {
        const double first = Uniform();
        x += first - Uniform();
    }
    double q = std::nearbyint(x);
    if (!(q >= -steps)) q = -steps;  // NaN too
    if (q > steps - 1.0) q = steps - 1.0;
    return static_cast<int32_t>(q);
}

std::vector<uint8_t> WavHeader(SampleDepth depth, int channels, uint32_t sample_rate, uint64_t frames) {
    const bool is_float = depth == SampleDepth::Float32;
    const uint32_t bytes = static_cast<uint32_t>(BytesPerSample(depth));
    const uint64_t data = frames * static_cast<uint64_t>(channels) * bytes;
    const uint32_t format_size = is_float ? 18 : 16;
    const uint32_t fact_size = is_float ? 12 : 0;
    const uint64_t riff = 4 + 8 + format_size + fact_size + 8 + data + (data & 1);
    if (riff > 0xFFFFFFFFull) throw HostError("a WAV file holds at most 4 GiB: render less, or fewer channels");
    std::vector<uint8_t> out;
    PutTag(out, "RIFF");
    Put32(out, static_cast<uint32_t>(riff));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, format_size);
    Put16(out, is_float ? kFloat : kPcm);
    Put16(out, static_cast<uint32_t>(channels));
    Put32(out, sample_rate);
    Put32(out, sample_rate * static_cast<uint32_t>(channels) * bytes);
    Put16(out, static_cast<uint32_t>(channels) * bytes);
    Put16(out, bytes * 8);
    if (is_float) {
        Put16(out, 0);  // no extension
        // Formats other than PCM carry their length in frames.
        PutTag(out, "fact");
        Put32(out, 4);
        Put32(out, static_cast<uint32_t>(frames));
    }
    PutTag(out, "data");
    Put32(out, static_cast<uint32_t>(data));
    return out;
}

void AppendWavSamples(std::vector<uint8_t>& out, const std::vector<const float*>& channels, int32_t frames,
                      SampleDepth depth, SampleQuantizer& quantizer) {
    for (int32_t j = 0; j < frames; ++j)
        for (const float* channel : channels) {
            if (depth == SampleDepth::Float32) {
                uint32_t bits = 0;
                std::memcpy(&bits, &channel[j], sizeof bits);
                Put32(out, bits);
                continue;
            }
            const uint32_t whole = static_cast<uint32_t>(quantizer(channel[j], depth));
            Put16(out, whole & 0xFFFFu);
            if (depth == SampleDepth::Pcm24) out.push_back(static_cast<uint8_t>(whole >> 16));
        }
}

std::vector<float> ReadWavMono(const std::string& path, double sample_rate) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HostError("cannot read audio file " + path + ": " + std::strerror(errno));
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto refuse = [&path](const std::string& why) -> HostError {
        return HostError("cannot read audio file " + path + ": " + why);
    };
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        throw refuse("not a WAV file (this build of vxhost reads WAV only)");
    uint32_t tag = 0, channels = 0, rate = 0, bits = 0;
    const uint8_t* data = nullptr;
    size_t data_size = 0;
    for (size_t at = 12; at + 8 <= file.size();) {
        const uint32_t size = Get32(&file[at + 4]);
        const size_t body = at + 8;
        const size_t available = std::min<size_t>(size, file.size() - body);
        if (std::memcmp(&file[at], "fmt ", 4) == 0 && available >= 16) {
            tag = Get16(&file[body]);
            channels = Get16(&file[body + 2]);
            rate = Get32(&file[body + 4]);
            bits = Get16(&file[body + 14]);
            if (tag == kExtensible && available >= 26) tag = Get16(&file[body + 24]);
        } else if (std::memcmp(&file[at], "data", 4) == 0) {
            data = &file[body];
            data_size = available;  // a stream's header may promise more than there is
        }
        at = body + available + (available & 1);
    }
    const bool pcm = tag == kPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool floating = tag == kFloat && (bits == 32 || bits == 64);
    if (data == nullptr || channels == 0 || (!pcm && !floating))
        throw refuse("an encoding this build of vxhost does not read (PCM or float WAV only)");
    if (std::fabs(rate - sample_rate) > 1e-9)
        throw HostError(path + " is " + std::to_string(rate) + " Hz but the render runs at " +
                        std::to_string(static_cast<long>(sample_rate)) + " Hz (use --rate " + std::to_string(rate) +
                        ")");
    const size_t bytes = bits / 8;
    const size_t frames = data_size / (bytes * channels);
    std::vector<float> mono(frames);
    for (size_t f = 0; f < frames; ++f) {
        double sum = 0.0;
        for (size_t c = 0; c < channels; ++c) {
            const uint8_t* p = data + (f * channels + c) * bytes;
            double value = 0.0;
            if (floating && bits == 32) {
                float v;
                const uint32_t raw = Get32(p);
                std::memcpy(&v, &raw, sizeof v);
                value = v;
            } else if (floating) {
                const uint64_t raw = Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32;
                std::memcpy(&value, &raw, sizeof value);
            } else if (bits == 8) {
                value = (static_cast<double>(p[0]) - 128.0) / 128.0;  // 8-bit WAV is unsigned
            } else {
                uint32_t raw = 0;
                for (size_t b = 0; b < bytes; ++b) raw |= static_cast<uint32_t>(p[b]) << (8 * (b + 4 - bytes));
                value = static_cast<double>(static_cast<int32_t>(raw)) / 2147483648.0;
            }
            sum += value;
        }
        mono[f] = static_cast<float>(sum / static_cast<double>(channels));
    }
    return mono;
}

}  // namespace vxhost
