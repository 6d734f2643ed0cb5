// vxhost play PATCH.json: a patch played in real time through a JACK server,
// with the server's sample rate and one engine block per period.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <thread>

#include "Commands.h"
#include "HostError.h"

#if VXHOST_HAVE_JACK
#include "AudioFile.h"
#include "EngineBlockSource.h"
#include "Interrupts.h"
#include "JackPlayer.h"
#include "LibraryProbe.h"
#include "PatchFile.h"
#include "PatchJson.h"
#if VXHOST_HAVE_INSTRUMENT
#include "Instrument.h"
#endif
#endif

namespace vxhost {

#if VXHOST_HAVE_JACK

namespace {

constexpr auto kPollTime = std::chrono::milliseconds(20);
constexpr auto kProgressTime = std::chrono::milliseconds(250);

std::string Format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string Percent(double share) { return Format("%.1f %%", share * 100.0); }

std::string Count(uint64_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

std::string Xruns(uint64_t count) { return Count(count, "xrun"); }

// The library probe forks a child, which is not safe once the JACK client's
// threads run; so every plug-in is probed before the client opens, and the
// patch is built from what the probes found. A failure is kept and given back
// when the patch asks for the plug-in, so that its message names the place.
PluginResolver ProbePlugins(const PatchDescription& description) {
    auto loaded = std::make_shared<std::map<std::string, std::shared_ptr<const PluginLibrary>>>();
    auto failed = std::make_shared<std::map<std::string, std::string>>();
    for (const ModuleEntry& module : description.modules) {
        if (module.plugin.empty() || loaded->count(module.plugin) > 0 || failed->count(module.plugin) > 0) continue;
        try {
            (*loaded)[module.plugin] = LoadPluginSafely(module.plugin);
        } catch (const HostError& e) {
            (*failed)[module.plugin] = e.what();
        }
    }
    return [loaded, failed](const std::string& name) -> std::shared_ptr<const PluginLibrary> {
        const auto found = loaded->find(name);
        if (found != loaded->end()) return found->second;
        const auto failure = failed->find(name);
        throw HostError(failure != failed->end() ? failure->second : "the plug-in " + name + " was not probed");
    };
}

// "1.25 s, DSP 3.1 % (peak 7.9 %), 0 xruns"
std::string ProgressLine(const PlayStatus& status, double rate) {
    return Format("%.2f s", static_cast<double>(status.frames) / rate) + ", DSP " + Percent(status.mean_load) +
           " (peak " + Percent(status.recent_peak_load) + "), " + Xruns(status.xruns);
}

// A song or a keyboard plays a patch that maps notes, and such a patch needs
// one of them; told before any server is asked.
void CheckNotes(const PlayOptions& options, const PatchDescription& description) {
    const bool by_midi = !options.midi_file.empty() || options.midi_in;
#if VXHOST_HAVE_INSTRUMENT
    if (description.has_notes && !by_midi)
        throw HostError(options.patch + " is played by notes: give it a song (--midi FILE) or a keyboard (--midi-in)");
    const char* const missing = ": give it \"notes\" (and \"voices\")";
    const bool has_notes = description.has_notes;
#else
    const char* const missing = "; this vxhost has no instrument yet";
    const bool has_notes = false;
    (void)description;
#endif
    if (by_midi && !has_notes)
        throw HostError(options.patch + ": " + (options.midi_in ? "--midi-in" : "--midi") +
                        " plays notes on a patch that maps them" + missing);
}

// What plays: a plain patch, or a patch played by notes (an instrument) with
// the song scheduled on it.
struct Playable {
    std::unique_ptr<BlockSource> source;
    uint64_t length_frames = 0;  // 0: until Ctrl-C
    std::vector<ScheduledMidi> schedule;
#if VXHOST_HAVE_INSTRUMENT
    const Instrument* instrument = nullptr;
#endif
};

Playable MakePlayable(const PlayOptions& options, PatchDescription& description, const PluginResolver& resolve) {
    Playable playable;
    const double rate = description.sample_rate;
#if VXHOST_HAVE_INSTRUMENT
    if (description.has_notes) {
        std::unique_ptr<Instrument> instrument;
        WithPatchPlace(options.patch,
                       [&] { instrument = std::make_unique<Instrument>(description, resolve, &ReadAudioMono); });
        if (!options.midi_file.empty()) {
            for (const TimedMidiMessage& m : ReadSong(options.midi_file, rate))
                playable.schedule.push_back({m.sample, m.message});
        }
        if (options.seconds > 0.0)
            playable.length_frames = SecondsToFrames(options.seconds, rate, {});
        else if (instrument->LengthFrames() > 0)
            playable.length_frames = instrument->LengthFrames();
        else if (!options.midi_in)  // the song's last message and a second for the releases
            playable.length_frames =
                (playable.schedule.empty() ? 0 : playable.schedule.back().frame) + static_cast<uint64_t>(rate);
        playable.instrument = instrument.get();
        playable.source = std::move(instrument);
        return playable;
    }
#endif
    if (options.seconds > 0.0) description.length_seconds = options.seconds;
    BuiltPatch patch;
    WithPatchPlace(options.patch, [&] { patch = BuildPatch(description, resolve, &ReadAudioMono); });
    playable.length_frames = patch.length_frames;
    playable.source = std::make_unique<EngineBlockSource>(std::move(patch.engine), patch.outputs);
    return playable;
}

}  // namespace

int RunPlay(const PlayOptions& options) {
    const std::string text = ReadPatchText(options.patch);
    PatchDescription description;
    WithPatchPlace(options.patch, [&] { description = ParsePatchJson(text); });
    CheckNotes(options, description);
    const PluginResolver resolve = ProbePlugins(description);

    JackPlayer player(options.client_name);
    const double rate = player.SampleRate();
    const int32_t period = player.PeriodFrames();
    if (description.sample_rate != rate)
        std::cerr << "vxhost: note: " << options.patch << " is written for " << Format("%.0f", description.sample_rate)
                  << " Hz; playing at the server's " << Format("%.0f", rate) << " Hz\n";
    description.sample_rate = rate;
    description.block_size = period;
    Playable playable = MakePlayable(options, description, resolve);

    PlayerOptions play;
    play.length_frames = playable.length_frames;
    play.midi_input = options.midi_in;
    play.schedule = std::move(playable.schedule);
    player.Activate(*playable.source, std::move(play));
    const std::vector<std::string> connections = player.Connect(options.connect, !options.no_connect);

    std::cout << "playing " << options.patch << " as JACK client " << player.ClientName() << ": "
              << Format("%.0f Hz, ", rate) << period << "-frame periods (" << Format("%.2f ms", 1000.0 * period / rate)
              << "), "
              << (playable.length_frames > 0 ? Format("%.2f s", static_cast<double>(playable.length_frames) / rate)
                                             : std::string("until Ctrl-C"))
              << '\n';
    for (const std::string& line : connections) std::cout << "  " << line << '\n';
    std::cout.flush();

    const bool terminal = isatty(STDERR_FILENO) != 0;
    bool progress_shown = false;
    auto last_progress = std::chrono::steady_clock::now();
    player.Start();
    PlayStatus status;
    for (;;) {
        std::this_thread::sleep_for(kPollTime);
        const auto now = std::chrono::steady_clock::now();
        const bool progress_due = terminal && now - last_progress >= kProgressTime;
        status = player.Poll();
        if (!status.failure.empty() || status.finished || Interrupted()) break;
        if (progress_due) {
            last_progress = now;
            progress_shown = true;
            std::fprintf(stderr, "\rplaying %s   ", ProgressLine(status, rate).c_str());
            std::fflush(stderr);
        }
    }
    // The last period is in the port buffers; let the server carry it on
    // before the ports go away.
    if (status.finished)
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(3.0e6 * period / rate)));
    player.Stop();
    if (progress_shown) std::fprintf(stderr, "\r%60s\r", "");

    std::cout << "played " << Format("%.2f s", static_cast<double>(status.frames) / rate) << ": " << Xruns(status.xruns)
              << ", DSP load " << Percent(status.mean_load) << " mean, " << Percent(status.peak_load) << " peak of the "
              << Format("%.2f ms", 1000.0 * period / rate) << " period (server: " << Percent(status.server_load) << ")";
    if (status.midi_dropped > 0) std::cout << ", " << status.midi_dropped << " MIDI messages dropped";
#if VXHOST_HAVE_INSTRUMENT
    if (const Instrument* instrument = playable.instrument)
        std::cout << "; " << Count(instrument->NotesPlayed(), "note") << " on "
                  << Count(static_cast<uint64_t>(instrument->Voices()), "voice") << ", " << instrument->VoicesStolen()
                  << " stolen";
#endif
    std::cout << '\n';
    if (!status.failure.empty()) throw HostError(status.failure);
    return 0;
}

#else

int RunPlay(const PlayOptions&) {
    throw HostError(
        "this vxhost was built without JACK; install its development files (libjack-jackd2-dev) and "
        "build again");
}

#endif

}  // namespace vxhost
