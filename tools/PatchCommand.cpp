// vxhost patch PATCH.json -o OUT.wav: a patch file rendered to an audio file.
#include "Commands.h"
#include "PatchFile.h"
#include "PatchJson.h"
#include "RenderJob.h"

namespace vxhost {

int RunPatch(const PatchOptions& options) {
    const std::string text = ReadPatchText(options.patch);
    WithPatchPlace(options.patch, [&] {
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
    });
    return 0;
}

}  // namespace vxhost
