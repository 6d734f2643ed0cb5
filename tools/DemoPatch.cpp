#include "DemoPatch.h"

#include <algorithm>
#include <cmath>

namespace vxhost {

// One voice: a one-sided harmonic series (fm1 0.1) band-limited at 4000 Hz
// (maxfreq 400), its gate and level following a ramplet envelope, and a
// multiplier that scales it by the envelope, the note's velocity and a
// half, so that a chord of five stays below full scale. The notes drive
// the envelope's gate, the oscillator's pitch and the multiplier's third
// input; the oscillator's gate follows the envelope, so a voice whose
// release has ended lets both plug-ins sleep.
const char* const kDemoPatch = R"({
  "sample_rate": 44100,
  "block_size": 512,
  "voices": 16,
  "notes": { "gate": "env.Gate", "pitch": "osc.fc", "velocity": "vca.in3", "bend_range": 2 },
  "modules": {
    "osc": { "plugin": "sumtone", "pins": {
      "fm1": 0.1, "N": 10, "a": 0.07, "maxfreq": 400, "detune": 0, "Mode": "1-Sided" } },
    "env": { "plugin": "ramplet", "pins": {
      "Attack": 0.2, "Decay": 0.45, "Sustain": 0.6, "Release": 0.45, "Overall Level": 1 } },
    "vca": { "utility": "multiply", "inputs": 4, "pins": { "in4": 0.5 } }
  },
  "wires": [
    { "from": "env.Signal Out", "to": "osc.gate" },
    { "from": "osc.output", "to": "vca.in1" },
    { "from": "env.Signal Out", "to": "vca.in2" }
  ],
  "output": "vca.out"
}
)";

namespace {

struct DemoNote {
    double beat;    // at 120 beats a minute
    double length;  // beats
    int note;
    int velocity;
};

// A phrase in A minor: a melody over chords (Am, F, C, G, Am) and a bass.
// The melody comes first, so its first note (A4) sounds on the first voice.
const DemoNote kPhrase[] = {
    // melody
    {0, 1, 69, 110},
    {1, 0.5, 72, 100},
    {1.5, 0.5, 71, 95},
    {2, 1, 69, 105},
    {3, 1, 65, 95},
    {4, 1.5, 67, 110},
    {5.5, 0.5, 64, 90},
    {6, 1, 67, 100},
    {7, 1, 71, 100},
    {8, 2.5, 69, 115},
    // chords
    {0, 2, 57, 70},
    {0, 2, 60, 70},
    {0, 2, 64, 70},
    {2, 2, 57, 65},
    {2, 2, 60, 65},
    {2, 2, 65, 65},
    {4, 2, 55, 70},
    {4, 2, 60, 70},
    {4, 2, 64, 70},
    {6, 2, 55, 65},
    {6, 2, 59, 65},
    {6, 2, 62, 65},
    {8, 2.5, 57, 75},
    {8, 2.5, 60, 75},
    {8, 2.5, 64, 75},
    // bass
    {0, 2, 45, 90},
    {2, 2, 41, 90},
    {4, 2, 48, 90},
    {6, 2, 43, 90},
    {8, 2.5, 33, 100},
};

TimedMidiMessage At(double beat, double sample_rate, uint8_t b0, int b1, int b2) {
    TimedMidiMessage m{};
    m.sample = static_cast<uint64_t>(std::llround(beat * 0.5 * sample_rate));
    m.message.size = 3;
    m.message.bytes[0] = b0;
    m.message.bytes[1] = static_cast<uint8_t>(b1);
    m.message.bytes[2] = static_cast<uint8_t>(b2);
    return m;
}

}  // namespace

std::vector<TimedMidiMessage> DemoSong(double sample_rate) {
    std::vector<TimedMidiMessage> song;
    for (const DemoNote& n : kPhrase) {
        song.push_back(At(n.beat, sample_rate, 0x90, n.note, n.velocity));
        // Released a little early, so the next chord finds its voices free.
        song.push_back(At(n.beat + n.length - 0.1, sample_rate, 0x80, n.note, 0));
    }
    // The last melody note bends up a whole tone and back.
    song.push_back(At(8.5, sample_rate, 0xE0, 0x7F, 0x7F));
    song.push_back(At(9.5, sample_rate, 0xE0, 0x00, 0x40));
    std::stable_sort(song.begin(), song.end(),
                     [](const TimedMidiMessage& a, const TimedMidiMessage& b) { return a.sample < b.sample; });
    return song;
}

}  // namespace vxhost
