// The sleep protocol. Between one input notification and the next, an
// output announced as settled must hold its value from the stamp on, a
// module must not ask to sleep while its output still moves, one that
// announces a settled output should ask to sleep soon after, and a module
// put to sleep and woken must go on exactly as one that was never put to
// sleep. All of this holds while inputs stream too: a stream's samples change
// with no notification, so a module that settles and sleeps while an input
// it listens to streams misses what the stream does next (a gate that closes
// by streaming alone, and the note never ends). One whose output does not
// depend on the stream meanwhile may settle, and is judged by what it writes.
#include <algorithm>

#include "ValidatorChecks.h"

namespace vxhost {

namespace {

// A settled module asks to sleep within this many blocks of its announcement.
constexpr int kBlocksToFallAsleep = 4;
// From this level on, a settled module that never asks to sleep fails.
constexpr int kSleeplessFailsFromLevel = 5;

struct SleepRun {
    HostOptions options;
    Scenario scenario;
    CutPolicy cuts;
};

// How many trials also play a streaming run beside the stepped one: all
// four at level 1, the first hundred of 400 at level 10.
constexpr int kStreamingRunsAtLowest = 4;
constexpr int kStreamingRunsAtHighest = 100;
constexpr uint64_t kStreamingSeed = 0x5354524541ull;

enum class Inputs { Stepped, Streaming };

// Values changing now and then with quiet stretches in between, at rates low
// enough for slow modules to settle within the run. Stepped: held values
// only. Streaming: streams too, long enough for a module that settles while
// one streams to fall asleep before the stream's gate closes.
SleepRun MakeSleepRun(const std::vector<PinDescription>& pins, int level, Inputs inputs, ValidatorRandom& random) {
    SleepRun run;
    const double rates[] = {1000.0, 8000.0, 44100.0};
    const int32_t blocks[] = {32, 64, 128, 256, 1024};
    run.options.sample_rate = rates[random.Between(0, 2)];
    run.options.block_size = blocks[random.Between(0, 4)];
    ScenarioShape shape;
    shape.length = static_cast<uint64_t>(run.options.block_size) * static_cast<uint64_t>(Scaled(level, 40, 120));
    shape.max_changes_per_pin = 4;
    shape.min_gap = static_cast<uint64_t>(run.options.block_size) * (inputs == Inputs::Streaming ? 8 : 6);
    shape.stream_chance = 0.0;
    run.scenario =
        inputs == Inputs::Streaming ? MakeStreamingScenario(pins, shape, random) : MakeScenario(pins, shape, random);
    run.cuts.mode = CutMode::Random;
    run.cuts.seed = random.Next();
    run.cuts.longest_call = run.options.block_size;
    return run;
}

// The first sample at or after `from` that the host may legitimately see
// change after the happening numbered `sequence`: the next notification, or
// (for an output) its next announcement.
int64_t NextDisturbance(const ValidatorHost& host, uint64_t sequence, int32_t output_pin, int64_t length) {
    int64_t until = length;
    for (const NotificationRecord& n : host.Notifications())
        if (n.sequence > sequence) until = std::min(until, n.at);
    for (const Announcement& a : host.Announcements())
        if (output_pin >= 0 && a.pin == output_pin && a.sequence > sequence) until = std::min(until, a.at);
    return until;
}

// The first sample in [from, until) that differs from out[from], or -1.
int64_t FirstChange(const std::vector<float>& out, int64_t from, int64_t until) {
    for (int64_t k = from + 1; k < until && k < static_cast<int64_t>(out.size()); ++k)
        if (!SameSample(out[static_cast<size_t>(k)], out[static_cast<size_t>(from)])) return k;
    return -1;
}

void JudgeSettledAnnouncements(const ValidatorHost& host, const SleepRun& run, int level, CheckLog& log) {
    const auto length = static_cast<int64_t>(run.scenario.length);
    const int64_t patience = static_cast<int64_t>(kBlocksToFallAsleep) * run.options.block_size;
    for (const Announcement& a : host.Announcements()) {
        if (a.state != ST_ONE_OFF || a.at < 0 || a.at >= length) continue;
        const std::vector<float>& out = host.Output(a.pin);
        const int64_t until = NextDisturbance(host, a.sequence, a.pin, length);
        const int64_t moved = FirstChange(out, a.at, until);
        if (moved >= 0) {
            log.Fail("settled but moving", "announced " + PinLabel(host.Pins(), a.pin) + " as settled at sample " +
                                               std::to_string(a.at) + " (value " +
                                               Describe(out[static_cast<size_t>(a.at)]) + ") but it is " +
                                               Describe(out[static_cast<size_t>(moved)]) + " at sample " +
                                               std::to_string(moved) + ", with no input change in between");
            continue;
        }
        // Quiet long enough that it should have asked to sleep.
        if (until - a.at < patience + run.options.block_size) continue;
        bool asked = false;
        for (const SleepRequest& s : host.SleepRequests())
            asked = asked || (s.sequence > a.sequence && s.call_end <= a.at + patience + run.options.block_size);
        if (asked) continue;
        const std::string reason = "announced " + PinLabel(host.Pins(), a.pin) + " as settled at sample " +
                                   std::to_string(a.at) + " but did not ask to sleep (HC_SLEEP) within " +
                                   std::to_string(kBlocksToFallAsleep) + " blocks, though no input changed";
        if (level >= kSleeplessFailsFromLevel)
            log.Fail("never sleeps", reason);
        else
            log.Warn(reason);
    }
}

void JudgeSleepRequests(const ValidatorHost& host, const SleepRun& run, CheckLog& log) {
    const auto length = static_cast<int64_t>(run.scenario.length);
    for (const SleepRequest& s : host.SleepRequests()) {
        const int64_t last = s.call_end > s.call_start ? s.call_end - 1 : s.call_start - 1;
        if (last < 0 || last >= length) continue;
        const int64_t until = NextDisturbance(host, s.sequence, -1, length);
        for (int32_t pin : host.OutputPins()) {
            const std::vector<float>& out = host.Output(pin);
            const int64_t moved = FirstChange(out, last, until);
            if (moved < 0) continue;
            log.Fail("sleeps while moving",
                     "asked to sleep in the call ending at sample " + std::to_string(s.call_end) + ", but output " +
                         PinLabel(host.Pins(), pin) + " still moves: " + Describe(out[static_cast<size_t>(last)]) +
                         " at sample " + std::to_string(last) + ", " + Describe(out[static_cast<size_t>(moved)]) +
                         " at sample " + std::to_string(moved) + ", with no input change in between");
            break;
        }
    }
}

std::string RunLabel(const SleepRun& run, Inputs inputs) {
    return std::string(inputs == Inputs::Streaming ? "streaming" : "stepped") + " inputs at " +
           Describe(static_cast<float>(run.options.sample_rate)) + " Hz in blocks of " +
           std::to_string(run.options.block_size);
}

// The runs of one trial: a stepped one, then for the first trials a
// streaming one. The streaming runs draw on their own random numbers, so the
// stepped runs of a seed stay what they were.
std::vector<Inputs> TrialRuns(int trial, int level) {
    if (trial < Scaled(level, kStreamingRunsAtLowest, kStreamingRunsAtHighest))
        return {Inputs::Stepped, Inputs::Streaming};
    return {Inputs::Stepped};
}

// Plays the check's trials, each a stepped run and, in the first trials, a
// streaming one, each from its own random numbers; `judge` plays and judges
// one run and answers false when the check cannot go on.
template <typename Judge>
void ForEachSleepRun(const CheckContext& context, CheckLog& log, Judge judge) {
    ValidatorRandom stepped_random(context.seed);
    ValidatorRandom streaming_random(context.seed ^ kStreamingSeed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 4, 400);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        for (Inputs inputs : TrialRuns(trial, context.level)) {
            if (log.Failed()) break;
            const SleepRun run = MakeSleepRun(pins, context.level, inputs,
                                              inputs == Inputs::Streaming ? streaming_random : stepped_random);
            const std::string label = RunLabel(run, inputs) + ", trial " + std::to_string(trial + 1);
            if (!judge(run, label)) return;
            if (log.Failed()) log.Fail("run", "found with " + label);
        }
    }
}

}  // namespace

void CheckSleepProtocol(const CheckContext& context, CheckLog& log) {
    ForEachSleepRun(context, log, [&](const SleepRun& run, const std::string& label) {
        // The host keeps calling, so what a sleeping module would have
        // produced can be seen and judged.
        HostOptions options = run.options;
        options.honour_sleep = false;
        log.Stage(label);
        ValidatorHost host(*context.library, log, options);
        if (!PlayFresh(host, run.scenario, run.cuts)) return false;
        JudgeSettledAnnouncements(host, run, context.level, log);
        JudgeSleepRequests(host, run, log);
        return true;
    });
}

void CheckWakeContinuation(const CheckContext& context, CheckLog& log) {
    ForEachSleepRun(context, log, [&](const SleepRun& run, const std::string& label) {
        HostOptions keeps_calling = run.options;
        keeps_calling.honour_sleep = false;
        // The sleeping host takes the module at its word even while an
        // input streams: only a notification wakes it.
        HostOptions honours = run.options;
        honours.honour_sleep = true;
        honours.sleep_while_streaming = true;
        log.Stage("sleeping and waking, " + label);
        ValidatorHost awake(*context.library, log, keeps_calling);
        ValidatorHost sleeper(*context.library, log, honours);
        if (!PlayFresh(awake, run.scenario, run.cuts) || !PlayFresh(sleeper, run.scenario, run.cuts)) return false;
        if (sleeper.SleepRequests().empty()) return true;
        RequireSameOutput(awake, sleeper, log,
                          "when the host lets the instance sleep and wakes it with input notifications, "
                          "compared with a host that never stops calling it");
        return true;
    });
}

}  // namespace vxhost
