#include "PatchFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#ifdef VXHOST_HAVE_MIDI_FILES
#include "MidiFile.h"
#endif

namespace vxhost {

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

void ThrowWithPatchPlace(const std::string& path, const PatchError& error) {
    const Location where = error.Where();
    if (where.line == 0) throw HostError(path + ": " + error.what());
    throw HostError(path + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": " + error.what());
}

std::vector<TimedMidiMessage> ReadSong(const std::string& path, double sample_rate) {
#ifdef VXHOST_HAVE_MIDI_FILES
    return ReadMidiFile(path, sample_rate);
#else
    (void)sample_rate;
    throw HostError("cannot play " + path + ": this vxhost was built without MIDI files (libsmf)");
#endif
}

}  // namespace vxhost
