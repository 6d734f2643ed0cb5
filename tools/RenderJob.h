// The part every rendering command shares: build the patch, render it to a
// WAV file with progress, and say what was written.
#ifndef VXHOST_TOOL_RENDERJOB_H
#define VXHOST_TOOL_RENDERJOB_H

#include <string>
#include <vector>

#include "Patch.h"

namespace vxhost {

struct RenderedFile {
    std::string path;
    double seconds = 0.0;
    int sample_rate = 0;
    std::vector<std::string> channels;  // "module.pin" of each channel
    float peak = 0.0f;
    std::vector<std::vector<float>> kept;  // the outputs, and the taps, when asked to keep them
};

// Renders `description` into the WAV file `path`. `taps` ("module.pin") are
// recorded beside the outputs; with `keep` the samples stay in memory,
// outputs first, then taps.
RenderedFile RenderToWav(const PatchDescription& description, const std::string& path,
                         const std::vector<std::string>& taps = {}, bool keep = false);

// "wrote out.wav: 2.00 s at 44100 Hz, 1 channel (osc.output), peak 0.50"
std::string Summary(const RenderedFile& file);

}  // namespace vxhost

#endif  // VXHOST_TOOL_RENDERJOB_H
