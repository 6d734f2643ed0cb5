// The host's own modules compute their signals and keep the stream-state
// promises a plug-in output makes; the engine refuses wirings it cannot run.
#include "HostError.h"
#include "engine_support.h"

using namespace vxhost;

namespace {

constexpr int32_t kBlock = 32;

struct Heard {
    uint32_t clock;
    int32_t state;
    bool operator==(const Heard& o) const { return clock == o.clock && state == o.state; }
};

std::ostream& operator<<(std::ostream& out, const Heard& h) { return out << "{" << h.clock << ", " << h.state << "}"; }

std::vector<Heard> HeardOnIn(PluginNode& tracer) {
    std::vector<Heard> heard;
    for (const TracerEntry& e : Trace(tracer, TRACE_STATUS)) heard.push_back({e.clock, e.b});
    return heard;
}

}  // namespace

TEST(UtilityModules, SourcesAnnounceWhatTheirSignalDoes) {
    Engine engine(1000.0, kBlock);
    auto& constant = engine.Emplace<ConstantNode>("constant", 0.5f);
    auto& steps = engine.Emplace<StepNode>("steps", std::vector<StepPoint>{{3, 1.0f}, {40, 2.0f}, {40, 3.0f}});
    auto& samples = engine.Emplace<SampleNode>("samples", std::vector<float>(50, 0.125f));
    auto& hears_constant = AddTracer(engine, "hears_constant");
    auto& hears_steps = AddTracer(engine, "hears_steps");
    auto& hears_samples = AddTracer(engine, "hears_samples");
    Connect(engine, constant, "out", hears_constant, "In");
    Connect(engine, steps, "out", hears_steps, "In");
    Connect(engine, samples, "out", hears_samples, "In");

    const std::vector<float> stepped = RunAndCollect(engine, Pin(engine, hears_steps, "Out"), 3 * kBlock);

    EXPECT_TRUE(HeardOnIn(hears_constant).empty()) << "a constant never changes";
    EXPECT_EQ(HeardOnIn(hears_steps), (std::vector<Heard>{{3, ST_ONE_OFF}, {40, ST_ONE_OFF}}))
        << "points at one clock are one change";
    EXPECT_EQ(HeardOnIn(hears_samples), (std::vector<Heard>{{0, ST_RUN}, {50, ST_ONE_OFF}}));
    EXPECT_EQ(stepped[2], 0.0f) << "silence before the first point";
    EXPECT_EQ(stepped[3], 1.0f);
    EXPECT_EQ(stepped[40], 3.0f) << "the last point at a clock wins";
    EXPECT_EQ(engine.Output(Pin(engine, samples, "out"))[kBlock - 1], 0.0f) << "a recording ends in silence";
}

TEST(UtilityModules, CombinersComputeAndStreamWhileAnyInputStreams) {
    Engine engine(1000.0, kBlock);
    auto& steps = engine.Emplace<StepNode>("steps", std::vector<StepPoint>{{0, 2.0f}, {70, 4.0f}});
    auto& samples = engine.Emplace<SampleNode>("samples", std::vector<float>(20, 0.5f));
    auto& multiply = engine.Emplace<MultiplierNode>("vca");
    auto& mix = engine.Emplace<MixerNode>("mix", 3, std::vector<float>{0.5f, 2.0f});
    auto& hears_multiply = AddTracer(engine, "hears_multiply");
    Connect(engine, steps, "out", multiply, "in1");
    Connect(engine, samples, "out", multiply, "in2");
    Connect(engine, steps, "out", mix, "in1");
    Connect(engine, samples, "out", mix, "in2");
    Connect(engine, multiply, "out", hears_multiply, "In");

    const std::vector<float> product = RunAndCollect(engine, Pin(engine, multiply, "out"), kBlock);
    EXPECT_EQ(product[0], 1.0f);
    EXPECT_EQ(product[19], 1.0f);
    EXPECT_EQ(product[20], 0.0f);
    EXPECT_EQ(engine.Output(Pin(engine, mix, "out"))[0], 0.5f * 2.0f + 2.0f * 0.5f) << "an unwired mix input is silent";
    RunAndCollect(engine, Pin(engine, multiply, "out"), 2 * kBlock);

    // At clock 0 the step arrives first (a single change), then the recording
    // starts to stream; a single change when it stops, and one per later step.
    EXPECT_EQ(HeardOnIn(hears_multiply),
              (std::vector<Heard>{{0, ST_ONE_OFF}, {0, ST_RUN}, {20, ST_ONE_OFF}, {70, ST_ONE_OFF}}));
}

TEST(EngineWiring, RefusesWiresItCannotRun) {
    Engine engine(1000.0, kBlock);
    auto& a = AddTracer(engine, "a");
    auto& b = AddTracer(engine, "b");
    auto& c = AddTracer(engine, "c");
    Connect(engine, a, "Out", b, "In");
    Connect(engine, b, "Out", c, "In");
    auto refusal = [&](const Node& from, const std::string& out, const Node& to, const std::string& in) {
        try {
            Connect(engine, from, out, to, in);
        } catch (const HostError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal(a, "Out", b, "Out"), "wire a.Out -> b.Out connects two outputs");
    EXPECT_EQ(refusal(a, "In", b, "Ctl"),
              "wire a.In -> b.Ctl starts at an input; a wire runs from an output to an input");
    EXPECT_EQ(refusal(c, "Out", a, "In"), "wire c.Out -> a.In makes a cycle");
    EXPECT_EQ(refusal(a, "Out", a, "Ctl"), "wire a.Out -> a.Ctl makes a cycle");
    EXPECT_EQ(refusal(a, "Out", c, "In"),
              "wire a.Out -> c.In: c.In is already wired from b.Out (use a mix module to combine signals)");
    EXPECT_EQ(refusal(a, "Out", c, "Choice"),
              "wire a.Out -> c.Choice: only audio pins can be wired; give c.Choice a value instead");
    EXPECT_THROW(AddTracer(engine, "a"), HostError);
    EXPECT_THROW(Engine(0.0, 64), HostError);
    EXPECT_THROW(Engine(44100.0, 0), HostError);
}
