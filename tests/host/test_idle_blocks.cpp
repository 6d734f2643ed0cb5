// Modules that hold still (sleeping plug-ins, step sources between steps,
// combiners of inputs that hold) are skipped block after block; what reaches
// the output must be what computing every block would give, whatever the
// lengths of the blocks and wherever the changes fall.
#include <algorithm>
#include <cmath>

#include "engine_support.h"

using namespace vxhost;

namespace {

// The value a step list holds at `clock`.
float StepValue(const std::vector<StepPoint>& points, uint64_t clock, float start = 0.0f) {
    float value = start;
    for (const StepPoint& p : points)
        if (p.clock <= clock) value = p.value;
    return value;
}

}  // namespace

TEST(IdleBlocks, HeldInputsGiveTheSameSamplesAsComputingEveryBlock) {
    // Steps on block edges, inside blocks and far apart, so that the
    // sources, the multiplier and the mixer each hold still for a while,
    // then change; blocks shrink and grow again, so that a held stretch
    // must cover the longer block before it may be skipped.
    const std::vector<StepPoint> a = {{0, 0.5f}, {64, 0.25f}, {70, 0.0f}, {400, 2.0f}, {401, -0.0f}, {900, 1.5f}};
    const std::vector<StepPoint> b = {{10, 3.0f}, {128, 0.0f}, {500, 4.0f}};
    Engine engine(1000.0, 64);
    auto& steps_a = engine.Emplace<StepNode>("a", a);
    auto& steps_b = engine.Emplace<StepNode>("b", b);
    auto& product = engine.Emplace<MultiplierNode>("product", 3);
    auto& mix = engine.Emplace<MixerNode>("mix", 3, std::vector<float>{1.0f, 0.5f, 2.0f});
    Connect(engine, steps_a, "out", product, "in1");
    Connect(engine, steps_b, "out", product, "in2");
    product.SetValue(product.FindPin("in3"), 0.75);  // unwired
    Connect(engine, product, "out", mix, "in1");
    Connect(engine, steps_b, "out", mix, "in2");
    mix.SetValue(mix.FindPin("in3"), 0.125);
    const PinRef out = Pin(engine, mix, "out");
    const PinRef prod = Pin(engine, product, "out");

    const int32_t lengths[] = {64, 64, 7, 64, 1, 33, 64, 64, 64, 64, 20, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64};
    uint64_t clock = 0;
    for (int round = 0; round < 3; ++round) {
        for (int32_t n : lengths) {
            engine.Run(n);
            for (int32_t j = 0; j < n; ++j) {
                const uint64_t at = clock + static_cast<uint64_t>(j);
                const float pa = StepValue(a, at), pb = StepValue(b, at);
                const float p = pa * pb * 0.75f;
                ASSERT_EQ(p, engine.Output(prod)[j]) << "product at " << at;
                ASSERT_EQ(p + 0.5f * pb + 2.0f * 0.125f, engine.Output(out)[j]) << "mix at " << at;
            }
            clock += static_cast<uint64_t>(n);
        }
    }
}

// A voice that sleeps for long stretches and wakes on its notes renders the
// same samples in blocks of any length: the sleeping modules' settled
// outputs, presented once and then left alone, are what the next blocks read.
TEST(IdleBlocks, ASleepingVoiceSoundsTheSameInAnyBlockLength) {
    const auto render = [](int32_t block, const std::vector<int32_t>& lengths) {
        Engine engine(8000.0, block);
        auto& osc = engine.Emplace<PluginNode>(SharedPlugin("sumtone"), "osc");
        auto& env = engine.Emplace<PluginNode>(SharedPlugin("ramplet"), "env");
        auto& gate = engine.Emplace<StepNode>(
            "gate", std::vector<StepPoint>{{100, 1.0f}, {900, 0.0f}, {5000, 1.0f}, {5003, 0.0f}, {9000, 1.0f}});
        auto& vca = engine.Emplace<MultiplierNode>("vca");
        auto& mix = engine.Emplace<MixerNode>("mix", 2);
        osc.SetValue(osc.FindPin("fc"), 0.5);
        osc.SetValue(osc.FindPin("fm1"), 0.1);
        osc.SetValue(osc.FindPin("N"), 0.3);
        osc.SetValue(osc.FindPin("a"), 0.05);
        osc.SetValue(osc.FindPin("maxfreq"), 300.0);
        env.SetValue(env.FindPin("Attack"), 0.2);
        env.SetValue(env.FindPin("Release"), 0.3);
        Connect(engine, gate, "out", osc, "gate");
        Connect(engine, gate, "out", env, "Gate");
        Connect(engine, osc, "output", vca, "in1");
        Connect(engine, env, "Signal Out", vca, "in2");
        Connect(engine, vca, "out", mix, "in1");
        std::vector<float> samples;
        size_t next = 0;
        while (samples.size() < 12000) {
            const int32_t n = lengths[next++ % lengths.size()];
            engine.Run(n);
            const float* out = engine.Output(Pin(engine, mix, "out"));
            samples.insert(samples.end(), out, out + n);
        }
        return samples;
    };
    const std::vector<float> whole = render(256, {256});
    const std::vector<float> cut = render(256, {256, 3, 100, 256, 256, 256, 256, 1, 256, 256, 256});
    for (size_t j = 0; j < 12000; ++j) ASSERT_EQ(whole[j], cut[j]) << "sample " << j;
    float loudest = 0.0f;
    for (size_t j = 9000; j < 12000; ++j) loudest = std::max(loudest, std::fabs(whole[j]));
    EXPECT_GT(loudest, 0.01f);  // the note after the long sleep is heard
}
