// Audio files through libsndfile (or, in a build without it, WAV through
// WavFile): recordings read as one channel at the
// render's rate, and renders written in the chosen format to an output
// target, with full-scale clipping, TPDF dither at 16 bits, and bytes that
// depend on nothing but the samples (no time stamps), so the same render
// gives the same file.
#ifndef VXHOST_TOOL_AUDIOFILE_H
#define VXHOST_TOOL_AUDIOFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "AudioFormat.h"
#include "OutputTarget.h"
#include "WavFile.h"

typedef struct sf_private_tag SNDFILE;

namespace vxhost {

// All channels mixed to one; HostError when the file cannot be read or its
// rate differs from `sample_rate` (no resampling happens behind your back).
std::vector<float> ReadAudioMono(const std::string& path, double sample_rate);

class AudioWriter {
public:
    // `frames` is the render's whole length: a WAV or AIFF header sent down a
    // pipe cannot be finished afterwards, so it is made complete up front.
    // HostError when the file cannot be started.
    AudioWriter(OutputTarget& target, const AudioFormat& format, int channels, double sample_rate, uint64_t frames);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    void Write(const std::vector<const float*>& channels, int32_t frames);
    // Finishes the file and puts it in place.
    void Commit();

    // The file's size for `frames` frames, without its header.
    static uint64_t DataBytes(const AudioFormat& format, int channels, uint64_t frames);

private:
    [[noreturn]] void Fail(const std::string& reason);

    OutputTarget& m_target;
    AudioFormat m_format;
    int m_channels;
    SNDFILE* m_sndfile = nullptr;
    std::vector<uint8_t> m_tail;  // bytes after the samples, sent last (a pipe's WAV or AIFF)
    std::vector<float> m_interleaved;
    std::vector<int32_t> m_whole;
    std::vector<uint8_t> m_bytes;
    SampleQuantizer m_quantizer;
};

}  // namespace vxhost

#endif  // VXHOST_TOOL_AUDIOFILE_H
