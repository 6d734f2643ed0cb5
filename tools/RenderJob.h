// The part every rendering command shares: build the patch, check that its
// file fits where it goes, render it with progress, and say what was written
// (peak level, and a warning for clipped or silent outputs).
#ifndef VXHOST_TOOL_RENDERJOB_H
#define VXHOST_TOOL_RENDERJOB_H

#include <cstdint>
#include <string>
#include <vector>

#include "MidiTimeline.h"
#include "Patch.h"

namespace vxhost {

struct OutputOptions {
    std::string path;    // "-" for standard output
    std::string format;  // --format, empty to go by the extension
    std::string depth;   // --depth, empty for the format's default
    bool check_space = true;
};

struct RenderedChannel {
    std::string name;  // "module.pin"
    float peak = 0.0f;
    uint64_t clipped = 0;  // samples at or above full scale
};

struct RenderedFile {
    std::string path;
    std::string format;  // "WAV, 32-bit float"
    double seconds = 0.0;
    int sample_rate = 0;
    std::vector<RenderedChannel> channels;
    float peak = 0.0f;
    std::vector<std::vector<float>> kept;  // the outputs, and the taps, when asked to keep them
    bool played = false;                   // by notes, on an instrument:
    int32_t voices = 0;
    uint64_t notes = 0;
    uint64_t stolen = 0;  // notes cut short while held to make room
};

// Renders `description` into the file `output.path`. `taps` ("module.pin")
// are recorded beside the outputs; with `keep` the samples stay in memory,
// outputs first, then taps.
// Recordings named as sources are read with `load` (by default ReadAudioMono).
RenderedFile RenderToFile(const PatchDescription& description, const OutputOptions& output,
                          const std::vector<std::string>& taps = {}, bool keep = false,
                          const AudioLoader& load = nullptr);

// Plays `timeline` on `description` built as an instrument (a voice per
// voice of the patch, mixed) into `output`, the way a real-time driver
// would, a block of the patch per period. The length is the patch's, else
// the last message plus a second. Taps name modules as the instrument does
// ("env" in the first voice, "env@2" in the second).
RenderedFile RenderNotesToFile(const PatchDescription& description, const std::vector<TimedMidiMessage>& timeline,
                               const OutputOptions& output, const std::vector<std::string>& taps = {},
                               bool keep = false);

// "wrote out.wav: 2.00 s at 44100 Hz, 1 channel (osc.output), peak 0.500 (-6.0 dBFS)"
std::string Summary(const RenderedFile& file);
// "played 42 notes on 16 voices, 3 stolen"
std::string NotesSummary(const RenderedFile& file);
// One line per clipped or silent channel.
std::vector<std::string> Warnings(const RenderedFile& file);
// The summary on standard output (standard error when the audio goes there)
// and the warnings on standard error.
void PrintReport(const RenderedFile& file);

}  // namespace vxhost

#endif  // VXHOST_TOOL_RENDERJOB_H
