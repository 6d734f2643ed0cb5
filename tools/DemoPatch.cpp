#include "DemoPatch.h"

namespace vxhost {

// A phrase in A minor. The lead is a one-sided series whose spacing ratio
// (fm1: 0.1 harmonic, 0.2 odd harmonics, 0.15 and 0.05 in between) and
// amplitude ratio (a) change from note to note, band-limited at 4000 Hz
// (maxfreq 400). The bass is a two-sided series with non-harmonic spacing,
// limited at 2000 Hz. Times are seconds; pitches follow fc = 0.5 + (midi -
// 69) / 120, so 0.1 is an octave and 0.5 is 440 Hz.
const char* const kDemoPatch = R"({
  "sample_rate": 44100,
  "block_size": 512,
  "length": 5.4,
  "modules": {
    "lead_gate": { "utility": "steps",
                   "points": "0:1, 0.42:0, 0.6:1, 1.02:0, 1.2:1, 1.62:0, 1.8:1, 2.22:0, 2.4:1, 2.82:0, 3:1, 3.42:0, 3.6:1, 4.02:0, 4.2:1, 4.62:0" },
    "lead": { "plugin": "sumtone", "pins": {
      "fc": "0:0.5, 0.6:0.525, 1.2:0.558333, 1.8:0.541667, 2.4:0.525, 3:0.516667, 3.6:0.5, 4.2:0.458333",
      "fm1": "0:0.1, 1.2:0.2, 1.8:0.15, 2.4:0.1, 3:0.2, 3.6:0.05, 4.2:0.1",
      "a": "0:0.07, 0.6:0.08, 1.2:0.06, 1.8:0.08, 2.4:0.09, 3:0.06, 3.6:0.08, 4.2:0.085",
      "N": 10, "maxfreq": 400, "detune": 0, "Mode": "1-Sided", "gate": "0:1, 5.2:0" } },
    "lead_env": { "plugin": "ramplet", "pins": {
      "Attack": 0.2, "Decay": 0.45, "Sustain": 0.6, "Release": 0.4, "Overall Level": 1 } },
    "lead_vca": { "utility": "multiply" },

    "bass_gate": { "utility": "steps", "points": "0:1, 1:0, 1.2:1, 2.2:0, 2.4:1, 3.4:0, 3.6:1, 4.6:0" },
    "bass": { "plugin": "sumtone", "pins": {
      "fc": "0:0.3, 1.2:0.266667, 2.4:0.325, 3.6:0.258333",
      "fm1": "0:0.03, 2.4:0.07",
      "a": 0.045, "N": 10, "maxfreq": 200, "detune": 0, "Mode": "2-Sided", "gate": "0:1, 5.2:0" } },
    "bass_env": { "plugin": "ramplet", "pins": {
      "Attack": 0.3, "Decay": 0.55, "Sustain": 0.7, "Release": 0.5, "Overall Level": 1 } },
    "bass_vca": { "utility": "multiply" },

    "mix": { "utility": "mix", "inputs": 2, "gains": [1.0, 0.6] }
  },
  "wires": [
    { "from": "lead_gate.out", "to": "lead_env.Gate" },
    { "from": "lead.output", "to": "lead_vca.in1" },
    { "from": "lead_env.Signal Out", "to": "lead_vca.in2" },
    { "from": "bass_gate.out", "to": "bass_env.Gate" },
    { "from": "bass.output", "to": "bass_vca.in1" },
    { "from": "bass_env.Signal Out", "to": "bass_vca.in2" },
    { "from": "lead_vca.out", "to": "mix.in1" },
    { "from": "bass_vca.out", "to": "mix.in2" }
  ],
  "output": "mix.out"
}
)";

}  // namespace vxhost
