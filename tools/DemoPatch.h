// The demo: a voice template (a sumtone oscillator shaped by a ramplet
// envelope through a multiplier) played on sixteen voices, and the phrase
// of melody, chords and bass it plays.
#ifndef VXHOST_TOOL_DEMOPATCH_H
#define VXHOST_TOOL_DEMOPATCH_H

#include <vector>

#include "MidiTimeline.h"

namespace vxhost {

extern const char* const kDemoPatch;

// The phrase as MIDI messages at `sample_rate`, in sample order.
std::vector<TimedMidiMessage> DemoSong(double sample_rate);

}  // namespace vxhost

#endif  // VXHOST_TOOL_DEMOPATCH_H
