// Modules that would skip every block until something happens rest: the
// engine stops visiting them and wakes them for a queued event, a value
// set between blocks, a step source's next step, or a source that writes.
// Whatever rests, every sample must be what computing it directly gives.
#include <cmath>
#include <cstring>
#include <limits>

#include "engine_support.h"

using namespace vxhost;

namespace {

constexpr int32_t kBlock = 64;

uint32_t Bits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

}  // namespace

// A sleeping module fed by steps many blocks apart rests through the blocks
// between them; each step, mid-block or on a block's edge, wakes it at its
// sample, and the multiplier after it (resting while its inputs hold) follows.
TEST(RestingModules, AModuleWokenAfterRestingForBlocksGetsEverySampleRight) {
    const std::vector<StepPoint> points = {{10, 0.5f}, {700, -2.0f}, {1280, 3.0f}, {1281, 0.25f}, {3000, -0.0f}};
    Engine engine(48000.0, kBlock);
    auto& steps = engine.Emplace<StepNode>("steps", points);
    auto& tracer = AddTracer(engine, "t");
    auto& vca = engine.Emplace<MultiplierNode>("vca");
    Connect(engine, steps, "out", tracer, "In");
    Connect(engine, tracer, "Out", vca, "in1");
    vca.SetValue(vca.FindPin("in2"), 1.5);
    engine.Start();
    tracer.Dispatch(OP_HOST_MESSAGE, 1, TRACER_SET_SLEEPY);

    const PinRef out = Pin(engine, vca, "out");
    const int32_t lengths[] = {64, 64, 13, 64, 1, 64, 50};
    uint64_t clock = 0;
    bool rested = false;
    while (clock < 3500) {
        for (int32_t n : lengths) {
            engine.Run(n);
            for (int32_t j = 0; j < n; ++j) {
                float value = 0.0f;
                for (const StepPoint& p : points)
                    if (p.clock <= clock + static_cast<uint64_t>(j)) value = p.value;
                // The tracer's output is its input plus an offset of 0 (-0 becomes +0).
                ASSERT_EQ(Bits((value + 0.0f) * 1.5f), Bits(engine.Output(out)[j])) << "at " << clock + j;
            }
            clock += static_cast<uint64_t>(n);
            rested = rested || (tracer.Resting() && vca.Resting() && steps.Resting());
        }
    }
    EXPECT_TRUE(rested) << "between the steps the whole chain rests";
    // Called at the start and at each step's sample, and nowhere else.
    EXPECT_EQ(CallStarts(tracer), (std::vector<uint32_t>{0, 10, 700, 1280, 1281, 3000}));
}

// Work that reaches a resting module between blocks wakes it: an event it
// schedules for itself (stamped from the present clock, not from the block
// in which it went to rest), and a new value for an unwired input.
TEST(RestingModules, EventsAndValuesGivenBetweenBlocksWakeARestingModule) {
    Engine engine(48000.0, kBlock);
    auto& tracer = AddTracer(engine, "t");
    auto& product = engine.Emplace<MultiplierNode>("product");
    product.SetValue(product.FindPin("in1"), 2.0);
    product.SetValue(product.FindPin("in2"), 3.0);
    engine.Start();
    tracer.Dispatch(OP_HOST_MESSAGE, 1, TRACER_SET_SLEEPY);
    for (int block = 0; block < 10; ++block) engine.Run(kBlock);
    ASSERT_TRUE(tracer.Resting());
    ASSERT_TRUE(product.Resting());
    const PinRef out = Pin(engine, product, "out");
    EXPECT_EQ(engine.Output(out)[kBlock - 1], 6.0f);

    TracerArgs args{static_cast<uint32_t>(engine.Clock()) + 70, 0, 1, 0, 0};
    tracer.Dispatch(OP_HOST_MESSAGE, 0, TRACER_SCHEDULE, &args);
    product.SetValue(product.FindPin("in2"), -0.5);
    engine.Run(kBlock);
    engine.Run(kBlock);

    const std::vector<TracerEntry> data = Trace(tracer, TRACE_DATA);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].clock, 10u * kBlock + 70u);
    EXPECT_EQ(tracer.LateEvents(), 0u);
    for (int32_t j = 0; j < kBlock; ++j) ASSERT_EQ(engine.Output(out)[j], -1.0f) << j;
}

// A product with a factor that holds an exact zero is a zero whose sign is
// the product of the signs, as long as the other factors are finite; 0 times
// an infinity or a NaN is a NaN, and so is a zero after an overflowed
// product. The multiplier may present a zero it knows without multiplying,
// and the mixer may leave it out, but every bit must be what the arithmetic
// gives.
TEST(RestingModules, AProductWithAHeldZeroHasTheBitsOfTheArithmetic) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // One block each: positive, negative, both signs, -0 among positives,
    // an infinity, a NaN, each also among negatives, huge values, then
    // silence (the recording ends).
    std::vector<float> moving;
    const std::vector<std::vector<float>> blocks = {{0.5f, 1.0f, 1e-40f}, {-0.5f, -3.0f},    {0.5f, -0.5f},
                                                    {1.0f, -0.0f, 2.0f},  {1.0f, inf, 2.0f}, {1.0f, nan},
                                                    {-1.0f, -inf},        {-2.0f, -nan},     {3e38f, 3e38f}};
    for (const std::vector<float>& pattern : blocks)
        for (int32_t j = 0; j < kBlock; ++j) moving.push_back(pattern[static_cast<size_t>(j) % pattern.size()]);

    for (const float zero : {0.0f, -0.0f}) {
        Engine engine(48000.0, kBlock);
        auto& samples = engine.Emplace<SampleNode>("samples", moving);
        auto& first = engine.Emplace<MultiplierNode>("zero_first");       // 0 * x
        auto& second = engine.Emplace<MultiplierNode>("zero_second", 3);  // x * 0 * 3e38
        auto& third = engine.Emplace<MultiplierNode>("zero_third", 3);    // x * 3e38 * 0
        auto& mix = engine.Emplace<MixerNode>("mix", 4, std::vector<float>{1.0f, 0.5f, 2.0f, 1.0f});
        first.SetValue(first.FindPin("in1"), zero);
        Connect(engine, samples, "out", first, "in2");
        Connect(engine, samples, "out", second, "in1");
        second.SetValue(second.FindPin("in2"), zero);
        second.SetValue(second.FindPin("in3"), 3e38);
        Connect(engine, samples, "out", third, "in1");
        third.SetValue(third.FindPin("in2"), 3e38);
        third.SetValue(third.FindPin("in3"), zero);
        Connect(engine, first, "out", mix, "in1");
        Connect(engine, second, "out", mix, "in2");
        Connect(engine, third, "out", mix, "in3");
        Connect(engine, samples, "out", mix, "in4");

        for (size_t block = 0; block < blocks.size() + 3; ++block) {
            engine.Run(kBlock);
            for (int32_t j = 0; j < kBlock; ++j) {
                const size_t at = block * kBlock + static_cast<size_t>(j);
                const float x = at < moving.size() ? moving[at] : 0.0f;
                const float a = zero * x, b = (x * zero) * 3e38f, c = (x * 3e38f) * zero;
                const float sum = ((((0.0f + 1.0f * a) + 0.5f * b) + 2.0f * c) + 1.0f * x);
                const std::string where = "zero " + std::to_string(Bits(zero)) + " at " + std::to_string(at);
                ASSERT_EQ(Bits(a), Bits(engine.Output(Pin(engine, first, "out"))[j])) << where;
                ASSERT_EQ(Bits(b), Bits(engine.Output(Pin(engine, second, "out"))[j])) << where;
                ASSERT_EQ(Bits(c), Bits(engine.Output(Pin(engine, third, "out"))[j])) << where;
                ASSERT_EQ(Bits(sum), Bits(engine.Output(Pin(engine, mix, "out"))[j])) << where;
            }
        }
    }
}

// The mixer adds its inputs a few at a time in one pass; the sum at every
// sample must be the one adding them one after another gives, whichever
// inputs hold zeros (of either sign) and are left out.
TEST(RestingModules, AMixerOfManyInputsSumsInInputOrder) {
    constexpr int32_t kInputs = 11;
    std::vector<float> gains(kInputs);
    std::vector<float> recording(4 * kBlock);
    for (size_t j = 0; j < recording.size(); ++j) recording[j] = std::sin(0.37f * static_cast<float>(j)) * 1e4f;
    for (int32_t i = 0; i < kInputs; ++i) gains[static_cast<size_t>(i)] = 0.1f + 0.37f * static_cast<float>(i);
    Engine engine(48000.0, kBlock);
    auto& samples = engine.Emplace<SampleNode>("samples", recording);
    auto& mix = engine.Emplace<MixerNode>("mix", kInputs, gains);
    // Inputs 1, 3, 5, 6, 9 and 10 follow the recording, each through a
    // product of its own scale; the others hold a constant.
    const std::vector<double> held = {0.0, 0.0, -0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1e-3, 0.0, 0.0};
    std::vector<float> scale(kInputs, 0.0f);
    for (int32_t i : {1, 3, 5, 6, 9, 10}) {
        scale[static_cast<size_t>(i)] = 1.0f + static_cast<float>(i);
        auto& product = engine.Emplace<MultiplierNode>("scale" + std::to_string(i));
        Connect(engine, samples, "out", product, "in1");
        product.SetValue(product.FindPin("in2"), scale[static_cast<size_t>(i)]);
        Connect(engine, product, "out", mix, "in" + std::to_string(i + 1));
    }
    for (int32_t i = 0; i < kInputs; ++i)
        if (scale[static_cast<size_t>(i)] == 0.0f) mix.SetValue(i, held[static_cast<size_t>(i)]);

    const PinRef out = Pin(engine, mix, "out");
    for (int block = 0; block < 6; ++block) {
        engine.Run(kBlock);
        for (int32_t j = 0; j < kBlock; ++j) {
            const size_t at = static_cast<size_t>(block * kBlock + j);
            const float x = at < recording.size() ? recording[at] : 0.0f;
            float sum = 0.0f;
            for (size_t i = 0; i < kInputs; ++i) {
                const float in = scale[i] != 0.0f ? x * scale[i] : static_cast<float>(held[i]);
                sum += gains[i] * in;
            }
            ASSERT_EQ(Bits(sum), Bits(engine.Output(out)[j])) << "at " << at;
        }
    }
}
