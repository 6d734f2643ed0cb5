// A patch file as the commands that play one read it: its text, its faults
// placed at "file:line:column", and the song that plays it.
#ifndef VXHOST_PATCH_FILE_H
#define VXHOST_PATCH_FILE_H

#include <string>
#include <vector>

#include "HostError.h"
#include "MidiTimeline.h"
#include "Patch.h"

namespace vxhost {

// HostError for a file that does not exist, is a folder or cannot be read.
std::string ReadPatchText(const std::string& path);

// The HostError that names where in the file `error` lies.
[[noreturn]] void ThrowWithPatchPlace(const std::string& path, const PatchError& error);

// Runs `work` (parsing or building the patch), giving a PatchError the
// file's name and the place in it.
template <class Work>
void WithPatchPlace(const std::string& path, const Work& work) {
    try {
        work();
    } catch (const PatchError& e) {
        ThrowWithPatchPlace(path, e);
    }
}

// The MIDI file's messages on the sample clock; HostError where the build
// has no MIDI file reader.
std::vector<TimedMidiMessage> ReadSong(const std::string& path, double sample_rate);

}  // namespace vxhost

#endif  // VXHOST_PATCH_FILE_H
