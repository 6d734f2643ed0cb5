// A small voice (a sumtone oscillator whose gate and level follow a ramplet
// envelope, the velocity on a multiplier), MIDI messages written the short
// way, and a take that keeps each voice's note signals beside the mix.
#ifndef VX_TESTS_INSTRUMENT_SUPPORT_H
#define VX_TESTS_INSTRUMENT_SUPPORT_H

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Instrument.h"
#include "MidiTimeline.h"
#include "NoteSource.h"
#include "TestPlugins.h"

inline bool RealPluginsBuilt() {
    for (const char* name : {"ramplet", "sumtone"})
        if (!std::ifstream(BuiltPluginPath(name)).good()) return false;
    return true;
}

inline vxhost::PinSetting Set(const std::string& module, const std::string& pin, const std::string& source) {
    vxhost::PinSetting s;
    s.module = module;
    s.pin = pin;
    s.source = source;
    return s;
}

// The shortest envelope times, so that a released voice settles and sleeps
// within a few hundred samples.
inline vxhost::PatchDescription VoiceTemplate(int32_t voices, int32_t block_size = 256) {
    vxhost::PatchDescription d;
    d.sample_rate = 48000.0;
    d.block_size = block_size;
    vxhost::ModuleEntry osc;
    osc.name = "osc";
    osc.plugin = "sumtone";
    vxhost::ModuleEntry env;
    env.name = "env";
    env.plugin = "ramplet";
    vxhost::ModuleEntry vca;
    vca.name = "vca";
    vca.utility = "multiply";
    vca.inputs = 3;
    d.modules = {osc, env, vca};
    d.settings = {Set("osc", "fm1", "0.1"),     Set("osc", "N", "10"),     Set("osc", "a", "0.08"),
                  Set("osc", "maxfreq", "300"), Set("env", "Attack", "0"), Set("env", "Decay", "0.2"),
                  Set("env", "Sustain", "0.6"), Set("env", "Release", "0")};
    d.wires = {{"env.Signal Out", "osc.gate", {}, {}},
               {"osc.output", "vca.in1", {}, {}},
               {"env.Signal Out", "vca.in2", {}, {}}};
    d.outputs = {{"vca.out", {}}};
    d.has_notes = true;
    d.voices = voices;
    d.notes.gate = "env.Gate";
    d.notes.pitch = "osc.fc";
    d.notes.velocity = "vca.in3";
    d.notes.bend_range = 2.0;
    return d;
}

inline std::unique_ptr<vxhost::Instrument> MakeInstrument(const vxhost::PatchDescription& d) {
    return std::make_unique<vxhost::Instrument>(
        d, [](const std::string& name) { return SharedPlugin(name); },
        [](const std::string& path, double) -> std::vector<float> { throw vxhost::HostError("no file " + path); });
}

inline vxhost::TimedMidiMessage Message(uint64_t sample, int b0, int b1, int b2) {
    vxhost::TimedMidiMessage m{};
    m.sample = sample;
    m.message.size = 3;
    m.message.bytes[0] = static_cast<uint8_t>(b0);
    m.message.bytes[1] = static_cast<uint8_t>(b1);
    m.message.bytes[2] = static_cast<uint8_t>(b2);
    return m;
}
inline vxhost::TimedMidiMessage On(uint64_t sample, int note, int velocity = 100) {
    return Message(sample, 0x90, note, velocity);
}
inline vxhost::TimedMidiMessage Off(uint64_t sample, int note) { return Message(sample, 0x80, note, 0); }
inline vxhost::TimedMidiMessage Pedal(uint64_t sample, bool down) { return Message(sample, 0xB0, 64, down ? 127 : 0); }
inline vxhost::TimedMidiMessage Bend(uint64_t sample, int value) {
    return Message(sample, 0xE0, value & 0x7F, (value >> 7) & 0x7F);
}

// What fc a note plays at with the wheel bent by `semitones`.
inline float PitchOf(int note, double semitones = 0.0) {
    return static_cast<float>(0.5 + (static_cast<double>(note - 69) + semitones) / 120.0);
}

struct Take {
    std::vector<float> mix;
    // [voice][sample] of what each voice's note source sent.
    std::vector<std::vector<float>> gate, pitch, velocity;
};

// Plays `song` for `frames` samples in periods of `period` samples.
inline Take Play(vxhost::Instrument& instrument, const std::vector<vxhost::TimedMidiMessage>& song, uint64_t frames,
                 int32_t period) {
    Take take;
    const vxhost::Engine& engine = instrument.GetEngine();
    const size_t voices = static_cast<size_t>(instrument.Voices());
    take.gate.resize(voices);
    take.pitch.resize(voices);
    take.velocity.resize(voices);
    vxhost::RenderTimeline(instrument, song, frames, period, [&](const float* const* out, int32_t n) {
        take.mix.insert(take.mix.end(), out[0], out[0] + n);
        for (size_t v = 0; v < voices; ++v) {
            const vxhost::NodeId id = engine.Find("notes@" + std::to_string(v + 1));
            const auto keep = [&](std::vector<float>& into, int32_t pin) {
                const float* samples = engine.Output({id, pin});
                into.insert(into.end(), samples, samples + n);
            };
            keep(take.gate[v], vxhost::NoteSourceNode::kGate);
            keep(take.pitch[v], vxhost::NoteSourceNode::kPitch);
            keep(take.velocity[v], vxhost::NoteSourceNode::kVelocity);
        }
    });
    return take;
}

#endif  // VX_TESTS_INSTRUMENT_SUPPORT_H
