// Audio files through libsndfile: recordings read as one channel at the
// render's rate, and renders written as 32-bit float WAV.
#ifndef VXHOST_TOOL_AUDIOFILE_H
#define VXHOST_TOOL_AUDIOFILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SafeOutput.h"

typedef struct sf_private_tag SNDFILE;

namespace vxhost {

// All channels mixed to one; HostError when the file cannot be read or its
// rate differs from `sample_rate` (no resampling happens behind your back).
std::vector<float> ReadAudioMono(const std::string& path, double sample_rate);

class WavWriter {
public:
    // HostError when the file cannot be created.
    WavWriter(const std::string& path, int channels, double sample_rate);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    void Write(const std::vector<const float*>& channels, int32_t frames);
    // Finishes the file and puts it in place.
    void Commit();

private:
    PendingFile m_file;
    SNDFILE* m_sndfile = nullptr;
    int m_channels;
    std::vector<float> m_interleaved;
};

}  // namespace vxhost

#endif  // VXHOST_TOOL_AUDIOFILE_H
