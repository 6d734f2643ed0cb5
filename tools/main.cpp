// vxhost: the project's reference host on the command line.
#include <CLI/CLI.hpp>
#include <iostream>

#include "Commands.h"
#include "HostError.h"
#include "Progress.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;
constexpr int kInterrupted = 130;

}  // namespace

int main(int argc, char** argv) {
    using namespace vxhost;
    CLI::App app{"vxhost: loads vx plug-ins, wires them into patches and renders them offline"};
    app.require_subcommand(1);

    InfoOptions info;
    CLI::App* info_command = app.add_subcommand("info", "Show a plug-in's module properties and pin table");
    info_command->add_option("plugin", info.plugin, "Plug-in name (searched) or path")->required();
    info_command->add_flag("--json", info.json, "Print JSON instead of a table");

    RenderOptions render;
    CLI::App* render_command = app.add_subcommand("render", "Render one plug-in instance to a WAV file");
    render_command->add_option("plugin", render.plugin, "Plug-in name (searched) or path")->required();
    render_command
        ->add_option("--pin,-p", render.pins,
                     "NAME=SOURCE: a value (0.5, 5V, 2-Sided, true), steps (0:1,0.5:0) or an audio file")
        ->allow_extra_args(false);
    render_command->add_option("-o,--output", render.output, "WAV file to write")->required();
    render_command->add_option("--rate,-r", render.sample_rate, "Sample rate in Hz")
        ->capture_default_str()
        ->check(CLI::Range(1, 10000000));
    render_command->add_option("--block,-b", render.block_size, "Block size in samples")
        ->capture_default_str()
        ->check(CLI::Range(1, 1 << 20));
    render_command
        ->add_option("--length,-l", render.length, "Length in seconds (default: sources plus 1 s, at least 1 s)")
        ->check(CLI::Range(0.0, 1.0e7));
    render_command
        ->add_option("--out-pin", render.output_pins, "Output pin to record (repeat for more channels; default: all)")
        ->allow_extra_args(false);

    PatchOptions patch;
    CLI::App* patch_command = app.add_subcommand("patch", "Render a patch file (JSON) to a WAV file");
    patch_command->add_option("patch", patch.patch, "Patch file")->required();
    patch_command->add_option("-o,--output", patch.output, "WAV file to write")->required();
    patch_command->add_option("--length,-l", patch.length, "Length in seconds, overriding the patch's")
        ->check(CLI::Range(0.0, 1.0e7));

    DemoOptions demo;
    CLI::App* demo_command = app.add_subcommand("demo", "Render the built-in demo patch to a WAV file and a picture");
    demo_command->add_option("-o,--output", demo.folder, "Folder for the files")->capture_default_str();

    ValidateOptions validate;
    CLI::App* validate_command = app.add_subcommand("validate", "Run the validator's checks on a plug-in");
    validate_command->add_option("plugin", validate.plugin, "Plug-in name (searched) or path")->required();
    validate_command->add_option("--level,-l", validate.level, "1 (quick) to 10 (thorough)")
        ->capture_default_str()
        ->check(CLI::Range(1, 10));
    validate_command->add_option("--seed,-s", validate.seed, "Seed of the random inputs (default: a new one, printed)")
        ->each([&validate](const std::string&) { validate.seed_given = true; });
    validate_command->add_option("--check,-c", validate.checks, "Run only this check (repeat for more)")
        ->allow_extra_args(false);
    validate_command->add_option("--timeout", validate.time_limit, "Seconds a check may take before it counts as hung")
        ->capture_default_str()
        ->check(CLI::Range(0.1, 86400.0));
    validate_command->add_flag("--json", validate.json, "Print JSON instead of lines");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "vxhost: " << e.what() << " (see vxhost --help)\n";
        return kUsage;
    }

    CatchInterrupts();
    try {
        if (*info_command) return RunInfo(info);
        if (*render_command) return RunRender(render);
        if (*patch_command) return RunPatch(patch);
        if (*demo_command) return RunDemo(demo);
        if (*validate_command) return RunValidate(validate);
    } catch (const HostError& e) {
        std::cerr << "vxhost: " << e.what() << '\n';
        return Interrupted() ? kInterrupted : kFailure;
    } catch (const std::exception& e) {
        std::cerr << "vxhost: " << e.what() << '\n';
        return kFailure;
    }
    return kUsage;
}
