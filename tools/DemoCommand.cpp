// vxhost demo: the built-in patch rendered to a WAV file and a picture, and
// the patch itself written beside them to be edited and rendered again.
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "Commands.h"
#ifdef VXHOST_HAVE_MIDI_FILES
#include "MidiFile.h"
#endif
#include "DemoPatch.h"
#include "DemoPicture.h"
#include "PatchJson.h"
#include "PinValues.h"
#include "Interrupts.h"
#include "OutputTarget.h"
#include "RenderJob.h"

namespace vxhost {

namespace {

bool MakeOneFolder(const std::string& path) {
#if defined(_WIN32)
    return _mkdir(path.c_str()) == 0;
#else
    return mkdir(path.c_str(), 0777) == 0;
#endif
}

void MakeFolder(const std::string& folder) {
    std::string partial;
    for (size_t i = 0; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != '/' && folder[i] != '\\') continue;
        partial = folder.substr(0, i);
        if (partial.empty()) continue;
        if (!MakeOneFolder(partial) && errno != EEXIST)
            throw HostError("cannot create folder " + partial + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw HostError("cannot use " + folder + " as a folder");
}

// A voice's band limit in hertz: its "maxfreq" input is a tenth of it.
double BandLimitHz(const PatchDescription& description, const std::string& module) {
    for (const PinSetting& s : description.settings) {
        double value = 0.0;
        if (s.module == module && s.pin == "maxfreq" && ParseNumber(s.source, &value)) return value * kVoltsPerUnit;
    }
    return 0.0;
}

}  // namespace

int RunDemo(const DemoOptions& options) {
    const std::string folder = options.folder.empty() ? "." : options.folder;
    MakeFolder(folder);
    const PatchDescription description = ParsePatchJson(kDemoPatch);
    const std::string wav = folder + "/demo.wav";
    const std::string svg = folder + "/demo.svg";
    const std::string patch = folder + "/demo-patch.json";
    const std::string midi = folder + "/demo.mid";

    std::cout << "vxhost demo: a phrase of melody, chords and bass on " << description.voices
              << " voices, each a sumtone oscillator shaped by a ramplet envelope\n";
    std::vector<TimedMidiMessage> song = DemoSong(description.sample_rate);
#ifdef VXHOST_HAVE_MIDI_FILES
    // The phrase goes through a file, as a person's song would.
    WriteMidiFile(midi, song, description.sample_rate);
    std::cout << "wrote " << midi << ": the phrase as a standard MIDI file\n";
    song = ReadMidiFile(midi, description.sample_rate);
#endif
    RenderedFile file = RenderNotesToFile(description, song, OutputOptions{wav, "", "", true},
                                          {"env.Signal Out", "env@2.Signal Out", "vca.out"}, true);
    PrintReport(file);

    DemoPictureData picture;
    picture.title = "vxhost demo: melody, chords and bass on sumtone voices shaped by ramplet envelopes";
    picture.sample_rate = description.sample_rate;
    picture.mix = std::move(file.kept[0]);
    picture.envelopes = {{"first voice's envelope (melody)", "#dd6b20", std::move(file.kept[1])},
                         {"second voice's envelope (chords)", "#38a169", std::move(file.kept[2])}};
    picture.note = std::move(file.kept[3]);
    picture.note_start_seconds = 0.1;
    picture.note_label = "the melody's first note (A4, harmonic spacing, one-sided) with its band limit";
    const int limit = static_cast<int>(BandLimitHz(description, "osc"));
    picture.band_limits = {{static_cast<double>(limit), "voice band limit " + std::to_string(limit) + " Hz"}};
    WriteTextFile(svg, DemoSvg(picture));
    std::cout << "wrote " << svg << ": waveform, two voices' envelopes, the melody's spectrum stopping at its " << limit
              << " Hz band limit, and a spectrogram\n";

    WriteTextFile(patch, kDemoPatch);
    std::cout << "wrote " << patch << ": edit it and play the phrase again with vxhost render " << patch << " --midi "
              << midi << " -o my.wav\n";
    return 0;
}

}  // namespace vxhost
