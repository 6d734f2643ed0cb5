#include "RenderJob.h"

#include <cmath>
#include <cstdio>

#include "AudioFile.h"
#include "PluginSearch.h"
#include "Progress.h"
#include "Renderer.h"
#include "SafeOutput.h"

namespace vxhost {

RenderedFile RenderToWav(const PatchDescription& description, const std::string& path,
                         const std::vector<std::string>& taps, bool keep) {
    // The output's place is checked before any work, so a typo costs nothing.
    { PendingFile check(path); }
    BuiltPatch patch = BuildPatch(description, &LoadPlugin, &ReadAudioMono);
    std::vector<PinRef> recorded = patch.outputs;
    for (const std::string& tap : taps) recorded.push_back(ResolvePinRef(*patch.engine, tap, {}));

    RenderedFile file;
    file.path = path;
    file.sample_rate = static_cast<int>(std::lround(description.sample_rate));
    file.seconds = static_cast<double>(patch.length_frames) / description.sample_rate;
    file.channels = patch.output_names;
    if (keep) file.kept.resize(recorded.size());

    const size_t channels = patch.outputs.size();
    WavWriter writer(path, static_cast<int>(channels), description.sample_rate);
    ProgressBar bar("rendering " + path);
    std::vector<const float*> outputs(channels);
    Render(
        *patch.engine, recorded, patch.length_frames,
        [&](const std::vector<const float*>& blocks, int32_t frames) {
            for (size_t c = 0; c < channels; ++c) {
                outputs[c] = blocks[c];
                for (int32_t j = 0; j < frames; ++j) file.peak = std::max(file.peak, std::fabs(blocks[c][j]));
            }
            writer.Write(outputs, frames);
            if (keep)
                for (size_t c = 0; c < blocks.size(); ++c)
                    file.kept[c].insert(file.kept[c].end(), blocks[c], blocks[c] + frames);
        },
        [&](uint64_t done, uint64_t total) { return bar.Update(done, total); });
    writer.Commit();
    return file;
}

std::string Summary(const RenderedFile& file) {
    std::string names;
    for (const std::string& name : file.channels) names += (names.empty() ? "" : ", ") + name;
    char text[128];
    std::snprintf(text, sizeof text, ": %.2f s at %d Hz, %zu channel%s (", file.seconds, file.sample_rate,
                  file.channels.size(), file.channels.size() == 1 ? "" : "s");
    char peak[32];
    std::snprintf(peak, sizeof peak, "), peak %.3f", static_cast<double>(file.peak));
    return "wrote " + file.path + text + names + peak;
}

}  // namespace vxhost
