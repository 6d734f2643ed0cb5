#include "AudioFile.h"

#if VXHOST_HAVE_SNDFILE
#include <sndfile.h>
#endif
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "HostError.h"
#include "Interrupts.h"
#include "WavFile.h"

namespace vxhost {

namespace {

void WriteAllBytes(int fd, const uint8_t* data, size_t size, const std::string& name) {
    size_t done = 0;
    while (done < size) {
        const auto n = write(fd, data + done, static_cast<unsigned int>(std::min<size_t>(size - done, 1u << 30)));
        if (n < 0 && errno == EINTR && !Interrupted()) continue;
        if (n < 0) throw HostError("cannot write " + name + ": " + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
}

}  // namespace

uint64_t AudioWriter::DataBytes(const AudioFormat& format, int channels, uint64_t frames) {
    return frames * static_cast<uint64_t>(channels) * static_cast<uint64_t>(BytesPerSample(format.depth));
}

void AudioWriter::Fail(const std::string& reason) {
    throw HostError("cannot write " + m_target.Name() + ": " + (Interrupted() ? std::string("interrupted") : reason));
}

#if !VXHOST_HAVE_SNDFILE

std::vector<float> ReadAudioMono(const std::string& path, double sample_rate) { return ReadWavMono(path, sample_rate); }

// WAV only: its header is complete before the first sample, so a pipe is
// written the same way as a file.
AudioWriter::AudioWriter(OutputTarget& target, const AudioFormat& format, int channels, double sample_rate,
                         uint64_t frames)
    : m_target(target), m_format(format), m_channels(channels) {
    if (format.container != Container::Wav) Fail("this build of vxhost writes WAV files only");
    const std::vector<uint8_t> header =
        WavHeader(format.depth, channels, static_cast<uint32_t>(std::lround(sample_rate)), frames);
    WriteAllBytes(target.Descriptor(), header.data(), header.size(), target.Name());
    m_tail.assign(DataBytes(format, channels, frames) % 2, 0);  // a data chunk of odd length is padded
}

AudioWriter::~AudioWriter() = default;

void AudioWriter::Write(const std::vector<const float*>& channels, int32_t frames) {
    m_bytes.clear();
    AppendWavSamples(m_bytes, channels, frames, m_format.depth, m_quantizer);
    WriteAllBytes(m_target.Descriptor(), m_bytes.data(), m_bytes.size(), m_target.Name());
}

void AudioWriter::Commit() {
    if (!m_tail.empty()) WriteAllBytes(m_target.Descriptor(), m_tail.data(), m_tail.size(), m_target.Name());
    m_target.Commit();
}

#else

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

namespace {

int SndfileFormat(const AudioFormat& format) {
    int container = SF_FORMAT_WAV;
    switch (format.container) {
        case Container::Wav:
            container = SF_FORMAT_WAV;
            break;
        case Container::Aiff:
            container = SF_FORMAT_AIFF;
            break;
        case Container::Flac:
            container = SF_FORMAT_FLAC;
            break;
        case Container::Au:
            container = SF_FORMAT_AU;
            break;
    }
    switch (format.depth) {
        case SampleDepth::Pcm16:
            return container | SF_FORMAT_PCM_16;
        case SampleDepth::Pcm24:
            return container | SF_FORMAT_PCM_24;
        case SampleDepth::Float32:
            break;
    }
    return container | SF_FORMAT_FLOAT;
}

bool CanStream(Container container) { return container == Container::Flac || container == Container::Au; }

// A file in memory that keeps only its first `head` bytes and whatever is
// written past `tail_from`, and counts the rest: enough to learn the header
// (and any trailer) that libsndfile writes for a given number of frames.
struct HeaderProbe {
    std::vector<uint8_t> head = std::vector<uint8_t>(65536, 0);
    std::vector<uint8_t> tail;
    sf_count_t tail_from = -1;  // unknown until the header is written
    sf_count_t length = 0;
    sf_count_t position = 0;

    static sf_count_t Length(void* self) { return static_cast<HeaderProbe*>(self)->length; }
    static sf_count_t Seek(sf_count_t offset, int whence, void* self) {
        auto* probe = static_cast<HeaderProbe*>(self);
        const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? probe->position : probe->length;
        probe->position = std::max<sf_count_t>(0, base + offset);
        return probe->position;
    }
    static sf_count_t Read(void*, sf_count_t, void*) { return 0; }
    static sf_count_t Tell(void* self) { return static_cast<HeaderProbe*>(self)->position; }
    static sf_count_t Write(const void* data, sf_count_t count, void* self) {
        auto* probe = static_cast<HeaderProbe*>(self);
        const auto* bytes = static_cast<const uint8_t*>(data);
        for (sf_count_t i = 0; i < count; ++i) {
            const sf_count_t at = probe->position + i;
            if (at < static_cast<sf_count_t>(probe->head.size())) probe->head[static_cast<size_t>(at)] = bytes[i];
            if (probe->tail_from >= 0 && at >= probe->tail_from) {
                const size_t index = static_cast<size_t>(at - probe->tail_from);
                if (probe->tail.size() <= index) probe->tail.resize(index + 1, 0);
                probe->tail[index] = bytes[i];
            }
        }
        probe->position += count;
        probe->length = std::max(probe->length, probe->position);
        return count;
    }
};

void SetUpEncoder(SNDFILE* file) {
    // The PEAK chunk carries the time of writing: left out, the same render
    // gives the same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

}  // namespace

AudioWriter::AudioWriter(OutputTarget& target, const AudioFormat& format, int channels, double sample_rate,
                         uint64_t frames)
    : m_target(target), m_format(format), m_channels(channels) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = static_cast<int>(std::lround(sample_rate));
    info.format = SndfileFormat(format);
    if (target.Seekable() || CanStream(format.container)) {
        m_sndfile = sf_open_fd(target.Descriptor(), SFM_WRITE, &info, SF_FALSE);
        if (m_sndfile == nullptr) Fail(sf_strerror(nullptr));
        SetUpEncoder(m_sndfile);
        return;
    }
    // WAV and AIFF go back to their header at the end to fill in sizes, which
    // a pipe does not allow. The size is known, so the header is made first
    // from silence of the same length, sent, and the samples follow it in the
    // same encoding, without a header of their own.
    HeaderProbe probe;
    SF_VIRTUAL_IO io{&HeaderProbe::Length, &HeaderProbe::Seek, &HeaderProbe::Read, &HeaderProbe::Write,
                     &HeaderProbe::Tell};
    SNDFILE* silent = sf_open_virtual(&io, SFM_WRITE, &info, &probe);
    if (silent == nullptr) Fail(sf_strerror(nullptr));
    SetUpEncoder(silent);
    // Where the samples start: the header may have shrunk when the PEAK chunk was left out.
    const sf_count_t header = probe.position;
    probe.tail_from = header + static_cast<sf_count_t>(DataBytes(format, channels, frames));
    const std::vector<int32_t> zeros(static_cast<size_t>(65536) * static_cast<size_t>(channels), 0);
    for (uint64_t done = 0; done < frames;) {
        const sf_count_t n = static_cast<sf_count_t>(std::min<uint64_t>(65536, frames - done));
        sf_writef_int(silent, zeros.data(), n);
        done += static_cast<uint64_t>(n);
    }
    sf_close(silent);
    if (header > static_cast<sf_count_t>(probe.head.size())) Fail("the header is too large to stream");
    WriteAllBytes(target.Descriptor(), probe.head.data(), static_cast<size_t>(header), target.Name());
    m_tail = probe.tail;
    SF_INFO raw = info;
    raw.format = SF_FORMAT_RAW | (info.format & SF_FORMAT_SUBMASK) |
                 (format.container == Container::Aiff ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE);
    m_sndfile = sf_open_fd(target.Descriptor(), SFM_WRITE, &raw, SF_FALSE);
    if (m_sndfile == nullptr) Fail(sf_strerror(nullptr));
}

AudioWriter::~AudioWriter() {
    if (m_sndfile != nullptr) sf_close(m_sndfile);
}

void AudioWriter::Write(const std::vector<const float*>& channels, int32_t frames) {
    const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(m_channels);
    sf_count_t written = 0;
    if (m_format.depth == SampleDepth::Float32) {
        m_interleaved.resize(count);
        for (int32_t j = 0; j < frames; ++j)
            for (int c = 0; c < m_channels; ++c)
                m_interleaved[static_cast<size_t>(j * m_channels + c)] = channels[static_cast<size_t>(c)][j];
        written = sf_writef_float(m_sndfile, m_interleaved.data(), frames);
    } else {
        // Whole-number samples are made here, so that no float outside the
        // range ever becomes an integer; libsndfile takes them at the top of an int.
        const int shift = m_format.depth == SampleDepth::Pcm16 ? 16 : 8;
        m_whole.resize(count);
        for (int32_t j = 0; j < frames; ++j)
            for (int c = 0; c < m_channels; ++c)
                m_whole[static_cast<size_t>(j * m_channels + c)] =
                    m_quantizer(channels[static_cast<size_t>(c)][j], m_format.depth) * (1 << shift);
        written = sf_writef_int(m_sndfile, m_whole.data(), frames);
    }
    if (written != frames) Fail(sf_strerror(m_sndfile));
}

void AudioWriter::Commit() {
    const int status = sf_close(m_sndfile);
    m_sndfile = nullptr;
    if (status != 0) Fail(sf_error_number(status));
    if (!m_tail.empty()) WriteAllBytes(m_target.Descriptor(), m_tail.data(), m_tail.size(), m_target.Name());
    m_target.Commit();
}

#endif

}  // namespace vxhost
