#include "RenderJob.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>

#include "AudioFile.h"
#include "Instrument.h"
#include "LibraryProbe.h"
#include "OutputTarget.h"
#include "Progress.h"
#include "Renderer.h"

namespace vxhost {

namespace {

std::string Bytes(double bytes) {
    const char* const units[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 5) {
        bytes /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string Decibels(float peak) {
    if (peak <= 0.0f) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(static_cast<double>(peak)));
    return text;
}

// A generous bound for the header and any trailer a format adds.
constexpr uint64_t kHeaderAllowance = 64 * 1024;

}  // namespace

namespace {

// Runs the render, handing each block of outputs (then taps) to the sink.
using Producer = std::function<void(const BlockSink& sink, const ProgressReport& progress)>;

// Writes what `produce` renders into `output`, measuring each channel on the way.
RenderedFile WriteRender(const OutputOptions& output, const AudioFormat& format, OutputTarget& target,
                         double sample_rate, uint64_t length_frames, const std::vector<std::string>& names,
                         size_t recorded, bool keep, const Producer& produce) {
    RenderedFile file;
    file.path = output.path;
    file.format = DescribeFormat(format);
    file.sample_rate = static_cast<int>(std::lround(sample_rate));
    file.seconds = static_cast<double>(length_frames) / sample_rate;
    for (const std::string& name : names) file.channels.push_back({name});
    if (keep) file.kept.resize(recorded);

    const size_t channels = names.size();
    const uint64_t needed = AudioWriter::DataBytes(format, static_cast<int>(channels), length_frames);
    const int64_t free_bytes = target.FreeBytes();
    if (output.check_space && free_bytes >= 0 && needed + kHeaderAllowance > static_cast<uint64_t>(free_bytes))
        throw HostError(output.path + " would take " + Bytes(static_cast<double>(needed)) + " but only " +
                        Bytes(static_cast<double>(free_bytes)) + " are free there (--no-space-check writes it anyway)");

    AudioWriter writer(target, format, static_cast<int>(channels), sample_rate, length_frames);
    ProgressBar bar("rendering " + output.path);
    std::vector<const float*> outputs(channels);
    produce(
        [&](const std::vector<const float*>& blocks, int32_t frames) {
            for (size_t c = 0; c < channels; ++c) {
                outputs[c] = blocks[c];
                RenderedChannel& channel = file.channels[c];
                for (int32_t j = 0; j < frames; ++j) {
                    const float level = std::fabs(blocks[c][j]);
                    channel.peak = std::max(channel.peak, level);
                    if (level >= 1.0f) ++channel.clipped;
                }
                file.peak = std::max(file.peak, channel.peak);
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

}  // namespace

RenderedFile RenderToFile(const PatchDescription& description, const OutputOptions& output,
                          const std::vector<std::string>& taps, bool keep, const AudioLoader& load) {
    const AudioFormat format = ChooseAudioFormat(output.path, output.format, output.depth);
    // The output's place is checked before any work, so a typo costs nothing.
    OutputTarget target(output.path);
    BuiltPatch patch = BuildPatch(description, &LoadPluginSafely, load ? load : AudioLoader(&ReadAudioMono));
    std::vector<PinRef> recorded = patch.outputs;
    for (const std::string& tap : taps) recorded.push_back(ResolvePinRef(*patch.engine, tap, {}));
    return WriteRender(output, format, target, description.sample_rate, patch.length_frames, patch.output_names,
                       recorded.size(), keep, [&](const BlockSink& sink, const ProgressReport& progress) {
                           Render(*patch.engine, recorded, patch.length_frames, sink, progress);
                       });
}

RenderedFile RenderNotesToFile(const PatchDescription& description, const std::vector<TimedMidiMessage>& timeline,
                               const OutputOptions& output, const std::vector<std::string>& taps, bool keep) {
    const AudioFormat format = ChooseAudioFormat(output.path, output.format, output.depth);
    OutputTarget target(output.path);
    Instrument instrument(description, &LoadPluginSafely, &ReadAudioMono);
    std::vector<PinRef> tapped;
    for (const std::string& tap : taps) tapped.push_back(ResolvePinRef(instrument.GetEngine(), tap, {}));
    uint64_t length = instrument.LengthFrames();
    if (length == 0) {
        // The last message and a second for the releases, at least a second.
        const uint64_t second = SecondsToFrames(1.0, description.sample_rate, {});
        length = std::max(second, (timeline.empty() ? 0 : timeline.back().sample) + second);
    }
    const size_t channels = static_cast<size_t>(instrument.Channels());
    RenderedFile file =
        WriteRender(output, format, target, description.sample_rate, length, instrument.OutputNames(),
                    channels + taps.size(), keep, [&](const BlockSink& sink, const ProgressReport& progress) {
                        std::vector<const float*> blocks(channels + tapped.size());
                        uint64_t done = 0;
                        RenderTimeline(instrument, timeline, length, instrument.MaxFrames(),
                                       [&](const float* const* out, int32_t frames) {
                                           for (size_t c = 0; c < channels; ++c) blocks[c] = out[c];
                                           // One period is one block of the engine, so its outputs are this period's.
                                           for (size_t t = 0; t < tapped.size(); ++t)
                                               blocks[channels + t] = instrument.GetEngine().Output(tapped[t]);
                                           sink(blocks, frames);
                                           done += static_cast<uint64_t>(frames);
                                           if (!progress(done, length)) throw HostError("interrupted");
                                       });
                    });
    file.played = true;
    file.voices = instrument.Voices();
    file.notes = instrument.NotesPlayed();
    file.stolen = instrument.VoicesStolen();
    return file;
}

std::string Summary(const RenderedFile& file) {
    std::string names;
    for (const RenderedChannel& channel : file.channels) names += (names.empty() ? "" : ", ") + channel.name;
    char text[128];
    std::snprintf(text, sizeof text, ": %.2f s at %d Hz, %zu channel%s (", file.seconds, file.sample_rate,
                  file.channels.size(), file.channels.size() == 1 ? "" : "s");
    char peak[32];
    std::snprintf(peak, sizeof peak, "), peak %.3f (", static_cast<double>(file.peak));
    const std::string where = file.path == "-" ? "standard output" : file.path;
    return "wrote " + where + text + names + peak + Decibels(file.peak) + "), " + file.format;
}

std::vector<std::string> Warnings(const RenderedFile& file) {
    std::vector<std::string> lines;
    for (const RenderedChannel& channel : file.channels) {
        if (channel.clipped > 0)
            lines.push_back("warning: " + channel.name + " clips: " + std::to_string(channel.clipped) +
                            (channel.clipped == 1 ? " sample" : " samples") + " at or above full scale (peak " +
                            Decibels(channel.peak) + ")");
        else if (channel.peak == 0.0f)
            lines.push_back("warning: " + channel.name + " is silent: every sample is 0");
    }
    return lines;
}

std::string NotesSummary(const RenderedFile& file) {
    return "played " + std::to_string(file.notes) + (file.notes == 1 ? " note" : " notes") + " on " +
           std::to_string(file.voices) + (file.voices == 1 ? " voice" : " voices") + ", " +
           std::to_string(file.stolen) + " stolen";
}

void PrintReport(const RenderedFile& file) {
    (file.path == "-" ? std::cerr : std::cout) << Summary(file) << '\n';
    if (file.played) (file.path == "-" ? std::cerr : std::cout) << NotesSummary(file) << '\n';
    for (const std::string& line : Warnings(file)) std::cerr << "vxhost: " << line << '\n';
}

}  // namespace vxhost
