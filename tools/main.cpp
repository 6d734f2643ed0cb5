// vxhost: the project's reference host on the command line.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "HostError.h"
#include "Interrupts.h"
#include "LibraryProbe.h"
#include "UsageError.h"
#include "ValidatorIsolation.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;

const char* const kCommands[] = {"info", "render", "patch", "demo", "validate", "list", "play"};

// Option values are checked as text, before they are converted, so that the
// message says what is wrong with what was typed.
const CLI::Validator kSeconds(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const double seconds = std::strtod(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(seconds))
            return text + " is not a number of seconds";
        if (!(seconds > 0.0 && seconds <= 1.0e7)) return text + " is not a length from above 0 to 10000000 seconds";
        return "";
    },
    "SECONDS");

const CLI::Validator kHertz(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const long hertz = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || end != text.c_str() + text.size()) return text + " is not a whole number of hertz";
        if (hertz < 1 || hertz > 10000000) return text + " is not a rate from 1 to 10000000 Hz";
        return "";
    },
    "HZ");

const CLI::Validator kNotEmpty(
    [](std::string& text) -> std::string { return text.empty() ? "an empty name is no file" : ""; }, "FILE");

void AddOutputOptions(CLI::App* command, vxhost::OutputOptions& output) {
    command->add_option("-o,--output", output.path, "File to write (.wav, .aiff, .flac, .au; - for standard output)")
        ->required()
        ->check(kNotEmpty);
    command->add_option("--format", output.format, "wav, aiff, flac or au (default: by the file's extension)");
    command->add_option("--depth", output.depth, "16 (dithered), 24 or float (default: float; FLAC 24)");
    command->add_flag("!--no-space-check", output.check_space,
                      "Write even when the file looks larger than the space free");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vxhost;
    // The internal commands by which the tool runs work that may crash in a
    // copy of itself (where there is no fork); not for people, so not in the help.
    if (argc >= 2) {
        const std::string first = argv[1];
        const std::vector<std::string> rest(argv + 2, argv + argc);
        if (first == kCheckChildCommand) return RunCheckChild(rest);
        if (first == kProbeChildCommand) return RunProbeChild(rest);
    }
    CLI::App app{"vxhost: loads vx plug-ins, wires them into patches, renders them offline and plays them"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("vxhost ") + VXHOST_VERSION);

    InfoOptions info;
    CLI::App* info_command = app.add_subcommand("info", "Show a plug-in's module properties and pin table");
    info_command->add_option("plugin", info.plugin, "Plug-in name (searched) or path")->required();
    info_command->add_flag("--json", info.json, "Print JSON instead of a table");

    RenderOptions render;
    CLI::App* render_command =
        app.add_subcommand("render", "Render one plug-in instance, or a patch file, to an audio file");
    render_command->add_option("plugin", render.plugin, "Plug-in name (searched) or path, or a patch file (.json)")
        ->required();
    render_command->add_option("--midi", render.midi, "Standard MIDI file to play on a patch with \"notes\"")
        ->check(kNotEmpty);
    render_command
        ->add_option("--pin,-p", render.pins,
                     "NAME=SOURCE: a value (0.5, 5V, 2-Sided, true), steps (0:1,0.5:0) or an audio file")
        ->allow_extra_args(false);
    AddOutputOptions(render_command, render.output);
    render_command->add_option("--rate,-r", render.sample_rate, "Sample rate in Hz")
        ->capture_default_str()
        ->check(kHertz);
    render_command->add_option("--block,-b", render.block_size, "Block size in samples")
        ->capture_default_str()
        ->check(CLI::Range(1, 1 << 20));
    render_command
        ->add_option("--length,-l", render.length, "Length in seconds (default: sources plus 1 s, at least 1 s)")
        ->check(kSeconds);
    render_command
        ->add_option("--out-pin", render.output_pins, "Output pin to record (repeat for more channels; default: all)")
        ->allow_extra_args(false);

    PatchOptions patch;
    CLI::App* patch_command = app.add_subcommand("patch", "Render a patch file (JSON) to an audio file");
    patch_command->add_option("patch", patch.patch, "Patch file")->required();
    AddOutputOptions(patch_command, patch.output);
    patch_command->add_option("--length,-l", patch.length, "Length in seconds, overriding the patch's")
        ->check(kSeconds);
    patch_command->add_option("--midi", patch.midi, "Standard MIDI file to play on the patch's voices")
        ->check(kNotEmpty);

    DemoOptions demo;
    CLI::App* demo_command = app.add_subcommand("demo", "Render the built-in demo patch to a WAV file and a picture");
    demo_command->add_option("-o,--output", demo.folder, "Folder for the files")
        ->capture_default_str()
        ->check(kNotEmpty);

    ValidateOptions validate;
    CLI::App* validate_command = app.add_subcommand("validate", "Run the validator's checks on a plug-in");
    validate_command->add_option("plugin", validate.plugins, "Plug-in names (searched) or paths, each validated");
    validate_command->add_option("--level,-l", validate.level, "1 (quick) to 10 (thorough)")
        ->capture_default_str()
        ->check(CLI::Range(1, 10));
    validate_command->add_option("--seed,-s", validate.seed, "Seed of the random inputs (default: a new one, printed)")
        ->each([&validate](const std::string&) { validate.seed_given = true; });
    validate_command
        ->add_option("--check,-c", validate.checks,
                     "Run only this check; a pattern such as 'sleep-*' for several (repeat for more)")
        ->allow_extra_args(false);
    validate_command->add_option("--timeout", validate.time_limit, "Seconds a check may take before it counts as hung")
        ->capture_default_str()
        ->check(CLI::Range(0.1, 86400.0));
    validate_command->add_flag("--json", validate.json, "Print JSON instead of lines");
    validate_command->add_option("--junit", validate.junit, "Also write the results as JUnit XML to this file")
        ->check(kNotEmpty);
    validate_command->add_flag("--list-checks", validate.list_checks,
                               "List the checks (name, group, first level, description) and exit");

    ListOptions list;
    CLI::App* list_command = app.add_subcommand("list", "List the plug-ins on the search path");
    list_command->add_flag("--json", list.json, "Print JSON instead of a table");

    PlayOptions play;
    CLI::App* play_command = app.add_subcommand("play", "Play a patch file in real time through a JACK server");
    play_command->add_option("patch", play.patch, "Patch file")->required();
    CLI::Option* midi_file =
        play_command->add_option("--midi", play.midi_file, "MIDI file to play into the patch")->check(kNotEmpty);
    CLI::Option* midi_in = play_command->add_flag("--midi-in", play.midi_in, "Take notes from a JACK MIDI input port");
    midi_file->excludes(midi_in);
    play_command
        ->add_option("--seconds", play.seconds,
                     "Seconds to play (default: the patch's length; with --midi-in until Ctrl-C)")
        ->check(kSeconds);
    play_command->add_option("--client-name", play.client_name, "JACK client name")
        ->capture_default_str()
        ->check([](const std::string& text) { return text.empty() ? "a JACK client needs a name" : ""; });
    CLI::Option* connect = play_command
                               ->add_option("--connect", play.connect,
                                            "JACK port for out_1, then out_2, ... (default: the system's playback)")
                               ->allow_extra_args(false);
    play_command->add_flag("--no-connect", play.no_connect, "Leave the outputs unconnected")->excludes(connect);

    // The first word that is not an option names the command.
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] == '-') continue;
        bool known = false;
        for (const char* command : kCommands) known = known || word == command;
        if (!known) {
            std::cerr << "vxhost: unknown command \"" << word
                      << "\" (info, render, patch, demo, validate, list, play; see vxhost "
                      << "--help)\n";
            return kUsage;
        }
        break;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "vxhost: " << e.what() << " (see vxhost --help)\n";
        return kUsage;
    }

    CatchInterrupts();
    try {
        int status = kUsage;
        if (*info_command) status = RunInfo(info);
        if (*render_command) status = RunRender(render);
        if (*patch_command) status = RunPatch(patch);
        if (*demo_command) status = RunDemo(demo);
        if (*validate_command) status = RunValidate(validate);
        if (*list_command) status = RunList(list);
        if (*play_command) status = RunPlay(play);
        return Interrupted() ? InterruptExitStatus() : status;
    } catch (const UsageError& e) {
        std::cerr << "vxhost: " << e.what() << '\n';
        return kUsage;
    } catch (const HostError& e) {
        std::cerr << "vxhost: " << (Interrupted() ? "interrupted" : e.what()) << '\n';
        return Interrupted() ? InterruptExitStatus() : kFailure;
    } catch (const std::exception& e) {
        std::cerr << "vxhost: " << e.what() << '\n';
        return Interrupted() ? InterruptExitStatus() : kFailure;
    }
}
