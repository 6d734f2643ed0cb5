#include "EngineVoices.h"

#include <algorithm>
#include <chrono>
#include <x86intrin.h>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>

#include "BenchHost.h"
#include "CombinerNodes.h"
#include "PluginNode.h"
#include "SourceNodes.h"

namespace vxbench {

namespace {

using Steady = std::chrono::steady_clock;

double Nanoseconds(Steady::duration d) { return static_cast<double>(std::chrono::nanoseconds(d).count()); }

// The processor's time-stamp counter: a read costs a few cycles and touches
// no memory, where the system clock's costs tens of nanoseconds in a virtual
// machine, which would weigh on calls that take a microsecond.
uint64_t Ticks() { return __rdtsc(); }

// Nanoseconds per tick, measured against the system clock once.
double TickNs() {
    static const double ns = [] {
        const Steady::time_point start = Steady::now();
        const uint64_t first = Ticks();
        while (Steady::now() - start < std::chrono::milliseconds(50)) {}
        const uint64_t ticks = Ticks() - first;
        return ticks > 0 ? Nanoseconds(Steady::now() - start) / static_cast<double>(ticks) : 1.0;
    }();
    return ns;
}

std::shared_ptr<const vxhost::PluginLibrary> LoadShared(const std::string& name) {
    std::string error;
    std::unique_ptr<vxhost::PluginLibrary> library = vxhost::PluginLibrary::Load(PluginPath(name), &error);
    if (!library) throw std::runtime_error(name + ": " + error);
    return std::shared_ptr<const vxhost::PluginLibrary>(std::move(library));
}

// The schedule of notes covers this long; a run that gets to its end starts
// over on a new engine (Restart), with the timing paused.
constexpr double kScheduleSeconds = 60.0;
// Played before timing starts, so that voices are where the scene says.
constexpr double kWarmUpSeconds = 0.5;

// The steady note of the plug-in benchmarks (sumtone.harmonic), at a pitch
// of its own per note, under an envelope of short segments.
constexpr float kFm1 = 0.1f, kPartials = 1.0f, kRatio = 0.05f, kMaxFreq = 2000.0f;
constexpr float kAttack = 0.2f, kDecay = 0.4f, kSustain = 0.6f, kRelease = 0.4f;  // 39 ms, 157 ms, 157 ms

}  // namespace

// Shared by every timed plug-in node of one bank.
struct VoiceBank::Clock {
    double inside_ns = 0.0;
    uint64_t calls = 0;
};

namespace {

// A plug-in node that times its own processing calls. The engine reaches
// them through Node::RunBlock as it reaches any plug-in's, so nothing else
// of the path changes.
class TimedPluginNode final : public vxhost::PluginNode {
public:
    TimedPluginNode(std::shared_ptr<const vxhost::PluginLibrary> library, std::string name, double* inside_ns,
                    uint64_t* calls)
        : PluginNode(std::move(library), std::move(name)), m_inside_ns(inside_ns), m_calls(calls) {}

protected:
    void Process(int32_t offset, int32_t frames) override {
        const uint64_t start = Ticks();
        PluginNode::Process(offset, frames);
        *m_inside_ns += static_cast<double>(Ticks() - start) * TickNs();
        ++*m_calls;
    }

private:
    double* m_inside_ns;
    uint64_t* m_calls;
};

}  // namespace

// The median of many short batches: a batch in which the process was
// preempted (the machine is shared) would inflate an average.
double ClockReadNs() {
    static const double cost = [] {
        constexpr int kBatches = 201;
        constexpr int kReads = 1000;
        std::vector<double> batches;
        for (int b = 0; b < kBatches; ++b) {
            const uint64_t start = Ticks();
            uint64_t last = start;
            for (int i = 0; i < kReads; ++i) last = Ticks();
            batches.push_back(static_cast<double>(last - start) * TickNs() / kReads);
        }
        std::nth_element(batches.begin(), batches.begin() + kBatches / 2, batches.end());
        return batches[kBatches / 2];
    }();
    return cost;
}

VoiceBank::VoiceBank(VoiceScene scene, int32_t block_size, uint64_t seed)
    : m_scene(scene), m_block_size(block_size), m_seed(seed), m_clock(std::make_unique<Clock>()) {
    m_sumtone = LoadShared("sumtone");
    m_ramplet = LoadShared("ramplet");
    ClockReadNs();
    Build();
}

VoiceBank::~VoiceBank() = default;

void VoiceBank::Build() {
    using vxhost::PinRef;
    m_engine.reset();
    m_oscillators.clear();
    m_envelopes.clear();
    m_engine = std::make_unique<vxhost::Engine>(kEngineSampleRate, m_block_size);
    vxhost::Engine& engine = *m_engine;
    m_length = static_cast<uint64_t>(kScheduleSeconds * kEngineSampleRate);
    std::mt19937_64 random(m_seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto seconds = [](double s) { return static_cast<uint64_t>(s * kEngineSampleRate); };

    auto& mixer = engine.Emplace<vxhost::MixerNode>("mix", kEngineVoices,
                                                    std::vector<float>(kEngineVoices, 1.0f / kEngineVoices));
    const vxhost::NodeId mix = engine.IdOf(mixer);
    for (int32_t v = 0; v < kEngineVoices; ++v) {
        const std::string tag = std::to_string(v + 1);
        std::vector<vxhost::StepPoint> gate, pitch;
        const auto note = [&](uint64_t on, uint64_t off) {
            pitch.push_back({on, static_cast<float>(0.35 + 0.3 * unit(random))});
            gate.push_back({on, 1.0f});
            if (off > on) gate.push_back({off, 0.0f});
        };
        switch (m_scene) {
            case VoiceScene::Random:
                for (double t = 0.5 * unit(random); seconds(t) < m_length;) {
                    const double length = 0.08 + 0.42 * unit(random);
                    note(seconds(t), seconds(t + length));
                    t += length + 0.05 + 0.75 * unit(random);
                }
                break;
            case VoiceScene::Sounding:
                note(0, 0);
                break;
            case VoiceScene::Asleep:
                note(0, seconds(0.02));
                break;
        }
        const vxhost::NodeId gate_node = engine.Add(std::make_unique<vxhost::StepNode>("gate" + tag, gate));
        const vxhost::NodeId pitch_node = engine.Add(std::make_unique<vxhost::StepNode>("pitch" + tag, pitch));
        const vxhost::NodeId osc =
            engine.Add(std::make_unique<TimedPluginNode>(m_sumtone, "osc" + tag, &m_clock->inside_ns, &m_clock->calls));
        const vxhost::NodeId env =
            engine.Add(std::make_unique<TimedPluginNode>(m_ramplet, "env" + tag, &m_clock->inside_ns, &m_clock->calls));
        const vxhost::NodeId vca = engine.Add(std::make_unique<vxhost::MultiplierNode>("vca" + tag));
        vxhost::Node& o = engine.At(osc);
        vxhost::Node& e = engine.At(env);
        o.SetValue(o.FindPin("fm1"), kFm1);
        o.SetValue(o.FindPin("N"), kPartials);
        o.SetValue(o.FindPin("a"), kRatio);
        o.SetValue(o.FindPin("maxfreq"), kMaxFreq);
        e.SetValue(e.FindPin("Attack"), kAttack);
        e.SetValue(e.FindPin("Decay"), kDecay);
        e.SetValue(e.FindPin("Sustain"), kSustain);
        e.SetValue(e.FindPin("Release"), kRelease);
        engine.Connect({pitch_node, 0}, {osc, o.FindPin("fc")});
        engine.Connect({gate_node, 0}, {osc, o.FindPin("gate")});
        engine.Connect({gate_node, 0}, {env, e.FindPin("Gate")});
        engine.Connect({osc, o.FindPin("output")}, {vca, 0});
        engine.Connect({env, e.FindPin("Signal Out")}, {vca, 1});
        engine.Connect({vca, 2}, {mix, v});
        m_oscillators.push_back(osc);
        m_envelopes.push_back(env);
    }
    engine.Start();
    const auto warm_up = seconds(kWarmUpSeconds);
    while (engine.Clock() < warm_up) engine.Run(m_block_size);
    if (m_scene == VoiceScene::Asleep && SleepingVoices() != kEngineVoices)
        std::cerr << "vxbench: only " << SleepingVoices() << " of " << kEngineVoices << " voices asleep\n";
    if (m_scene == VoiceScene::Sounding && AwakeVoices() != kEngineVoices)
        std::cerr << "vxbench: only " << AwakeVoices() << " of " << kEngineVoices << " voices sounding\n";
}

bool VoiceBank::Exhausted() const { return m_engine->Clock() + static_cast<uint64_t>(m_block_size) > m_length; }

BlockTimes VoiceBank::Next() {
    Clock& clock = *m_clock;
    clock.inside_ns = 0.0;
    clock.calls = 0;
    const uint64_t start = Ticks();
    m_engine->Run(m_block_size);
    const double whole = static_cast<double>(Ticks() - start) * TickNs();
    // Each timed call holds about one clock read's cost and adds two to the
    // block; the block's own interval holds one more.
    const double read = ClockReadNs();
    const auto calls = static_cast<double>(clock.calls);
    BlockTimes t;
    t.plugin_calls = clock.calls;
    t.plugin_ns = std::max(0.0, clock.inside_ns - calls * read);
    t.run_ns = std::max(t.plugin_ns, whole - read - 2.0 * calls * read);
    t.timer_ns = 2.0 * read + 2.0 * calls * read;
    return t;
}

int32_t VoiceBank::AwakeVoices() const {
    int32_t n = 0;
    for (vxhost::NodeId osc : m_oscillators) n += !m_engine->At(osc).Sleeping();
    return n;
}

int32_t VoiceBank::SleepingVoices() const {
    int32_t n = 0;
    for (size_t v = 0; v < m_oscillators.size(); ++v)
        n += m_engine->At(m_oscillators[v]).Sleeping() && m_engine->At(m_envelopes[v]).Sleeping();
    return n;
}

}  // namespace vxbench
