// Processing calls: their windows, what comes out for inputs in range,
// events at the edges of blocks, the stamps of announcements, and output
// that depends only on the input, not on the instance, the run or the
// cutting of blocks.
#include <algorithm>
#include <map>
#include <memory>

#include "ValidatorChecks.h"

namespace vxhost {

namespace {

CutPolicy Cuts(ValidatorRandom& random, CutMode mode, int32_t longest = 0) {
    CutPolicy cuts;
    cuts.mode = mode;
    cuts.seed = random.Next();
    cuts.longest_call = longest;
    return cuts;
}

void SortActions(Scenario& scenario) {
    std::stable_sort(scenario.actions.begin(), scenario.actions.end(),
                     [](const HostAction& a, const HostAction& b) { return a.clock < b.clock; });
}

}  // namespace

void CheckBufferWindow(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 3, 200);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(8, 1024));
        const Scenario scenario =
            TypicalScenario(pins, static_cast<uint64_t>(options.block_size) * 8, options.block_size, random);
        log.Stage("processing calls at offsets inside blocks of " + std::to_string(options.block_size) + ", trial " +
                  std::to_string(trial + 1));
        ValidatorHost host(*context.library, log, options);
        PlayFresh(host, scenario,
                  Cuts(random, trial % 2 == 0 ? CutMode::Random : CutMode::RandomWithEmpty,
                       std::max(1, options.block_size / 3)));
    }
}

void CheckFiniteOutput(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 3, 300);
    const double rates[] = {44100.0, 48000.0, 96000.0, 22050.0, 192000.0};
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.sample_rate = rates[random.Between(0, 4)];
        options.block_size = static_cast<int32_t>(random.Between(32, 1024));
        const uint64_t length = static_cast<uint64_t>(random.Between(4096, 32768));
        const Scenario scenario = TypicalScenario(pins, length, options.block_size, random, 0.3);
        log.Stage("inputs in range, trial " + std::to_string(trial + 1));
        ValidatorHost host(*context.library, log, options);
        if (!PlayFresh(host, scenario, Cuts(random, CutMode::Random))) return;
        RequireCleanOutput(host, log, "for inputs in range", true);
    }
}

void CheckEventsAtEdges(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    std::vector<int32_t> inputs;
    for (const PinDescription& p : pins)
        if (IsDrivenInput(p)) inputs.push_back(p.number);
    const int trials = Scaled(context.level, 2, 150);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(2, 512));
        const int32_t block = options.block_size;
        const int blocks = 12;
        Scenario scenario = TypicalScenario(pins, static_cast<uint64_t>(block) * blocks, block, random, 0.2);
        // Changes and events on the first and the last sample of blocks and
        // in their middle, where a module that counts on whole blocks slips.
        for (InputTrack& track : scenario.tracks) {
            for (int b = 1; b < blocks; ++b) {
                const int64_t places[] = {b * block, b * block + block - 1, b * block + block / 2};
                const int64_t at = places[random.Between(0, 2)];
                if (!random.Chance(0.4)) continue;
                InputSegment s;
                s.start = static_cast<uint64_t>(at);
                s.notify = true;
                s.value = pins[static_cast<size_t>(track.pin)].pin.kind == PinKind::Audio
                              ? InRangeValue(random)
                              : static_cast<float>(InRangeSetting(pins[static_cast<size_t>(track.pin)].pin, random));
                track.segments.push_back(s);
            }
            std::stable_sort(track.segments.begin(), track.segments.end(),
                             [](const InputSegment& a, const InputSegment& b) { return a.start < b.start; });
            // Two changes at one sample: the later one counts.
            auto last = std::unique(track.segments.rbegin(), track.segments.rend(),
                                    [](const InputSegment& a, const InputSegment& b) { return a.start == b.start; });
            track.segments.erase(track.segments.begin(), last.base());
        }
        for (int b = 0; b < blocks; ++b) {
            HostAction action;
            action.kind = HostAction::Kind::RawEvent;
            action.clock = static_cast<uint64_t>(b * block + (random.Chance(0.5) ? 0 : block - 1));
            const int32_t types[] = {ET_DATA, ET_UNUSED6, 13, ET_PIN_STATUS};
            action.event.event_type = types[random.Between(0, 3)];
            action.event.int_value = static_cast<int32_t>(random.Between(-5, 5));
            action.event.int_value2 = static_cast<int32_t>(random.Between(-70000, 70000));
            if (action.event.event_type == ET_PIN_STATUS) {
                if (inputs.empty()) continue;
                action.event.ptr_value =
                    inputs[static_cast<size_t>(random.Between(0, static_cast<int64_t>(inputs.size()) - 1))];
                action.event.int_value = static_cast<int32_t>(random.Between(ST_STATIC, ST_ONE_OFF));
            }
            scenario.actions.push_back(action);
        }
        SortActions(scenario);
        log.Stage("events at block edges, blocks of " + std::to_string(block) + ", trial " + std::to_string(trial + 1));
        ValidatorHost host(*context.library, log, options);
        if (!PlayFresh(host, scenario, Cuts(random, trial % 2 == 0 ? CutMode::PerBlock : CutMode::Random))) return;
        RequireCleanOutput(host, log, "with events at block edges", false);
    }
}

void CheckAnnouncementStamps(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 4, 300);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(16, 1024));
        const uint64_t length = static_cast<uint64_t>(options.block_size) * 24;
        // Every other run crosses the point where the 32-bit clock wraps.
        if (trial % 2 == 1) options.clock_origin = static_cast<uint32_t>(0xFFFFFFFFull - length / 2);
        const Scenario scenario = TypicalScenario(pins, length, options.block_size, random, 0.15);
        log.Stage("stream-state announcements, trial " + std::to_string(trial + 1) +
                  (options.clock_origin != 0 ? " (across the clock's wrap)" : ""));
        ValidatorHost host(*context.library, log, options);
        if (!PlayFresh(host, scenario, Cuts(random, CutMode::Random))) return;
        std::map<int32_t, int64_t> latest;
        for (const Announcement& a : host.Announcements()) {
            auto it = latest.find(a.pin);
            if (it != latest.end() && a.at < it->second)
                log.Fail("announcements out of order",
                         "announced " + PinLabel(pins, a.pin) + " at sample " + std::to_string(a.at) +
                             " after having announced it at the later sample " + std::to_string(it->second));
            latest[a.pin] = std::max(a.at, it != latest.end() ? it->second : a.at);
        }
    }
}

void CheckDeterminism(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 1, 60);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(32, 1024));
        const Scenario scenario =
            TypicalScenario(pins, static_cast<uint64_t>(random.Between(4096, 16384)), options.block_size, random, 0.3);
        const CutPolicy cuts = Cuts(random, CutMode::Random);
        log.Stage("the same input to three instances, trial " + std::to_string(trial + 1));
        // Two instances block by block in turn, then a third on its own.
        ValidatorHost first(*context.library, log, options);
        auto second = std::make_unique<ValidatorHost>(*context.library, log, options);
        if (!first.Open() || !second->Open()) return;
        first.Start(scenario, cuts);
        second->Start(scenario, cuts);
        while (first.PlayBlock() && second->PlayBlock()) {}
        RequireSameOutput(first, *second, log, "in a second instance given the same input at the same time");
        second.reset();
        ValidatorHost third(*context.library, log, options);
        if (!PlayFresh(third, scenario, cuts)) return;
        RequireSameOutput(first, third, log, "in a later run given the same input");
    }
}

void CheckBlockSplit(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    std::vector<int32_t> inputs;
    for (const PinDescription& p : pins)
        if (IsDrivenInput(p)) inputs.push_back(p.number);
    if (inputs.empty()) inputs.push_back(-1);
    const int rounds = Scaled(context.level, 1, 20);
    const uint64_t length = static_cast<uint64_t>(Scaled(context.level, 4096, 16384));
    for (int round = 0; round < rounds && !log.Failed(); ++round) {
        for (int32_t moving : inputs) {
            if (log.Failed()) break;
            // One input steps (each step announced), the others hold still.
            ScenarioShape shape;
            shape.length = length;
            shape.max_changes_per_pin = 6;
            shape.only_pin = moving;
            shape.change_settings = true;
            const Scenario scenario = MakeScenario(pins, shape, random);
            HostOptions whole;
            whole.block_size = static_cast<int32_t>(length);
            HostOptions pieces;
            pieces.block_size = static_cast<int32_t>(random.Between(1, 2048));
            const std::string what = "when the host cuts the same input into blocks of " +
                                     std::to_string(pieces.block_size) + " and random calls instead of one piece" +
                                     (moving >= 0 ? " (" + PinLabel(pins, moving) + " stepping)" : "");
            log.Stage(what);
            ValidatorHost one(*context.library, log, whole);
            ValidatorHost cut(*context.library, log, pieces);
            if (!PlayFresh(one, scenario, Cuts(random, CutMode::PerBlock))) return;
            if (!PlayFresh(cut, scenario, Cuts(random, CutMode::Random))) return;
            RequireSameOutput(one, cut, log, what);
        }
    }
}

}  // namespace vxhost
