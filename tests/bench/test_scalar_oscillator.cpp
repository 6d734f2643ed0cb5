// The benchmark's plain oscillator loop gives the plug-in's output bits, call
// by call, for inputs drawn at random in each regime the loop has a path for.
// Without that, "the plug-in costs half its own scalar loop" would compare
// the plug-in with some other computation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "BenchHost.h"
#include "ScalarOscillator.h"
#include "Scenarios.h"
#include "TestHost.h"

namespace {

using vxbench::OscillatorInputs;
using vxbench::OscillatorState;

const vxhost::PluginLibrary& Sumtone() {
    static std::unique_ptr<vxhost::PluginLibrary> library;
    if (!library) {
        std::string error;
        library = vxhost::PluginLibrary::Load(vxbench::PluginPath("sumtone"), &error);
        if (!library) throw std::runtime_error(error);
    }
    return *library;
}

uint32_t Bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Draws a value for `pin` at sample `j` of call `call`.
using Draw = std::function<float(std::mt19937& rng, int32_t pin, int32_t call, int32_t j)>;

float Uniform(std::mt19937& rng, float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

// Runs `calls` processing calls of random sizes and offsets through the
// plug-in in the test host and through the scalar loop on the same buffers,
// and reports the first sample whose bits differ.
void ExpectSameBits(uint32_t seed, int32_t calls, const Draw& draw) {
    constexpr int32_t kBlock = 512;
    std::mt19937 rng(seed);
    vxhost::TestHost host(Sumtone());
    host.Open(vxbench::kSampleRate, kBlock);
    OscillatorState reference(vxbench::kSampleRate);
    std::vector<float> expected(kBlock);

    for (int32_t call = 0; call < calls; ++call) {
        host.BeginBlock();
        const int32_t frames = std::uniform_int_distribution<int32_t>(1, kBlock)(rng);
        const int32_t offset = std::uniform_int_distribution<int32_t>(0, kBlock - frames)(rng);
        for (int32_t pin = vxbench::OSC_FC; pin <= vxbench::OSC_MAXFREQ; ++pin) {
            for (int32_t j = 0; j < kBlock; ++j) host.Buffer(pin)[j] = draw(rng, pin, call, j);
        }
        const int16_t mode = std::uniform_int_distribution<int16_t>(1, 2)(rng);
        host.SetSetting(vxbench::OSC_MODE, mode);
        reference.mode = mode;

        host.Process(offset, frames);
        const OscillatorInputs in{host.Buffer(vxbench::OSC_FC).data(),     host.Buffer(vxbench::OSC_FM1).data(),
                                  host.Buffer(vxbench::OSC_N).data(),      host.Buffer(vxbench::OSC_A).data(),
                                  host.Buffer(vxbench::OSC_GATE).data(),   host.Buffer(vxbench::OSC_DETUNE).data(),
                                  host.Buffer(vxbench::OSC_MAXFREQ).data()};
        vxbench::RenderScalar(reference, in, expected.data(), offset, frames);

        const std::vector<float>& actual = host.Buffer(vxbench::OSC_OUTPUT);
        for (int32_t j = offset; j < offset + frames; ++j) {
            if (Bits(actual[j]) != Bits(expected[j])) {
                std::ostringstream where;
                where.precision(9);
                where << "seed " << seed << ", call " << call << " (offset " << offset << ", " << frames
                      << " samples, mode " << mode << "), sample " << j << ": plug-in " << actual[j] << ", scalar loop "
                      << expected[j] << "; fc " << in.fc[j] << " fm1 " << in.fm1[j] << " N " << in.n[offset] << " a "
                      << in.a[j] << " gate " << in.gate[j] << " detune " << in.detune[j] << " maxfreq "
                      << in.maxfreq[offset];
                FAIL() << where.str();
            }
        }
    }
}

constexpr int32_t kCalls = 60;

// A gate that is mostly open, now and then closed (restarting the phases)
// and now and then negative (which sounds too).
float Gate(std::mt19937& rng) {
    const float u = Uniform(rng, 0.0f, 1.0f);
    return u < 0.03f ? 0.0f : (u < 0.06f ? -1.0f : 1.0f);
}

TEST(ScalarLoopMatchesPlugin, HeldNotesInTheNormalRange) {
    // Each call holds one setting, as a played note does.
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        float held[7] = {};
        int32_t held_call = -1;
        ExpectSameBits(seed, kCalls, [&](std::mt19937& rng, int32_t pin, int32_t call, int32_t) {
            if (call != held_call) {
                held_call = call;
                held[vxbench::OSC_FC] = Uniform(rng, 0.1f, 0.9f);
                held[vxbench::OSC_FM1] = Uniform(rng, 0.0f, 0.2f);
                held[vxbench::OSC_N] = Uniform(rng, 0.0f, 10.0f);
                held[vxbench::OSC_A] = Uniform(rng, 0.0f, 0.099f);
                held[vxbench::OSC_GATE] = 1.0f;
                held[vxbench::OSC_DETUNE] = Uniform(rng, -2.0f, 2.0f);
                held[vxbench::OSC_MAXFREQ] = Uniform(rng, 500.0f, 2205.0f);
            }
            return held[pin];
        });
    }
}

TEST(ScalarLoopMatchesPlugin, EveryInputMovingAtEverySample) {
    for (uint32_t seed = 11; seed <= 14; ++seed) {
        ExpectSameBits(seed, kCalls, [](std::mt19937& rng, int32_t pin, int32_t, int32_t) {
            switch (pin) {
                case vxbench::OSC_FC:
                    return Uniform(rng, 0.0f, 0.95f);
                case vxbench::OSC_FM1:
                    return Uniform(rng, -0.2f, 0.2f);
                case vxbench::OSC_N:
                    return Uniform(rng, 0.0f, 10.0f);
                case vxbench::OSC_A:
                    return Uniform(rng, -0.09f, 0.15f);
                case vxbench::OSC_GATE:
                    return Gate(rng);
                case vxbench::OSC_DETUNE:
                    return Uniform(rng, -5.0f, 5.0f);
                default:
                    return Uniform(rng, 0.0f, 2205.0f);
            }
        });
    }
}

TEST(ScalarLoopMatchesPlugin, PartialsFoldingThroughZeroFrequency) {
    // Negative spacings, often with the lowest partial above the limit, so
    // that the series starts further down.
    for (uint32_t seed = 21; seed <= 24; ++seed) {
        ExpectSameBits(seed, kCalls, [](std::mt19937& rng, int32_t pin, int32_t, int32_t) {
            switch (pin) {
                case vxbench::OSC_FC:
                    return Uniform(rng, 0.3f, 0.8f);
                case vxbench::OSC_FM1:
                    return Uniform(rng, -0.2f, -0.01f);
                case vxbench::OSC_N:
                    return Uniform(rng, 0.0f, 5.0f);
                case vxbench::OSC_A:
                    return Uniform(rng, 0.0f, 0.09f);
                case vxbench::OSC_GATE:
                    return Gate(rng);
                case vxbench::OSC_DETUNE:
                    return 0.0f;
                default:
                    return Uniform(rng, 10.0f, 400.0f);
            }
        });
    }
}

TEST(ScalarLoopMatchesPlugin, SpacingTooSmallToLimit) {
    for (uint32_t seed = 31; seed <= 32; ++seed) {
        ExpectSameBits(seed, kCalls, [](std::mt19937& rng, int32_t pin, int32_t, int32_t) {
            switch (pin) {
                case vxbench::OSC_FC:
                    return Uniform(rng, -0.5f, 0.9f);
                case vxbench::OSC_FM1:
                    return 0.0f;
                case vxbench::OSC_N:
                    return Uniform(rng, 0.0f, 3.0f);
                case vxbench::OSC_A:
                    return Uniform(rng, 0.0f, 0.09f);
                case vxbench::OSC_GATE:
                    return Gate(rng);
                case vxbench::OSC_DETUNE:
                    return Uniform(rng, -0.00001f, 0.00001f);
                default:
                    return Uniform(rng, 0.0f, 100.0f);
            }
        });
    }
}

TEST(ScalarLoopMatchesPlugin, RatiosNearOneAtPhaseRestarts) {
    // |1 - a·e^(iβ)| is tiny at the first sample after each closed gate sample.
    for (uint32_t seed = 41; seed <= 44; ++seed) {
        ExpectSameBits(seed, kCalls, [](std::mt19937& rng, int32_t pin, int32_t, int32_t) {
            switch (pin) {
                case vxbench::OSC_FC:
                    return Uniform(rng, 0.2f, 0.7f);
                case vxbench::OSC_FM1:
                    return Uniform(rng, 0.0f, 0.1f);
                case vxbench::OSC_N:
                    return Uniform(rng, 0.0f, 6.0f);
                case vxbench::OSC_A:
                    return Uniform(rng, 0.09999f, 0.10001f);
                case vxbench::OSC_GATE:
                    return Uniform(rng, 0.0f, 1.0f) < 0.2f ? 0.0f : 1.0f;
                case vxbench::OSC_DETUNE:
                    return Uniform(rng, -1.0f, 1.0f);
                default:
                    return 2205.0f;
            }
        });
    }
}

TEST(ScalarLoopMatchesPlugin, RatiosAboveOneWithPowersPastTheDoubleRange) {
    // a up to 10 with up to 1000 partials: a^(n+1) overflows.
    for (uint32_t seed = 51; seed <= 52; ++seed) {
        ExpectSameBits(seed, 20, [](std::mt19937& rng, int32_t pin, int32_t, int32_t) {
            switch (pin) {
                case vxbench::OSC_FC:
                    return Uniform(rng, 0.0f, 0.5f);
                case vxbench::OSC_FM1:
                    return Uniform(rng, 0.0001f, 0.001f);
                case vxbench::OSC_N:
                    return Uniform(rng, 0.0f, 100.0f);
                case vxbench::OSC_A:
                    return Uniform(rng, 0.1f, 1.0f);
                case vxbench::OSC_GATE:
                    return 1.0f;
                case vxbench::OSC_DETUNE:
                    return 0.0f;
                default:
                    return 2205.0f;
            }
        });
    }
}

}  // namespace
