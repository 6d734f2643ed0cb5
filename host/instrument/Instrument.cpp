#include "Instrument.h"

#include <algorithm>
#include <map>

#include "CombinerNodes.h"
#include "NoteSource.h"

namespace vxhost {

namespace {

// Note changes a voice can take in one period: a note is three, a bend one.
constexpr size_t kChangesPerVoice = 512;
constexpr int32_t kMaxVoices = 64;  // one mixer input each

// "module.pin" of the template as it is called in voice `voice`.
std::string VoiceRef(const std::string& ref, int32_t voice) {
    const size_t dot = ref.find('.');
    if (dot == std::string::npos) return Instrument::VoiceModuleName(ref, voice);
    return Instrument::VoiceModuleName(ref.substr(0, dot), voice) + ref.substr(dot);
}

PatchDescription VoiceCopies(const PatchDescription& t, int32_t voices) {
    PatchDescription all;
    all.sample_rate = t.sample_rate;
    all.block_size = t.block_size;
    all.length_seconds = t.length_seconds;
    for (int32_t v = 0; v < voices; ++v) {
        for (ModuleEntry m : t.modules) {
            m.name = Instrument::VoiceModuleName(m.name, v);
            all.modules.push_back(m);
        }
        for (PinSetting s : t.settings) {
            s.module = Instrument::VoiceModuleName(s.module, v);
            all.settings.push_back(s);
        }
        for (WireEntry w : t.wires) {
            w.from = VoiceRef(w.from, v);
            w.to = VoiceRef(w.to, v);
            all.wires.push_back(w);
        }
        for (OutputEntry o : t.outputs) {
            o.ref = VoiceRef(o.ref, v);
            all.outputs.push_back(o);
        }
    }
    // A template that names no output plays every audio output of its last
    // plug-in; the instrument finds them in each voice once built.
    return all;
}

}  // namespace

std::string Instrument::VoiceModuleName(const std::string& module, int32_t voice) {
    return voice == 0 ? module : module + "@" + std::to_string(voice + 1);
}

Instrument::Instrument(const PatchDescription& description, const PluginResolver& resolve_plugin,
                       const AudioLoader& load_audio) {
    if (!description.has_notes)
        throw PatchError("the patch says nothing about notes; give it \"notes\": {\"gate\": \"module.pin\", ...}", {});
    const int32_t voices = description.voices;
    if (voices < 1 || voices > kMaxVoices)
        throw PatchError("voices must lie between 1 and " + std::to_string(kMaxVoices), description.voices_where);
    m_bend_range = description.notes.bend_range;

    // Every voice loads the same libraries; each is looked up once.
    std::map<std::string, std::shared_ptr<const PluginLibrary>> libraries;
    const PluginResolver resolve = [&](const std::string& name) {
        auto found = libraries.find(name);
        if (found == libraries.end()) found = libraries.emplace(name, resolve_plugin(name)).first;
        return found->second;
    };
    PatchDescription all = VoiceCopies(description, voices);
    const bool last_plugin_outputs = description.outputs.empty();
    BuiltPatch patch = BuildPatch(all, resolve, load_audio);
    m_engine = std::move(patch.engine);
    Engine& engine = *m_engine;
    m_length_frames = description.length_seconds > 0.0 ? patch.length_frames : 0;

    // The outputs of each voice, in the template's order.
    std::vector<std::vector<PinRef>> outputs(static_cast<size_t>(voices));
    if (last_plugin_outputs) {
        // BuildPatch chose the last voice's; every voice has the same pins.
        std::string last;
        for (const ModuleEntry& m : description.modules)
            if (!m.plugin.empty()) last = m.name;
        for (int32_t v = 0; v < voices; ++v) {
            const NodeId id = engine.Find(VoiceModuleName(last, v));
            const Node& node = engine.At(id);
            for (int32_t pin = 0; pin < node.PinCount(); ++pin) {
                const NodePin& p = node.Pins()[static_cast<size_t>(pin)];
                if (p.direction == PinDirection::Output && p.kind == PinKind::Audio)
                    outputs[static_cast<size_t>(v)].push_back({id, pin});
            }
        }
    } else {
        const size_t per_voice = description.outputs.size();
        for (size_t i = 0; i < patch.outputs.size(); ++i) outputs[i / per_voice].push_back(patch.outputs[i]);
    }
    for (const PinRef& ref : outputs[0]) m_output_names.push_back(engine.Describe(ref));

    struct Mapped {
        const std::string* ref;
        Location where;
        int32_t output;
    };
    const NoteMapping& notes = description.notes;
    const Mapped mapped[] = {{&notes.gate, notes.gate_where, NoteSourceNode::kGate},
                             {&notes.pitch, notes.pitch_where, NoteSourceNode::kPitch},
                             {&notes.velocity, notes.velocity_where, NoteSourceNode::kVelocity}};
    // The first voice carries the template's names, so a fault is reported
    // as the person wrote it.
    std::vector<PinRef> driven;
    for (const Mapped& m : mapped) {
        if (m.ref->empty()) continue;
        const PinRef ref = ResolvePinRef(engine, *m.ref, m.where);
        for (const PinRef& other : driven)
            if (other.node == ref.node && other.pin == ref.pin)
                throw PatchError("notes drive " + engine.Describe(ref) + " twice", m.where);
        driven.push_back(ref);
        const Node& node = engine.At(ref.node);
        const NodePin& pin = node.Pins()[static_cast<size_t>(ref.pin)];
        const std::string name = engine.Describe(ref);
        if (pin.direction != PinDirection::Input || pin.kind != PinKind::Audio)
            throw PatchError("notes cannot drive " + name + ": it is not an audio input", m.where);
        for (const PinSetting& s : description.settings)
            if (s.module == node.Name() && node.FindPin(s.pin) == ref.pin)
                throw PatchError("notes drive " + name + ", which the patch gives a source too", m.where);
        for (const WireEntry& w : description.wires) {
            const PinRef to = ResolvePinRef(engine, w.to, w.to_where);
            if (to.node == ref.node && to.pin == ref.pin)
                throw PatchError("notes drive " + name + ", which a wire feeds too", m.where);
        }
    }

    m_voices.resize(static_cast<size_t>(voices));
    for (int32_t v = 0; v < voices; ++v) {
        Voice& voice = m_voices[static_cast<size_t>(v)];
        for (const ModuleEntry& m : description.modules) voice.nodes.push_back(engine.Find(VoiceModuleName(m.name, v)));
        voice.source = &engine.Emplace<NoteSourceNode>("notes@" + std::to_string(v + 1), kChangesPerVoice);
        const NodeId source = engine.NodeCount() - 1;
        for (const Mapped& m : mapped)
            if (!m.ref->empty())
                engine.Connect({source, m.output}, ResolvePinRef(engine, VoiceRef(*m.ref, v), m.where));
    }
    for (size_t c = 0; c < m_output_names.size(); ++c) {
        MixerNode& mixer = engine.Emplace<MixerNode>("mix@" + std::to_string(c + 1), voices);
        const NodeId id = engine.NodeCount() - 1;
        for (int32_t v = 0; v < voices; ++v) engine.Connect(outputs[static_cast<size_t>(v)][c], {id, v});
        m_mixers.push_back(id);
        (void)mixer;
    }
    engine.Start();
}

Instrument::~Instrument() = default;

const std::vector<NodeId>& Instrument::VoiceNodes(int32_t voice) const {
    return m_voices.at(static_cast<size_t>(voice)).nodes;
}

void Instrument::Render(int32_t frames, const MidiMessage* midi, int32_t midi_count, float* const* out) {
    int32_t next = 0;
    int32_t last_frame = 0;
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min(frames - done, MaxFrames());
        const uint64_t start = m_engine->Clock();
        // A message stamped out of order or past the period plays as soon
        // as it can: never before one that came earlier, never after the period.
        while (next < midi_count && (midi[next].frame < done + n || done + n == frames)) {
            const int32_t frame = std::min(std::max(midi[next].frame, last_frame), frames - 1);
            last_frame = frame;
            Handle(midi[next], start + static_cast<uint64_t>(std::max(frame - done, 0)));
            ++next;
        }
        m_engine->Run(n);
        for (size_t c = 0; c < m_mixers.size(); ++c) {
            const MixerNode& mixer = static_cast<const MixerNode&>(m_engine->At(m_mixers[c]));
            const float* samples = mixer.OutputBuffer(mixer.OutputPin());
            std::copy(samples, samples + n, out[c] + done);
        }
        done += n;
    }
}

void Instrument::Handle(const MidiMessage& message, uint64_t clock) {
    if (message.size < 1) return;
    const int32_t status = message.bytes[0] & 0xF0;
    const int32_t data1 = message.size > 1 ? message.bytes[1] & 0x7F : 0;
    const int32_t data2 = message.size > 2 ? message.bytes[2] & 0x7F : 0;
    if (message.size < 3) return;  // every message the instrument plays has two data bytes
    switch (status) {
        case 0x90:
            if (data2 > 0) {
                NoteOn(data1, data2, clock);
                break;
            }
            NoteOff(data1, clock);
            break;
        case 0x80:
            NoteOff(data1, clock);
            break;
        case 0xB0:
            if (data1 == 64) {
                const bool down = data2 >= 64;
                if (m_pedal && !down)
                    for (Voice& voice : m_voices)
                        if (voice.sustained) Release(voice, clock);
                m_pedal = down;
            } else if (data1 == 120 || data1 == 123) {
                ReleaseAll(clock);
            }
            break;
        case 0xE0:
            Bend(data1 | (data2 << 7), clock);
            break;
        default:
            break;
    }
}

float Instrument::Pitch(int32_t note) const {
    return static_cast<float>(0.5 + (static_cast<double>(note - 69) + m_bend_semitones) / 120.0);
}

void Instrument::Queue(Voice& voice, int32_t output, uint64_t clock, float value) {
    if (!voice.source->Queue(output, clock, value)) ++m_dropped_changes;
}

Instrument::Voice& Instrument::Allocate() {
    for (Voice& voice : m_voices)
        if (!voice.used) return voice;
    Voice* oldest = nullptr;
    for (Voice& voice : m_voices)
        if (!voice.held && !voice.sustained && (oldest == nullptr || voice.order < oldest->order)) oldest = &voice;
    if (oldest != nullptr) return *oldest;
    for (Voice& voice : m_voices)
        if (oldest == nullptr || voice.order < oldest->order) oldest = &voice;
    ++m_voices_stolen;
    return *oldest;
}

void Instrument::NoteOn(int32_t note, int32_t velocity, uint64_t clock) {
    // The same key struck again while it sounds starts a fresh voice.
    for (Voice& voice : m_voices)
        if (voice.note == note && (voice.held || voice.sustained)) Release(voice, clock);
    Voice& voice = Allocate();
    uint64_t start = clock;
    if (voice.gate_open) {
        Queue(voice, NoteSourceNode::kGate, clock, 0.0f);
        voice.gate_closed_at = clock;
    }
    // A gate that closes and opens at one sample would be no change at all.
    if (voice.gate_closed_at == clock) start = clock + 1;
    Queue(voice, NoteSourceNode::kPitch, start, Pitch(note));
    Queue(voice, NoteSourceNode::kVelocity, start, static_cast<float>(velocity) / 127.0f);
    Queue(voice, NoteSourceNode::kGate, start, 1.0f);
    voice.note = note;
    voice.held = true;
    voice.sustained = false;
    voice.gate_open = true;
    voice.used = true;
    voice.order = ++m_counter;
    ++m_notes_played;
}

void Instrument::NoteOff(int32_t note, uint64_t clock) {
    Voice* oldest = nullptr;
    for (Voice& voice : m_voices)
        if (voice.note == note && voice.held && (oldest == nullptr || voice.order < oldest->order)) oldest = &voice;
    if (oldest == nullptr) return;
    if (m_pedal) {
        oldest->held = false;
        oldest->sustained = true;
        return;
    }
    Release(*oldest, clock);
}

void Instrument::Release(Voice& voice, uint64_t clock) {
    if (voice.gate_open) {
        Queue(voice, NoteSourceNode::kGate, clock, 0.0f);
        voice.gate_closed_at = clock;
        voice.gate_open = false;
    }
    voice.held = false;
    voice.sustained = false;
    voice.order = ++m_counter;
}

void Instrument::ReleaseAll(uint64_t clock) {
    for (Voice& voice : m_voices)
        if (voice.held || voice.sustained) Release(voice, clock);
}

void Instrument::Bend(int32_t value, uint64_t clock) {
    m_bend_semitones = static_cast<double>(value - 8192) / 8192.0 * m_bend_range;
    for (Voice& voice : m_voices)
        if (voice.held || voice.sustained) Queue(voice, NoteSourceNode::kPitch, clock, Pitch(voice.note));
}

}  // namespace vxhost
