// Reference renders kept as files of little-endian float32 samples: a test
// renders, compares bit for bit with the stored samples and names the first
// sample that moved. With VX_WRITE_REFERENCE=1 in the environment the test
// stores what it rendered instead (after a deliberate change of the sound).
#ifndef VX_TESTS_STOREDSAMPLES_H
#define VX_TESTS_STOREDSAMPLES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace vxtest {

inline std::vector<float> ReadStoredSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<float> samples;
    unsigned char bytes[4];
    while (in.read(reinterpret_cast<char*>(bytes), 4)) {
        const uint32_t word = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
        float value;
        std::memcpy(&value, &word, sizeof value);
        samples.push_back(value);
    }
    return samples;
}

inline void WriteStoredSamples(const std::string& path, const std::vector<float>& samples) {
    std::ofstream out(path, std::ios::binary);
    for (float value : samples) {
        uint32_t word;
        std::memcpy(&word, &value, sizeof word);
        const unsigned char bytes[4] = {static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
                                        static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 24)};
        out.write(reinterpret_cast<const char*>(bytes), 4);
    }
}

// Fails the test at the first sample whose bits differ from the stored ones.
inline void ExpectStoredSamples(const std::string& path, const std::vector<float>& samples) {
    if (std::getenv("VX_WRITE_REFERENCE") != nullptr) WriteStoredSamples(path, samples);
    const std::vector<float> reference = ReadStoredSamples(path);
    ASSERT_EQ(reference.size(), samples.size()) << "reference " << path;
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(std::memcmp(&samples[i], &reference[i], sizeof(float)), 0)
            << "first sample that moved: " << i << ", " << std::hexfloat << samples[i] << " instead of "
            << reference[i];
    }
}

}  // namespace vxtest

#endif  // VX_TESTS_STOREDSAMPLES_H
