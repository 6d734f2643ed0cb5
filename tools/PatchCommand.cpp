// vxhost patch PATCH.json -o OUT.wav: a patch file rendered to a WAV file.
#include <fstream>
#include <iostream>
#include <sstream>

#include "Commands.h"
#include "PatchJson.h"
#include "RenderJob.h"

namespace vxhost {

int RunPatch(const PatchOptions& options) {
    std::ifstream in(options.patch, std::ios::binary);
    if (!in) throw HostError("cannot read patch " + options.patch);
    std::stringstream text;
    text << in.rdbuf();
    try {
        PatchDescription description = ParsePatchJson(text.str());
        if (options.length > 0.0) description.length_seconds = options.length;
        const RenderedFile file = RenderToWav(description, options.output);
        std::cout << Summary(file) << '\n';
    } catch (const PatchError& e) {
        const Location where = e.Where();
        if (where.line == 0) throw HostError(options.patch + ": " + e.what());
        throw HostError(options.patch + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": " +
                        e.what());
    }
    return 0;
}

}  // namespace vxhost
