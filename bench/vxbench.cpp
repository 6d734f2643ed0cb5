// The plug-ins timed through their exported entry points, as a host calls
// them, beside the baselines, in one run; the tables at the end go to
// standard output, the running log to standard error.
//
//   vxbench [Google Benchmark flags]
//
// By default every benchmark runs 5 times in random interleaving and the
// tables use the medians; flags given on the command line override that.
#include <benchmark/benchmark.h>
#include <stk/ADSR.h>
#include <stk/BlitSaw.h>
#include <stk/Stk.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "AllocationCount.h"
#include "Baselines.h"
#include "BenchHost.h"
#include "EngineVoices.h"
#include "Report.h"
#include "ScalarOscillator.h"
#include "Scenarios.h"

namespace vxbench {
namespace {

const vxhost::PluginLibrary* Load(const std::string& name) {
    std::string error;
    static std::vector<std::unique_ptr<vxhost::PluginLibrary>> loaded;
    auto library = vxhost::PluginLibrary::Load(PluginPath(name), &error);
    if (!library) {
        std::cerr << "vxbench: " << name << " is not timed: " << error << "\n";
        return nullptr;
    }
    loaded.push_back(std::move(library));
    return loaded.back().get();
}

int32_t CallFrames(const benchmark::State& state) { return static_cast<int32_t>(state.range(0)); }

// The counters the report reads: samples per call, and for the plug-ins what
// they did inside the timed loop besides computing.
void Finish(benchmark::State& state, int32_t frames) {
    state.counters["frames"] = frames;
    state.SetItemsProcessed(state.iterations() * frames);
}
void Finish(benchmark::State& state, int32_t frames, uint64_t host_calls, uint64_t allocations) {
    Finish(state, frames);
    state.counters["host_calls"] =
        benchmark::Counter(static_cast<double>(host_calls), benchmark::Counter::kAvgIterations);
    state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void RunPlugin(benchmark::State& state, BenchHost& host) {
    const int32_t frames = CallFrames(state);
    const uint64_t allocations = Allocations();
    for (auto _ : state) host.Next(frames);
    Finish(state, frames, host.HostCalls(), Allocations() - allocations);
}

void PluginTone(benchmark::State& state, const vxhost::PluginLibrary* library, Tone tone) {
    BenchHost host(*library, kBlockFrames, kSampleRate);
    StartTone(host, tone);
    RunPlugin(state, host);
}

void PluginEnvelope(benchmark::State& state, const vxhost::PluginLibrary* library, Envelope scene) {
    BenchHost host(*library, kBlockFrames, kSampleRate);
    StartEnvelope(host, scene);
    RunPlugin(state, host);
}

// The baselines walk through a block of the same size as the plug-ins do.
template <class RenderCall>
void RunBaseline(benchmark::State& state, float* out, RenderCall render) {
    const int32_t frames = CallFrames(state);
    int32_t position = 0;
    for (auto _ : state) {
        if (position + frames > kBlockFrames) position = 0;
        render(out + position, position, frames);
        position += frames;
        benchmark::ClobberMemory();
    }
    Finish(state, frames);
}

void ScalarLoop(benchmark::State& state, Tone tone) {
    Buffers signals(OSC_PINS, kBlockFrames);
    FillTone(signals, tone);
    OscillatorState oscillator(kSampleRate);
    oscillator.mode = ToneMode(tone);
    const OscillatorInputs inputs = InputsOf(signals);
    float* out = signals[OSC_OUTPUT];
    RenderScalar(oscillator, inputs, out, 0, kBlockFrames);
    RunBaseline(state, out, [&](float*, int32_t position, int32_t frames) {
        RenderScalar(oscillator, inputs, out, position, frames);
    });
}

void SinAdditiveBank(benchmark::State& state, int32_t partials) {
    Buffers out(1, kBlockFrames);
    SinAdditive bank(partials, kSampleRate);
    RunBaseline(state, out[0], [&](float* o, int32_t, int32_t frames) { bank.Render(o, frames); });
}

void RotationOscillators(benchmark::State& state, int32_t partials) {
    Buffers out(1, kBlockFrames);
    RotationBank bank(partials, kSampleRate);
    RunBaseline(state, out[0], [&](float* o, int32_t, int32_t frames) { bank.Render(o, frames); });
}

void StkBlitSaw(benchmark::State& state, int32_t harmonics) {
    Buffers out(1, kBlockFrames);
    stk::Stk::setSampleRate(kSampleRate);
    stk::BlitSaw saw(440.0);
    saw.setHarmonics(static_cast<unsigned int>(harmonics));
    RunBaseline(state, out[0], [&](float* o, int32_t, int32_t frames) {
        for (int32_t j = 0; j < frames; ++j) o[j] = static_cast<float>(saw.tick());
    });
}

// STK's ADSR has no gate input: it is told of the note's start and end
// through keyOn and keyOff at the gate's edges, and each call is cut there,
// so it pays nothing per sample for following the gate.
void StkAdsr(benchmark::State& state) {
    Buffers out(1, kBlockFrames);
    stk::Stk::setSampleRate(kSampleRate);
    stk::ADSR adsr;
    adsr.setAllTimes(kAttackFrames / kSampleRate, kDecayFrames / kSampleRate, kSustainLevel,
                     kReleaseFrames / kSampleRate);
    RunBaseline(state, out[0], [&](float* o, int32_t position, int32_t frames) {
        const int32_t end = position + frames;
        for (int32_t j = position; j < end;) {
            if (j == 0) adsr.keyOn();
            if (j == kGateHighFrames) adsr.keyOff();
            const int32_t stop = j < kGateHighFrames && end > kGateHighFrames ? kGateHighFrames : end;
            for (; j < stop; ++j) o[j - position] = static_cast<float>(adsr.tick());
        }
    });
}

void Ramp(benchmark::State& state) {
    Buffers out(1, kBlockFrames);
    RampLoop ramp;
    RunBaseline(state, out[0], [&](float* o, int32_t, int32_t frames) { ramp.Render(o, frames); });
}

void Fill(benchmark::State& state) {
    Buffers out(1, kBlockFrames);
    RunBaseline(state, out[0], [&](float* o, int32_t, int32_t frames) { FillLoop(o, frames, kSustainLevel); });
}

void FillVectorised(benchmark::State& state) {
    Buffers out(1, kBlockFrames);
    RunBaseline(state, out[0], [&](float* o, int32_t, int32_t frames) { FillVector(o, frames, kSustainLevel); });
}

// The middle of `values` (reordered).
double Median(std::vector<double>& values) {
    if (values.empty()) return -1.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// 64 voices through the engine, one engine block per iteration, the block
// as long as the call size. The share of each block spent inside the
// plug-ins' processing calls is taken from the clock around each call and
// around the block; the median over the blocks keeps out those in which the
// process was preempted (the machine is shared), which wall-clock intervals
// would otherwise count. The clock reads are taken out of the CPU time.
void EngineVoices(benchmark::State& state, VoiceScene scene) {
    const int32_t frames = CallFrames(state);
    std::unique_ptr<VoiceBank> bank;
    try {
        bank = std::make_unique<VoiceBank>(scene, frames);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    constexpr size_t kKeptBlocks = size_t{1} << 16;
    std::vector<double> shares, plugin_ns;
    shares.reserve(kKeptBlocks);
    plugin_ns.reserve(kKeptBlocks);
    double timer_ns = 0.0, awake = 0.0;
    uint64_t plugin_calls = 0, rebuilding = 0;
    const uint64_t allocations = Allocations();
    for (auto _ : state) {
        if (bank->Exhausted()) {
            state.PauseTiming();
            const uint64_t before = Allocations();
            bank->Restart();
            rebuilding += Allocations() - before;
            state.ResumeTiming();
        }
        const BlockTimes t = bank->Next();
        if (shares.size() < kKeptBlocks && t.run_ns > 0.0) {
            shares.push_back(t.plugin_ns / t.run_ns);
            plugin_ns.push_back(t.plugin_ns);
        }
        timer_ns += t.timer_ns;
        plugin_calls += t.plugin_calls;
        awake += bank->AwakeVoices();
    }
    const uint64_t allocated = Allocations() - allocations - rebuilding;
    Finish(state, frames);
    const auto per_block = [&](double value) { return benchmark::Counter(value, benchmark::Counter::kAvgIterations); };
    state.counters["voices"] = kEngineVoices;
    state.counters["plugin_share"] = Median(shares);
    state.counters["plugin_ns"] = Median(plugin_ns);
    state.counters["timer_ns"] = per_block(timer_ns);
    state.counters["plugin_calls"] = per_block(static_cast<double>(plugin_calls));
    state.counters["awake"] = per_block(awake);
    state.counters["allocs"] = per_block(static_cast<double>(allocated));
}

std::vector<std::string> g_names;  // in registration order, for the tables

template <class Function, class... Args>
void Register(const std::string& name, Function function, Args... args) {
    g_names.push_back(name);
    benchmark::RegisterBenchmark(name.c_str(), function, args...)
        ->Arg(64)
        ->Arg(256)
        ->Arg(1024)
        ->Unit(benchmark::kNanosecond);
}

void RegisterAll() {
    const struct {
        const char* name;
        Tone tone;
    } tones[] = {{"harmonic", Tone::Harmonic}, {"two_sided", Tone::TwoSided},
                 {"wide", Tone::Wide},         {"fc_every_sample", Tone::FcEverySample},
                 {"vibrato", Tone::Vibrato},   {"glide", Tone::Glide},
                 {"audio_fm", Tone::AudioFm},  {"fm1_sweep", Tone::Fm1Sweep},
                 {"a_sweep", Tone::ASweep},    {"detune_sweep", Tone::DetuneSweep}};
    if (const vxhost::PluginLibrary* sumtone = Load("sumtone")) {
        for (const auto& t : tones) Register(std::string("sumtone.") + t.name, PluginTone, sumtone, t.tone);
    }
    for (const auto& t : tones) Register(std::string("scalar_loop.") + t.name, ScalarLoop, t.tone);
    for (int32_t partials : {11, 45}) {
        Register("stk_blitsaw." + std::to_string(partials), StkBlitSaw, partials);
        Register("rotation_bank." + std::to_string(partials), RotationOscillators, partials);
        Register("sin_additive." + std::to_string(partials), SinAdditiveBank, partials);
    }

    const struct {
        const char* name;
        Envelope scene;
    } scenes[] = {{"note_cycle", Envelope::NoteCycle},
                  {"sustain_hold", Envelope::SustainHold},
                  {"sustain_unwatched", Envelope::SustainUnwatched},
                  {"idle", Envelope::Idle},
                  {"controls_streaming", Envelope::ControlsStreaming}};
    if (const vxhost::PluginLibrary* ramplet = Load("ramplet")) {
        for (const auto& s : scenes) Register(std::string("ramplet.") + s.name, PluginEnvelope, ramplet, s.scene);
    }
    Register("stk_adsr.note_cycle", StkAdsr);
    Register("ramp_loop", Ramp);
    Register("fill_loop", Fill);
    Register("fill_vector", FillVectorised);

    Register("engine.voices64.random", EngineVoices, VoiceScene::Random);
    Register("engine.voices64.sounding", EngineVoices, VoiceScene::Sounding);
    Register("engine.voices64.asleep", EngineVoices, VoiceScene::Asleep);
}

}  // namespace
}  // namespace vxbench

int main(int argc, char** argv) {
    // Defaults first, so that the caller's flags win.
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char min_time[] = "--benchmark_min_time=0.1";
    std::vector<char*> args = {argv[0], repetitions, interleave, min_time};
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    vxbench::RegisterAll();
    vxbench::TableReporter reporter(vxbench::g_names);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTables(std::cout);
    benchmark::Shutdown();
    return 0;
}
