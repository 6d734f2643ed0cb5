// The tool's commands. Each returns the process's exit status and reports
// failures by throwing HostError (PatchError with a place where known,
// UsageError for a mistake in the command line).
#ifndef VXHOST_TOOL_COMMANDS_H
#define VXHOST_TOOL_COMMANDS_H

#include <cstdint>
#include <string>
#include <vector>

#include "RenderJob.h"

namespace vxhost {

struct InfoOptions {
    std::string plugin;
    bool json = false;
};

struct RenderOptions {
    std::string plugin;             // or a patch file, rendered as `patch` does
    std::string midi;               // --midi: a song to play on a patch
    std::vector<std::string> pins;  // NAME=SOURCE
    std::vector<std::string> output_pins;
    OutputOptions output;
    int sample_rate = 44100;
    int block_size = 1024;
    double length = 0.0;  // seconds; 0: long enough for the sources
};

struct PatchOptions {
    std::string patch;
    OutputOptions output;
    double length = 0.0;  // overrides the patch's length when set
    std::string midi;     // --midi: play this song on the patch's voices
};

struct DemoOptions {
    std::string folder = "demo-out";
};

struct ValidateOptions {
    std::vector<std::string> plugins;  // each validated in turn
    int level = 5;
    uint64_t seed = 0;
    bool seed_given = false;
    std::vector<std::string> checks;  // names or patterns (sleep-*); empty for all of the level
    double time_limit = 300.0;        // seconds per check
    bool json = false;
    bool list_checks = false;
    std::string junit;  // a JUnit XML file to write as well; empty for none
};

struct ListOptions {
    bool json = false;
};

struct PlayOptions {
    std::string patch;
    std::string midi_file;  // --midi: a file played into the patch
    bool midi_in = false;   // --midi-in: a JACK MIDI input port
    double seconds = 0.0;   // 0: the patch's length (the MIDI file's, plus a release tail)
    std::string client_name = "vxhost";
    std::vector<std::string> connect;  // ports for out_1, out_2, ...
    bool no_connect = false;
};

int RunInfo(const InfoOptions& options);
int RunRender(const RenderOptions& options);
// Whether `render` takes `name` for a patch file: it ends in ".json", or is
// a file whose text begins with '{'.
bool IsPatchFile(const std::string& name);
int RunPatch(const PatchOptions& options);
int RunDemo(const DemoOptions& options);
int RunValidate(const ValidateOptions& options);
int RunList(const ListOptions& options);
int RunPlay(const PlayOptions& options);

}  // namespace vxhost

#endif  // VXHOST_TOOL_COMMANDS_H
