// One scenario that passes through every path of the sample loop (band
// limit, a moved lowest partial, both modes, a closed gate, the ratio near 1
// at a phase restart, a pitch change per sample), rendered on every target
// and held bit for bit against the values the x86_64 build rendered.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sumtone_host.h"

namespace {

std::vector<float> RenderScenario() {
    Sumtone s;
    std::vector<float> out;
    for (int block = 0; block < 4; ++block) {
        Inputs in;
        in.n = 0.6f - 0.1f * block, in.maxfreq = block == 3 ? 40.0f : 1500.0f, in.mode = block < 2 ? 1 : 2;
        s.Set(in);
        for (int j = 0; j < 256; ++j) {
            const float t = static_cast<float>(block * 256 + j) / 1024.0f;
            s.host.Buffer(FC)[j] = 0.45f + 0.1f * t;
            s.host.Buffer(FM1)[j] = block == 3 ? -0.031f : 0.1f + 0.01f * t;
            s.host.Buffer(A)[j] = block == 2 && j >= 128 ? 0.1f : 0.02f + 0.07f * t;
            s.host.Buffer(DETUNE)[j] = block == 1 ? 3.0f * t : 0.0f;
            s.host.Buffer(GATE)[j] = block == 2 && j == 128 ? 0.0f : 1.0f;
        }
        const std::vector<float> block_out = s.Render(1);
        out.insert(out.end(), block_out.begin(), block_out.end());
    }
    return out;
}

// Every 16th sample as x86_64 rendered it.
const float kReference[64] = {
    0x0p+0,         0x1.6c42c2p-2,   0x1.8f12ap-2,   0x1.f086e8p-3,  0x1.eb048p-5,   -0x1.e2a002p-4, -0x1.21ca9ep-2,
    -0x1.9203b2p-2, -0x1.cdb2dep-3,  0x1.104112p-2,  0x1.72920ep-2,  0x1.cc9bc4p-3,  0x1.1b0866p-4,  -0x1.4e7bdcp-4,
    -0x1.ecec3ep-3, -0x1.861698p-2,  -0x1.87992ap-4, 0x1.520f5ap-2,  0x1.02bb9cp-2,  0x1.00a5ccp-3,  0x1.2500d2p-9,
    -0x1.2c944p-3,  -0x1.7874ap-2,   -0x1.a3f8b6p-4, 0x1.08f6b2p-2,  0x1.8edd28p-3,  0x1.c4ee62p-4,  0x1.8bb232p-7,
    -0x1.5ef644p-3, -0x1.bc3ed8p-2,  0x1.3c1b7ap-3,  0x1.5c6d32p-3,  0x1.3b3708p-4,  0x1.a1347ep-7,  -0x1.12cf74p-3,
    -0x1.7718d6p-1, -0x1.a9dbfep-6,  0x1.370a42p-5,  0x1.d7ae5ep-5,  0x1.07b6ap-6,   0x0p+0,         -0x1.48f482p-3,
    -0x1.18b60ap-4, -0x1.81bb4ap-11, -0x1.a5df78p-4, -0x1.78f00cp-2, -0x1.20ff72p-4, -0x1.601074p-6, 0x1.3fda28p-5,
    -0x1.e75c2ap-5, -0x1.0fae4ep-4,  0x1.ce7b52p-6,  0x1.8fbbep-7,   -0x1.05e296p-6, 0x1.848022p-3,  0x1.2de244p-2,
    -0x1.5de728p-3, -0x1.71c4e6p-1,  -0x1.4bb5a6p-1, -0x1.91806ep-2, -0x1.a7d016p-4, 0x1.6e072ep-5,  -0x1.0f0c6cp-12,
    -0x1.1626cep-3,
};

}  // namespace

TEST(SumtoneAcrossTargets, TheScenarioRendersTheX86_64SamplesBitForBit) {
    const std::vector<float> out = RenderScenario();
    if (std::getenv("SUMTONE_PRINT_REFERENCE")) {
        for (size_t j = 0; j < out.size(); j += 16) std::printf("%a,%c", out[j], j % 64 == 48 ? '\n' : ' ');
        return;
    }
    ASSERT_EQ(out.size(), 16u * 64u);
    for (size_t k = 0; k < 64; ++k) {
        ASSERT_EQ(std::memcmp(&kReference[k], &out[16 * k], sizeof(float)), 0)
            << "sample " << 16 * k << " is " << out[16 * k] << " (" << std::hexfloat << out[16 * k]
            << "), the x86_64 rendering " << kReference[k];
    }
}
