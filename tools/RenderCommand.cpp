// vxhost render PLUGIN --pin NAME=SOURCE ... -o OUT.wav: one instance, its
// inputs fed from values, step lists or audio files.
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <iostream>

#include "Commands.h"
#include "PluginLibrary.h"
#include "PluginNode.h"
#include "PluginSearch.h"
#include "AudioFile.h"
#include "RenderJob.h"
#include "UsageError.h"

namespace vxhost {

namespace {

// The module's name in messages and channel names: the library's file name.
std::string ModuleName(const std::string& path) {
    std::string name = PluginStem(path);
    for (char& c : name)
        if (c == '.') c = '_';
    return name.empty() ? "plugin" : name;
}

PatchDescription DescriptionFor(const RenderOptions& options, const std::string& path, const std::string& module) {
    PatchDescription description;
    description.sample_rate = options.sample_rate;
    description.block_size = options.block_size;
    description.length_seconds = options.length;
    ModuleEntry plugin;
    plugin.name = module;
    plugin.plugin = path;
    description.modules.push_back(plugin);
    for (size_t i = 0; i < options.pins.size(); ++i) {
        const std::string& arg = options.pins[i];
        const size_t equals = arg.find('=');
        // The line of a place in a --pin argument is that argument's number.
        const size_t line = i + 1;
        if (equals == std::string::npos || equals == 0) throw PatchError("expected NAME=SOURCE", {line, 1});
        PinSetting setting;
        setting.module = module;
        setting.pin = arg.substr(0, equals);
        setting.source = arg.substr(equals + 1);
        setting.where = {line, 1};
        setting.source_where = {line, equals + 2};
        description.settings.push_back(setting);
    }
    for (const std::string& pin : options.output_pins) description.outputs.push_back({module + "." + pin, {}});
    return description;
}

}  // namespace

bool IsPatchFile(const std::string& name) {
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) return true;
    struct stat info {};
    if (stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::ifstream in(name, std::ios::binary);
    char c = 0;
    while (in.get(c))
        if (!std::isspace(static_cast<unsigned char>(c))) return c == '{';
    return false;
}

int RunRender(const RenderOptions& options) {
    if (IsPatchFile(options.plugin)) {
        // A patch names its own sources, outputs, rate and block size.
        if (!options.pins.empty() || !options.output_pins.empty())
            throw UsageError("--pin and --out-pin name pins of a plug-in; " + options.plugin +
                             " is a patch, which gives its pins their sources itself");
        PatchOptions patch;
        patch.patch = options.plugin;
        patch.output = options.output;
        patch.length = options.length;
        patch.midi = options.midi;
        return RunPatch(patch);
    }
    if (!options.midi.empty())
        throw UsageError("--midi plays notes on a patch file; a plug-in alone has no note mapping");
    const std::string path = LocatePlugin(options.plugin);
    const std::string module = ModuleName(path);
    // A --pin that names a recording which cannot be read is a failure to
    // read input; any other fault in a --pin is a mistake in the command line.
    bool input_failed = false;
    const AudioLoader load = [&input_failed](const std::string& file, double sample_rate) {
        try {
            return ReadAudioMono(file, sample_rate);
        } catch (const HostError&) {
            input_failed = true;
            throw;
        }
    };
    try {
        PrintReport(RenderToFile(DescriptionFor(options, path, module), options.output, {}, false, load));
    } catch (const PatchError& e) {
        const Location where = e.Where();
        if (where.line == 0 || where.line > options.pins.size()) throw HostError(e.what());
        const std::string message =
            "--pin \"" + options.pins[where.line - 1] + "\": column " + std::to_string(where.column) + ": " + e.what();
        if (input_failed) throw HostError(message);
        throw UsageError(message);
    }
    return 0;
}

}  // namespace vxhost
