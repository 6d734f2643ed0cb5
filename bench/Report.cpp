#include "Report.h"

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <thread>

namespace vxbench {

namespace {

constexpr int kCallSizes[] = {64, 256, 1024};
constexpr int kTargetCall = 256;
constexpr double kSampleRate = 44100.0;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string CpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            const size_t colon = line.find(':');
            if (colon != std::string::npos) return line.substr(line.find_first_not_of(' ', colon + 1));
        }
    }
    return "unknown processor";
}

std::string BuildTarget() {
    std::string target = sizeof(void*) == 8 ? "x86_64" : "i386 (SSE2 math)";
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    target += __builtin_cpu_supports("avx2") ? ", AVX2 present" : ", no AVX2";
#endif
    return target;
}

// Plug-in scenarios and the baselines each is compared with. For the
// oscillator the BlitSaw column holds the baseline at the scenario's own
// harmonic count, and the steady-note column the held note that a scenario
// with moving inputs modulates.
struct Subject {
    const char* name;
    const char* own_scalar;  // the plain loop of the same tone, or null
    const char* blit;        // BlitSaw at the same harmonic count, or null
    const char* steady;      // the held note it moves away from, or null
};

const Subject kOscillatorSubjects[] = {
    {"sumtone.harmonic", "scalar_loop.harmonic", "stk_blitsaw.11", nullptr},
    {"sumtone.two_sided", "scalar_loop.two_sided", "stk_blitsaw.11", nullptr},
    {"sumtone.wide", "scalar_loop.wide", "stk_blitsaw.45", nullptr},
    {"sumtone.fc_every_sample", "scalar_loop.fc_every_sample", "stk_blitsaw.11", "sumtone.harmonic"},
    {"sumtone.vibrato", "scalar_loop.vibrato", "stk_blitsaw.11", "sumtone.harmonic"},
    {"sumtone.glide", "scalar_loop.glide", "stk_blitsaw.11", "sumtone.harmonic"},
    {"sumtone.audio_fm", "scalar_loop.audio_fm", "stk_blitsaw.11", "sumtone.harmonic"},
    {"sumtone.fm1_sweep", "scalar_loop.fm1_sweep", "stk_blitsaw.11", "sumtone.harmonic"},
    {"sumtone.a_sweep", "scalar_loop.a_sweep", "stk_blitsaw.11", "sumtone.harmonic"},
    {"sumtone.detune_sweep", "scalar_loop.detune_sweep", "stk_blitsaw.11", "sumtone.harmonic"},
};
const char* const kOscillatorBaselines[] = {"rotation_bank.11", "rotation_bank.45", "sin_additive.11",
                                            "sin_additive.45"};
const char* const kEnvelopeSubjects[] = {"ramplet.note_cycle", "ramplet.sustain_hold", "ramplet.sustain_unwatched",
                                         "ramplet.idle", "ramplet.controls_streaming"};
const char* const kEnvelopeBaselines[] = {"stk_adsr.note_cycle", "ramp_loop", "fill_loop", "fill_vector"};

// A target: subject time / baseline time at most `limit`.
struct SpeedTarget {
    const char* subject;
    const char* baseline;
    double limit;
    const char* wording;
    bool native_only;
};

const SpeedTarget kTargets[] = {
    {"sumtone.harmonic", "scalar_loop.harmonic", 0.5, "at most 0.5x its own scalar loop", false},
    {"sumtone.two_sided", "scalar_loop.two_sided", 0.5, "at most 0.5x its own scalar loop", false},
    {"sumtone.wide", "scalar_loop.wide", 0.5, "at most 0.5x its own scalar loop", false},
    {"sumtone.harmonic", "stk_blitsaw.11", 0.5, "2x faster than BlitSaw", true},
    {"sumtone.two_sided", "stk_blitsaw.11", 0.5, "2x faster than BlitSaw", true},
    {"sumtone.wide", "stk_blitsaw.45", 0.5, "2x faster than BlitSaw", true},
    {"sumtone.harmonic", "rotation_bank.45", 0.4, "2.5x faster than the rotation bank at 45", true},
    {"sumtone.two_sided", "rotation_bank.45", 0.4, "2.5x faster than the rotation bank at 45", true},
    {"sumtone.wide", "rotation_bank.45", 0.4, "2.5x faster than the rotation bank at 45", true},
    {"sumtone.harmonic", "sin_additive.45", 0.04, "25x faster than std::sin additive at 45", true},
    {"sumtone.two_sided", "sin_additive.45", 0.04, "25x faster than std::sin additive at 45", true},
    {"sumtone.wide", "sin_additive.45", 0.04, "25x faster than std::sin additive at 45", true},
    // A pitch that moves at every sample (vibrato, glide, FM): one
    // exponential per sample on top of the held note.
    {"sumtone.fc_every_sample", "stk_blitsaw.11", 0.5, "2x faster than BlitSaw", true},
    {"sumtone.vibrato", "stk_blitsaw.11", 0.5, "2x faster than BlitSaw", true},
    {"sumtone.glide", "stk_blitsaw.11", 0.5, "2x faster than BlitSaw", true},
    {"sumtone.audio_fm", "stk_blitsaw.11", 0.5, "2x faster than BlitSaw", true},
    {"sumtone.fc_every_sample", "sumtone.harmonic", 2.0, "at most twice the steady note", false},
    {"sumtone.vibrato", "sumtone.harmonic", 2.0, "at most twice the steady note", false},
    {"sumtone.glide", "sumtone.harmonic", 2.0, "at most twice the steady note", false},
    {"sumtone.audio_fm", "sumtone.harmonic", 2.0, "at most twice the steady note", false},
    // The other inputs at audio rate.
    {"sumtone.fm1_sweep", "sumtone.harmonic", 1.5, "at most 1.5x the steady note", false},
    {"sumtone.a_sweep", "sumtone.harmonic", 1.5, "at most 1.5x the steady note", false},
    {"sumtone.detune_sweep", "sumtone.harmonic", 1.5, "at most 1.5x the steady note", false},
    {"ramplet.note_cycle", "stk_adsr.note_cycle", 0.5, "2x faster than STK ADSR", true},
    {"ramplet.sustain_hold", "fill_loop", 1.0, "no more than filling the buffer", true},
    {"ramplet.sustain_unwatched", "fill_loop", 1.0, "no more than filling the buffer", true},
    {"ramplet.idle", "fill_loop", 1.0, "no more than filling the buffer", true},
    {"ramplet.sustain_hold", "fill_vector", 1.2, "at most 1.2x a vectorised fill", true},
};

// The engine's voices, and what is asked of the engine around them.
const char* const kEngineScenes[] = {"engine.voices64.random", "engine.voices64.sounding", "engine.voices64.asleep"};
constexpr double kEngineRate = 48000.0;
constexpr double kEngineShareLimit = 0.10;
constexpr double kSleepingVoiceLimit = 0.01;

bool IsEngineRun(const std::string& name) { return name.rfind("engine.", 0) == 0; }

}  // namespace

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) continue;
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type == Run::RT_Aggregate && !median) continue;
        const auto frames = run.counters.find("frames");
        if (frames == run.counters.end() || frames->second.value <= 0.0) continue;
        const std::string& name = run.run_name.function_name;
        const int call = static_cast<int>(frames->second.value);
        Measurement& m = m_results[name][call];
        if (!median) ++m.runs;
        if (!median && m.from_median) continue;
        const double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        m.ns_per_sample = seconds * 1e9 / frames->second.value;
        const auto host_calls = run.counters.find("host_calls");
        const auto allocations = run.counters.find("allocs");
        if (host_calls != run.counters.end()) m.host_calls_per_call = host_calls->second.value;
        if (allocations != run.counters.end()) m.allocations_per_call = allocations->second.value;
        const auto counter = [&run](const char* name, double fallback) {
            const auto found = run.counters.find(name);
            return found == run.counters.end() ? fallback : found->second.value;
        };
        m.voices = counter("voices", -1.0);
        m.plugin_share = counter("plugin_share", -1.0);
        m.plugin_ns = counter("plugin_ns", -1.0);
        m.timer_ns = counter("timer_ns", 0.0);
        m.awake = counter("awake", 0.0);
        m.from_median = median;
    }
    ConsoleReporter::ReportRuns(runs);
}

const Measurement* TableReporter::Find(const std::string& name, int frames) const {
    const auto by_name = m_results.find(name);
    if (by_name == m_results.end()) return nullptr;
    const auto by_size = by_name->second.find(frames);
    return by_size == by_name->second.end() ? nullptr : &by_size->second;
}

double TableReporter::Ratio(const std::string& subject, const std::string& baseline, int frames) const {
    const Measurement* s = Find(subject, frames);
    const Measurement* b = Find(baseline, frames);
    if (s == nullptr || b == nullptr || b->ns_per_sample <= 0.0) return -1.0;
    return s->ns_per_sample / b->ns_per_sample;
}

void TableReporter::PrintTables(std::ostream& out) const {
    int repetitions = 0;
    for (const auto& by_name : m_results)
        for (const auto& by_size : by_name.second) repetitions = std::max(repetitions, by_size.second.runs);
    out << "Machine: " << CpuModel() << ", " << std::thread::hardware_concurrency()
        << " logical cores; build: " << BuildTarget() << "; CPU time, median of " << repetitions
        << (repetitions == 1 ? " run" : " runs") << ".\n\n";
    PrintTimes(out);
    PrintRatios(out);
    PrintTargets(out);
    PrintEngine(out);
}

void TableReporter::PrintTimes(std::ostream& out) const {
    out << "| benchmark | ns/sample, 64 | ns/sample, 256 | ns/sample, 1024 | voices/core at 256 |\n"
        << "|---|---:|---:|---:|---:|\n";
    for (const std::string& name : m_order) {
        if (m_results.count(name) == 0 || IsEngineRun(name)) continue;
        out << "| " << name;
        for (int frames : kCallSizes) {
            const Measurement* m = Find(name, frames);
            out << " | " << (m ? Format("%.2f", m->ns_per_sample) : "n/a");
        }
        const Measurement* m = Find(name, kTargetCall);
        out << " | " << (m && m->ns_per_sample > 0 ? Format("%.0f", 1e9 / (m->ns_per_sample * kSampleRate)) : "n/a")
            << " |\n";
    }
    out << "\n";
}

void TableReporter::PrintRatios(std::ostream& out) const {
    const auto cell = [](double r) { return r < 0.0 ? std::string("n/a") : Format("%.3f", r); };
    out << "Ratios: plug-in time / baseline time per sample, same call size (below 1: the plug-in is faster).\n\n"
        << "| oscillator | call | own scalar loop | BlitSaw, same count | steady note";
    for (const char* b : kOscillatorBaselines) out << " | " << b;
    out << " |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const Subject& s : kOscillatorSubjects) {
        if (m_results.count(s.name) == 0) continue;
        for (int frames : kCallSizes) {
            out << "| " << s.name << " | " << frames << " | " << cell(Ratio(s.name, s.own_scalar, frames)) << " | "
                << cell(Ratio(s.name, s.blit, frames)) << " | "
                << (s.steady != nullptr ? cell(Ratio(s.name, s.steady, frames)) : std::string("-"));
            for (const char* b : kOscillatorBaselines) out << " | " << cell(Ratio(s.name, b, frames));
            out << " |\n";
        }
    }
    out << "\n| envelope | call";
    for (const char* b : kEnvelopeBaselines) out << " | " << b;
    out << " |\n|---|---:";
    for (size_t b = 0; b < sizeof kEnvelopeBaselines / sizeof kEnvelopeBaselines[0]; ++b) out << "|---:";
    out << "|\n";
    for (const char* s : kEnvelopeSubjects) {
        if (m_results.count(s) == 0) continue;
        for (int frames : kCallSizes) {
            out << "| " << s << " | " << frames;
            for (const char* b : kEnvelopeBaselines) out << " | " << cell(Ratio(s, b, frames));
            out << " |\n";
        }
    }
    out << "\n";
}

void TableReporter::PrintTargets(std::ostream& out) const {
    const bool native = sizeof(void*) == 8;
    out << "Targets at " << kTargetCall << "-sample calls"
        << (native ? "" : " (this 32-bit build: only the scalar-loop targets apply here)") << ".\n\n"
        << "| subject | target | baseline | ratio | holds |\n|---|---|---|---:|---|\n";
    for (const SpeedTarget& t : kTargets) {
        const double r = Ratio(t.subject, t.baseline, kTargetCall);
        std::string verdict = r < 0.0 ? "not measured" : (r <= t.limit ? "yes" : "no");
        if (t.native_only && !native) verdict += " (native target)";
        out << "| " << t.subject << " | " << t.wording << " (ratio <= " << Format("%g", t.limit) << ") | " << t.baseline
            << " | " << (r < 0.0 ? "n/a" : Format("%.3f", r)) << " | " << verdict << " |\n";
    }
    // Steady-state traffic: what the plug-ins did inside the timed loops.
    double worst_calls = -1.0, worst_allocations = -1.0;
    for (const auto& by_name : m_results) {
        if (IsEngineRun(by_name.first)) continue;
        for (const auto& by_size : by_name.second) {
            worst_calls = std::max(worst_calls, by_size.second.host_calls_per_call);
            worst_allocations = std::max(worst_allocations, by_size.second.allocations_per_call);
        }
    }
    if (worst_calls >= 0.0) {
        out << "| every plug-in scenario | no host call, no allocation in steady state | - | "
            << Format("%g", worst_calls) << " calls, " << Format("%g", worst_allocations)
            << " allocations per call at most | " << (worst_calls == 0.0 && worst_allocations == 0.0 ? "yes" : "no")
            << " |\n";
    }
    out << "\n";
}

// The time of a block with the clock reads taken out; the benchmark's CPU
// time per block includes them.
namespace {

double BlockNs(const Measurement& m, int frames) { return m.ns_per_sample * frames - m.timer_ns; }

double EngineShare(const Measurement& m) { return m.plugin_share >= 0.0 ? 1.0 - m.plugin_share : -1.0; }

}  // namespace

void TableReporter::PrintEngine(std::ostream& out) const {
    bool any = false;
    for (const char* scene : kEngineScenes) any = any || m_results.count(scene) != 0;
    if (!any) return;
    const auto percent = [](double share) {
        return share < 0.0 ? std::string("n/a") : Format("%.1f %%", 100.0 * share);
    };
    out << "Engine: 64 voices (sumtone x ramplet through a multiplier, gate and pitch from step sources, one mixer) at "
        << Format("%g", kEngineRate / 1000.0)
        << " kHz, one engine block per call size; CPU time with the clock reads taken out. The plug-ins' share is "
           "the time inside their processing calls (the median over the blocks); the engine's share is the rest.\n\n"
        << "| scene | block | ns/sample, all voices | ns/sample per voice | awake voices | in plug-in calls, "
           "per block | engine's share | allocations per block |\n|---|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const char* scene : kEngineScenes) {
        for (int frames : kCallSizes) {
            const Measurement* m = Find(scene, frames);
            if (m == nullptr || m->voices <= 0.0) continue;
            const double block = BlockNs(*m, frames);
            out << "| " << scene << " | " << frames << " | " << Format("%.2f", block / frames) << " | "
                << Format("%.3f", block / frames / m->voices) << " | " << Format("%.1f", m->awake) << " | "
                << Format("%.0f", m->plugin_ns >= 0.0 ? m->plugin_ns : 0.0) << " ns | " << percent(EngineShare(*m))
                << " | " << Format("%g", m->allocations_per_call) << " |\n";
        }
    }
    out << "\n| subject | target | measured at " << kTargetCall << " | holds |\n|---|---|---:|---|\n";
    for (const char* scene : {"engine.voices64.random", "engine.voices64.sounding"}) {
        const Measurement* m = Find(scene, kTargetCall);
        const double share = m ? EngineShare(*m) : -1.0;
        out << "| " << scene << " | the engine's own cost at most " << percent(kEngineShareLimit) << " of the total | "
            << percent(share) << " | "
            << (share < 0.0                  ? "not measured"
                : share <= kEngineShareLimit ? "yes"
                                             : "no")
            << " |\n";
    }
    const Measurement* asleep = Find("engine.voices64.asleep", kTargetCall);
    const Measurement* sounding = Find("engine.voices64.sounding", kTargetCall);
    double ratio = -1.0;
    if (asleep && sounding && BlockNs(*sounding, kTargetCall) > 0.0)
        ratio = BlockNs(*asleep, kTargetCall) / BlockNs(*sounding, kTargetCall);
    out << "| a sleeping voice | at most " << percent(kSleepingVoiceLimit) << " of a sounding one | " << percent(ratio)
        << " | "
        << (ratio < 0.0                    ? "not measured"
            : ratio <= kSleepingVoiceLimit ? "yes"
                                           : "no")
        << " |\n";
    if (sounding) {
        const double per_voice = BlockNs(*sounding, kTargetCall) / kTargetCall / sounding->voices;
        out << "| sounding voices per core at " << Format("%g", kEngineRate / 1000.0) << " kHz | - | "
            << (per_voice > 0.0 ? Format("%.0f", 1e9 / (per_voice * kEngineRate)) : std::string("n/a")) << " | - |\n";
    }
    out << "\n";
}

}  // namespace vxbench
