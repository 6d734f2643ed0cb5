// vxhost patch PATCH.json -o OUT.wav: a patch file rendered to an audio file.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Commands.h"
#ifdef VXHOST_HAVE_MIDI_FILES
#include "MidiFile.h"
#endif
#include "PatchJson.h"
#include "RenderJob.h"

namespace vxhost {

namespace {

std::string ReadPatchText(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw HostError("cannot read patch " + path + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) throw HostError("cannot read patch " + path + ": it is a folder");
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) throw HostError("cannot read patch " + path + ": " + std::strerror(errno));
    return text.str();
}

std::vector<TimedMidiMessage> ReadSong(const std::string& path, double sample_rate) {
#ifdef VXHOST_HAVE_MIDI_FILES
    return ReadMidiFile(path, sample_rate);
#else
    (void)sample_rate;
    throw HostError("cannot play " + path + ": this vxhost was built without MIDI files (libsmf)");
#endif
}

}  // namespace

int RunPatch(const PatchOptions& options) {
    const std::string text = ReadPatchText(options.patch);
    try {
        PatchDescription description = ParsePatchJson(text);
        if (options.length > 0.0) description.length_seconds = options.length;
        if (options.midi.empty()) {
            PrintReport(RenderToFile(description, options.output));
        } else {
            if (!description.has_notes)
                throw PatchError("--midi plays notes on a patch that maps them: give it \"notes\" (and \"voices\")",
                                 {});
            PrintReport(
                RenderNotesToFile(description, ReadSong(options.midi, description.sample_rate), options.output));
        }
    } catch (const PatchError& e) {
        const Location where = e.Where();
        if (where.line == 0) throw HostError(options.patch + ": " + e.what());
        throw HostError(options.patch + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": " +
                        e.what());
    }
    return 0;
}

}  // namespace vxhost
