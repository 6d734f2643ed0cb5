// Standard MIDI files read into a timeline on the sample clock. Only the
// native build has the reader (it needs libsmf); VXHOST_HAVE_MIDI_FILES
// says whether it is there.
#ifndef VXHOST_MIDIFILE_H
#define VXHOST_MIDIFILE_H

#include <string>
#include <vector>

#include "MidiTimeline.h"

namespace vxhost {

// Every channel message of every track, merged in time order, each on the
// sample nearest its time at `sample_rate` (tempo changes honoured). System
// and meta messages are left out. HostError, one line naming the file, for a
// file that cannot be read, is no standard MIDI file, is cut short or lasts
// longer than any render.
std::vector<TimedMidiMessage> ReadMidiFile(const std::string& path, double sample_rate);

// Writes `song` (in sample order, at `sample_rate`) as a standard MIDI file
// of one track at 120 beats a minute, 960 pulses a beat. HostError when the
// file cannot be written.
void WriteMidiFile(const std::string& path, const std::vector<TimedMidiMessage>& song, double sample_rate);

}  // namespace vxhost

#endif  // VXHOST_MIDIFILE_H
