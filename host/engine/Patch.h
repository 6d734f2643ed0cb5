// A patch as a person describes it (modules by name, pins by name, sources
// as text) and the building of an engine from it. Every item remembers where
// the person wrote it, so that a message can point there.
#ifndef VXHOST_PATCH_H
#define VXHOST_PATCH_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "HostError.h"
#include "PluginLibrary.h"

namespace vxhost {

// Line and column (1-based) in the person's text; 0 when not known.
struct Location {
    size_t line = 0;
    size_t column = 0;
};

class PatchError : public HostError {
public:
    PatchError(const std::string& message, Location where) : HostError(message), m_where(where) {}
    Location Where() const { return m_where; }

private:
    Location m_where;
};

struct ModuleEntry {
    std::string name;
    std::string plugin;        // a plug-in name or path, or
    std::string utility;       // "constant", "steps", "file", "multiply", "mix"
    std::string source;        // constant: the value; steps: the step list; file: the path
    int32_t inputs = 2;        // multiply, mix
    std::vector<float> gains;  // mix
    Location where;
    Location source_where;
};

// A pin given a source: module.pin = text.
struct PinSetting {
    std::string module;
    std::string pin;
    std::string source;
    Location where;         // of the pin's name
    Location source_where;  // of the source text's first character
};

struct WireEntry {
    std::string from;  // "module.pin"
    std::string to;
    Location from_where;
    Location to_where;
};

struct OutputEntry {
    std::string ref;  // "module.pin"
    Location where;
};

// Which inputs of a voice the notes drive. Each is "module.pin" or empty
// for none: the gate is 1 while a note is held (or sustained by the pedal)
// and 0 otherwise, the pitch is 0.5 at A4 (note 69) with 0.1 per octave,
// bent by the pitch wheel over `bend_range` semitones each way, and the
// velocity is the note's velocity over 127.
struct NoteMapping {
    std::string gate;
    std::string pitch;
    std::string velocity;
    double bend_range = 2.0;
    Location gate_where;
    Location pitch_where;
    Location velocity_where;
    Location where;  // of the mapping itself
};

struct PatchDescription {
    double sample_rate = 44100.0;
    int32_t block_size = 1024;
    double length_seconds = 0.0;  // 0: long enough for every source, at least a second
    std::vector<ModuleEntry> modules;
    std::vector<PinSetting> settings;
    std::vector<WireEntry> wires;
    std::vector<OutputEntry> outputs;  // none: every output of the last plug-in module
    // A patch played by notes is a voice template: `voices` copies of it
    // run side by side and are mixed (see Instrument).
    bool has_notes = false;
    NoteMapping notes;
    int32_t voices = 1;
    Location voices_where;
};

using PluginResolver = std::function<std::shared_ptr<const PluginLibrary>(const std::string& name)>;
// The samples of an audio file at the patch's rate, mixed to one channel.
using AudioLoader = std::function<std::vector<float>(const std::string& path, double sample_rate)>;

struct BuiltPatch {
    std::unique_ptr<Engine> engine;
    std::vector<PinRef> outputs;
    std::vector<std::string> output_names;
    uint64_t length_frames = 0;
};

// PatchError for anything the description names that does not exist or does not
// fit; HostError from the resolver, the loader and the engine pass through.
BuiltPatch BuildPatch(const PatchDescription& description, const PluginResolver& resolve_plugin,
                      const AudioLoader& load_audio);

// "module.pin" in a built engine; PatchError when either is unknown.
PinRef ResolvePinRef(const Engine& engine, const std::string& ref, Location where);

// Seconds as a sample count at `sample_rate`; PatchError beyond any sane length.
uint64_t SecondsToFrames(double seconds, double sample_rate, Location where);

}  // namespace vxhost

#endif  // VXHOST_PATCH_H
