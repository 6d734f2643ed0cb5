// Inputs no patch should send, and what must hold all the same: no crash,
// hang or assertion, and sound in range again within one block once the
// inputs are back in range. And real-time safety: no allocation or release
// of memory while processing or taking events.
#include <algorithm>

#include "ValidatorAllocations.h"
#include "ValidatorChecks.h"

namespace vxhost {

namespace {

// Blocks of the abused input, then the block the module may take to recover,
// then the blocks that must be clean.
constexpr int kAbuseBlocks = 3;
constexpr int kRecoveryBlocks = 1;
constexpr int kCleanBlocks = 2;

InputSegment Held(uint64_t start, float value, bool notify) {
    InputSegment s;
    s.start = start;
    s.value = value;
    s.notify = notify;
    return s;
}

// In range at first, then `abused` driven with `value` (or a stream of
// extremes), then every input back in range, each change announced.
Scenario AbuseScenario(const std::vector<PinDescription>& pins, int32_t block, const std::vector<int32_t>& abused,
                       bool stream, float value, ValidatorRandom& random) {
    Scenario scenario;
    scenario.noise_seed = random.Next();
    const auto b = static_cast<uint64_t>(block);
    const uint64_t abuse_start = b + static_cast<uint64_t>(random.Between(0, block - 1));
    const uint64_t recovery = (1 + kAbuseBlocks) * b;
    scenario.length = recovery + (kRecoveryBlocks + kCleanBlocks) * b;
    for (const PinDescription& pin : pins) {
        if (!IsDrivenInput(pin)) continue;
        const bool audio = pin.pin.kind == PinKind::Audio;
        const auto in_range = [&]() {
            return audio ? InRangeValue(random) : static_cast<float>(InRangeSetting(pin.pin, random));
        };
        InputTrack track;
        track.pin = pin.number;
        track.segments.push_back(Held(0, in_range(), false));
        if (std::find(abused.begin(), abused.end(), pin.number) != abused.end()) {
            InputSegment s = Held(abuse_start, value, true);
            if (stream) s.kind = SegmentKind::AbuseStream;
            track.segments.push_back(s);
        }
        track.segments.push_back(Held(recovery, in_range(), true));
        scenario.tracks.push_back(track);
    }
    return scenario;
}

}  // namespace

void CheckInputAbuse(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    std::vector<int32_t> audio_inputs;
    std::vector<int32_t> number_inputs;  // choices and numbers, which a host writes as they come
    for (const PinDescription& p : pins) {
        if (!IsDrivenInput(p)) continue;
        if (p.pin.kind == PinKind::Audio)
            audio_inputs.push_back(p.number);
        else if (p.pin.datatype != DT_BOOL)
            number_inputs.push_back(p.number);
    }
    const std::vector<float>& values = AbuseValues();
    const int32_t block = 256;
    const int rounds = Scaled(context.level, 1, 10);
    const auto play = [&](const std::vector<int32_t>& abused, bool stream, float value, const std::string& what) {
        log.Stage(what);
        HostOptions options;
        options.block_size = block;
        options.sample_rate = random.Chance(0.5) ? 44100.0 : 8000.0;
        const Scenario scenario = AbuseScenario(pins, block, abused, stream, value, random);
        ValidatorHost host(*context.library, log, options);
        CutPolicy cuts;
        cuts.mode = random.Chance(0.5) ? CutMode::PerBlock : CutMode::Random;
        cuts.seed = random.Next();
        if (!PlayFresh(host, scenario, cuts)) return;
        const int64_t clean_from = static_cast<int64_t>(scenario.length) - kCleanBlocks * block;
        RequireCleanOutput(host, log, "once the inputs are back in range, one block after " + what, true, clean_from);
    };
    for (int round = 0; round < rounds && !log.Failed(); ++round) {
        for (int32_t pin : audio_inputs) {
            for (float value : values) {
                if (log.Failed()) return;
                play({pin}, false, value, "input " + PinLabel(pins, pin) + " driven with " + Describe(value));
            }
            play({pin}, true, 0.0f, "input " + PinLabel(pins, pin) + " driven with a stream of extremes");
        }
        for (int32_t pin : number_inputs) {
            const bool whole = pins[static_cast<size_t>(pin)].pin.datatype != DT_FLOAT;
            const std::vector<float> extremes = whole ? std::vector<float>{-32768.0f, -1.0f, 0.0f, 32767.0f} : values;
            for (float value : extremes) {
                if (log.Failed()) return;
                play({pin}, false, value, "input " + PinLabel(pins, pin) + " set to " + Describe(value));
            }
        }
        for (float value : values) {
            if (log.Failed()) return;
            play(audio_inputs, false, value, "every input driven with " + Describe(value));
        }
        play(audio_inputs, true, 0.0f, "every input driven with streams of extremes");
    }
}

void CheckRealtimeSafety(const CheckContext& context, CheckLog& log) {
    if (!CountAllocationsOf(*context.library)) {
        log.Skip("this program cannot count allocations on this platform");
        return;
    }
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 2, 60);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(16, 1024));
        options.honour_sleep = random.Chance(0.5);
        const Scenario scenario =
            TypicalScenario(pins, static_cast<uint64_t>(options.block_size) * 32, options.block_size, random, 0.3);
        log.Stage("counting allocations while processing, trial " + std::to_string(trial + 1));
        ValidatorHost host(*context.library, log, options);
        CutPolicy cuts;
        cuts.mode = CutMode::Random;
        cuts.seed = random.Next();
        if (!PlayFresh(host, scenario, cuts)) return;
        const int64_t made = host.RealtimeAllocations();
        if (made > 0)
            log.Fail("allocated or released memory " + std::to_string(made) +
                     " times during processing calls and event delivery, first " + host.FirstAllocationPlace());
    }
}

}  // namespace vxhost
