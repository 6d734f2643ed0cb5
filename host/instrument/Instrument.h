// A patch played by notes: the patch is a voice template, built once per
// voice into one engine, each voice's mapped inputs driven by a note source,
// and every voice mixed to the outputs. It is a block source, so a real-time
// driver and the offline renderer play it the same way.
//
// Voices: a note goes to a voice never used yet, else to the voice released
// longest ago, else it steals the voice held longest (a stolen voice closes
// its gate for one sample before the new note, so its envelope starts
// again). All of this follows the MIDI messages alone, never the state of
// the plug-ins, so the output is the same however the song is cut into
// periods. A released voice is left alone: it runs its release, settles and
// sleeps, and nothing wakes it until its next note (the pitch wheel bends
// held and sustained notes only).
//
// MIDI: note on and off on any channel (velocity 0 is a note off), the
// sustain pedal (controller 64, down from 64), the pitch wheel, all notes
// off (controller 123) and all sound off (controller 120), which release
// every note. Everything else is ignored.
#ifndef VXHOST_INSTRUMENT_H
#define VXHOST_INSTRUMENT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BlockSource.h"
#include "Engine.h"
#include "Patch.h"

namespace vxhost {

class NoteSourceNode;

class Instrument final : public BlockSource {
public:
    // Builds description.voices copies of the patch, which must have a note
    // mapping (description.has_notes). PatchError, placed in the person's
    // text, for a mapping that names a pin that does not exist, is not an
    // audio input or already has a source or a wire; HostError from the
    // resolver, the loader and the engine pass through. The block size of
    // the patch is MaxFrames().
    Instrument(const PatchDescription& description, const PluginResolver& resolve_plugin,
               const AudioLoader& load_audio);
    ~Instrument() override;

    // ---- BlockSource: the audio thread ----
    int32_t Channels() const override { return static_cast<int32_t>(m_mixers.size()); }
    int32_t MaxFrames() const override { return m_engine->BlockSize(); }
    // No allocation, lock or file access (beyond what the plug-ins do).
    void Render(int32_t frames, const MidiMessage* midi, int32_t midi_count, float* const* out) override;

    // ---- Description and observation, from the thread that owns it ----
    double SampleRate() const { return m_engine->SampleRate(); }
    int32_t Voices() const { return static_cast<int32_t>(m_voices.size()); }
    // The template's output names ("vca.out"), one per channel.
    const std::vector<std::string>& OutputNames() const { return m_output_names; }
    // The patch's own length in samples, 0 when it gives none.
    uint64_t LengthFrames() const { return m_length_frames; }
    uint64_t NotesPlayed() const { return m_notes_played; }
    // Notes cut short while still held (or sustained) to make room.
    uint64_t VoicesStolen() const { return m_voices_stolen; }
    // Note changes dropped because a voice had too many in one period.
    uint64_t DroppedChanges() const { return m_dropped_changes; }

    const Engine& GetEngine() const { return *m_engine; }
    // The name a module of the template has in voice `voice` (0-based):
    // the template's own name in voice 0, "name@2" in the second, and so on.
    static std::string VoiceModuleName(const std::string& module, int32_t voice);
    // The modules of voice `voice`, its note source excluded.
    const std::vector<NodeId>& VoiceNodes(int32_t voice) const;

private:
    struct Voice {
        NoteSourceNode* source = nullptr;
        std::vector<NodeId> nodes;
        int32_t note = -1;
        bool held = false;       // the key is down
        bool sustained = false;  // the key is up, the pedal holds it
        bool gate_open = false;
        bool used = false;
        uint64_t order = 0;  // when the note started, or was released
        uint64_t gate_closed_at = UINT64_MAX;
    };

    void Handle(const MidiMessage& message, uint64_t clock);
    void NoteOn(int32_t note, int32_t velocity, uint64_t clock);
    void NoteOff(int32_t note, uint64_t clock);
    void Release(Voice& voice, uint64_t clock);
    void ReleaseAll(uint64_t clock);
    void Bend(int32_t value, uint64_t clock);
    Voice& Allocate();
    float Pitch(int32_t note) const;
    void Queue(Voice& voice, int32_t output, uint64_t clock, float value);

    std::unique_ptr<Engine> m_engine;
    std::vector<Voice> m_voices;
    std::vector<NodeId> m_mixers;
    std::vector<std::string> m_output_names;
    uint64_t m_length_frames = 0;
    double m_bend_range = 2.0;
    double m_bend_semitones = 0.0;
    bool m_pedal = false;
    uint64_t m_counter = 0;
    uint64_t m_notes_played = 0;
    uint64_t m_voices_stolen = 0;
    uint64_t m_dropped_changes = 0;
};

}  // namespace vxhost

#endif  // VXHOST_INSTRUMENT_H
