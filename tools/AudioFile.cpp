#include "AudioFile.h"

#include <sndfile.h>

#include <cmath>

#include "HostError.h"

namespace vxhost {

std::vector<float> ReadAudioMono(const std::string& path, double sample_rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) throw HostError("cannot read audio file " + path + ": " + sf_strerror(nullptr));
    if (std::fabs(info.samplerate - sample_rate) > 1e-9) {
        sf_close(file);
        throw HostError(path + " is " + std::to_string(info.samplerate) + " Hz but the render runs at " +
                        std::to_string(static_cast<long>(sample_rate)) + " Hz (use --rate " +
                        std::to_string(info.samplerate) + ")");
    }
    std::vector<float> mono;
    std::vector<float> block(static_cast<size_t>(4096) * static_cast<size_t>(info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), 4096);
        if (got <= 0) break;
        for (sf_count_t frame = 0; frame < got; ++frame) {
            float sum = 0.0f;
            for (int c = 0; c < info.channels; ++c) sum += block[static_cast<size_t>(frame * info.channels + c)];
            mono.push_back(sum / static_cast<float>(info.channels));
        }
    }
    sf_close(file);
    return mono;
}

WavWriter::WavWriter(const std::string& path, int channels, double sample_rate) : m_file(path), m_channels(channels) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = static_cast<int>(std::lround(sample_rate));
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    m_sndfile = sf_open(m_file.TempPath().c_str(), SFM_WRITE, &info);
    if (m_sndfile == nullptr) throw HostError("cannot write " + path + ": " + sf_strerror(nullptr));
}

WavWriter::~WavWriter() {
    if (m_sndfile != nullptr) sf_close(m_sndfile);
}

void WavWriter::Write(const std::vector<const float*>& channels, int32_t frames) {
    m_interleaved.resize(static_cast<size_t>(frames) * static_cast<size_t>(m_channels));
    for (int32_t j = 0; j < frames; ++j)
        for (int c = 0; c < m_channels; ++c)
            m_interleaved[static_cast<size_t>(j * m_channels + c)] = channels[static_cast<size_t>(c)][j];
    if (sf_writef_float(m_sndfile, m_interleaved.data(), frames) != frames)
        throw HostError("cannot write " + m_file.Target() + ": " + sf_strerror(m_sndfile));
}

void WavWriter::Commit() {
    const int status = sf_close(m_sndfile);
    m_sndfile = nullptr;
    if (status != 0) throw HostError("cannot write " + m_file.Target() + ": " + sf_error_number(status));
    m_file.Commit();
}

}  // namespace vxhost
