// The tool's commands. Each returns the process's exit status and reports
// failures by throwing HostError (PatchError with a place where known).
#ifndef VXHOST_TOOL_COMMANDS_H
#define VXHOST_TOOL_COMMANDS_H

#include <string>
#include <vector>

namespace vxhost {

struct InfoOptions {
    std::string plugin;
    bool json = false;
};

struct RenderOptions {
    std::string plugin;
    std::vector<std::string> pins;  // NAME=SOURCE
    std::vector<std::string> output_pins;
    std::string output;
    int sample_rate = 44100;
    int block_size = 1024;
    double length = 0.0;  // seconds; 0: long enough for the sources
};

struct PatchOptions {
    std::string patch;
    std::string output;
    double length = 0.0;  // overrides the patch's length when set
};

struct DemoOptions {
    std::string folder = "demo-out";
};

int RunInfo(const InfoOptions& options);
int RunRender(const RenderOptions& options);
int RunPatch(const PatchOptions& options);
int RunDemo(const DemoOptions& options);

}  // namespace vxhost

#endif  // VXHOST_TOOL_COMMANDS_H
