// vxhost patch PATCH.json -o OUT.wav: a patch file rendered to an audio file.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Commands.h"
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

}  // namespace

int RunPatch(const PatchOptions& options) {
    const std::string text = ReadPatchText(options.patch);
    try {
        PatchDescription description = ParsePatchJson(text);
        if (options.length > 0.0) description.length_seconds = options.length;
        PrintReport(RenderToFile(description, options.output));
    } catch (const PatchError& e) {
        const Location where = e.Where();
        if (where.line == 0) throw HostError(options.patch + ": " + e.what());
        throw HostError(options.patch + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": " +
                        e.what());
    }
    return 0;
}

}  // namespace vxhost
