// The WAV files of the build without libsndfile: what it writes reads back
// as the same samples (through libsndfile where there is one, and through
// its own reader everywhere), whole-number samples are clipped and dithered
// as on the libsndfile path, and a file too large for WAV is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "HostError.h"
#include "WavFile.h"

#if VX_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

using vxhost::SampleDepth;

std::string WriteWav(const std::string& name, SampleDepth depth, const std::vector<std::vector<float>>& channels,
                     uint32_t rate) {
    const int32_t frames = static_cast<int32_t>(channels[0].size());
    std::vector<uint8_t> bytes =
        vxhost::WavHeader(depth, static_cast<int>(channels.size()), rate, static_cast<uint64_t>(frames));
    std::vector<const float*> pointers;
    for (const auto& c : channels) pointers.push_back(c.data());
    vxhost::SampleQuantizer quantizer;
    // In two calls, as a render writes block by block.
    const int32_t half = frames / 2;
    vxhost::AppendWavSamples(bytes, pointers, half, depth, quantizer);
    for (const float*& p : pointers) p += half;
    vxhost::AppendWavSamples(bytes, pointers, frames - half, depth, quantizer);
    if (bytes.size() % 2 != 0) bytes.push_back(0);
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

const std::vector<float> kLeft = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -3.0f, 0.25f, 1e-6f, -0.75f, 0.1f};
const std::vector<float> kRight = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, -0.1f, -0.2f};

TEST(WavFile, FloatSamplesReadBackExactlyAndChannelsMixToOne) {
    const std::string path = WriteWav("float.wav", SampleDepth::Float32, {kLeft, kRight}, 48000);
    const std::vector<float> mono = vxhost::ReadWavMono(path, 48000);
    ASSERT_EQ(mono.size(), kLeft.size());
    for (size_t i = 0; i < mono.size(); ++i)
        EXPECT_FLOAT_EQ(mono[i], static_cast<float>((static_cast<double>(kLeft[i]) + kRight[i]) / 2.0)) << i;
#if VX_HAVE_SNDFILE
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(kLeft.size()));
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> both(kLeft.size() * 2);
    ASSERT_EQ(sf_readf_float(file, both.data(), static_cast<sf_count_t>(kLeft.size())),
              static_cast<sf_count_t>(kLeft.size()));
    sf_close(file);
    for (size_t i = 0; i < kLeft.size(); ++i) {
        EXPECT_EQ(both[2 * i], kLeft[i]) << "float samples are not clipped";
        EXPECT_EQ(both[2 * i + 1], kRight[i]);
    }
#endif
}

TEST(WavFile, WholeNumberSamplesAreClippedAtFullScaleAndDitheredAtSixteenBits) {
    const std::vector<float> with_nan = {
        0.5f,   2.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -0.25f, 0.0f};
    // 24 bits: exact steps, clipped to one step below full scale, NaN at the lowest value.
    const std::vector<float> read24 =
        vxhost::ReadWavMono(WriteWav("pcm24.wav", SampleDepth::Pcm24, {with_nan}, 1000), 1000);
    ASSERT_EQ(read24.size(), with_nan.size());
    EXPECT_EQ(read24[0], 0.5f);
    EXPECT_EQ(read24[1], static_cast<float>(8388607.0 / 8388608.0));
    EXPECT_EQ(read24[2], -1.0f);
    EXPECT_EQ(read24[3], -1.0f);
    EXPECT_EQ(read24[4], static_cast<float>(8388607.0 / 8388608.0));
    EXPECT_EQ(read24[5], -0.25f);
    // 16 bits: within one step of the value either side (triangular dither), clipped the same way.
    const std::vector<float> read16 =
        vxhost::ReadWavMono(WriteWav("pcm16.wav", SampleDepth::Pcm16, {with_nan}, 1000), 1000);
    ASSERT_EQ(read16.size(), with_nan.size());
    EXPECT_NEAR(read16[0], 0.5f, 1.0 / 32768.0);
    EXPECT_LE(read16[1], 32767.0 / 32768.0);
    EXPECT_GE(read16[1], 32766.0 / 32768.0);
    EXPECT_EQ(read16[2], -1.0f);
    EXPECT_EQ(read16[3], -1.0f);
    EXPECT_NEAR(read16[5], -0.25f, 1.0 / 32768.0);
    // The dither sequence starts the same in every writer, so the same samples give the same bytes.
    vxhost::SampleQuantizer a, b;
    for (int i = 0; i < 100; ++i) EXPECT_EQ(a(0.3f, SampleDepth::Pcm16), b(0.3f, SampleDepth::Pcm16));
}

TEST(WavFile, OddLengthsRatesAndTooLargeFiles) {
    // Three 24-bit samples make an odd data chunk, padded to an even length.
    const std::string odd = WriteWav("odd.wav", SampleDepth::Pcm24, {{0.5f, -0.5f, 0.25f}}, 22050);
    EXPECT_EQ(vxhost::ReadWavMono(odd, 22050), (std::vector<float>{0.5f, -0.5f, 0.25f}));
    EXPECT_THROW(vxhost::ReadWavMono(odd, 44100), vxhost::HostError) << "no resampling behind your back";
    EXPECT_THROW(vxhost::ReadWavMono(::testing::TempDir() + "no-such.wav", 44100), vxhost::HostError);
    const std::string text = ::testing::TempDir() + "text.wav";
    std::ofstream(text) << "RIFF, but not really";
    EXPECT_THROW(vxhost::ReadWavMono(text, 44100), vxhost::HostError);
    // 4 GiB of data does not fit the header's 32-bit sizes.
    EXPECT_THROW(vxhost::WavHeader(SampleDepth::Float32, 2, 44100, 1ull << 29), vxhost::HostError);
    EXPECT_NO_THROW(vxhost::WavHeader(SampleDepth::Pcm16, 2, 44100, (1ull << 30) - 64));
}

}  // namespace
