// Instances coming and going, many at once, without a host callback, and at
// every sample rate, block size and call length a host may choose.
#include <algorithm>
#include <memory>

#include "ValidatorChecks.h"

namespace vxhost {

namespace {

CutPolicy RandomCuts(ValidatorRandom& random, CutMode mode = CutMode::Random, int32_t longest = 0) {
    CutPolicy cuts;
    cuts.mode = mode;
    cuts.seed = random.Next();
    cuts.longest_call = longest;
    return cuts;
}

// Plays a typical scenario at the given rate and block size in a fresh
// instance and requires finite output.
void PlayTypical(const CheckContext& context, CheckLog& log, double rate, int32_t block, uint64_t length,
                 ValidatorRandom& random, CutMode mode, const std::string& what) {
    HostOptions options;
    options.sample_rate = rate;
    options.block_size = block;
    ValidatorHost host(*context.library, log, options);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const Scenario scenario = TypicalScenario(pins, length, block, random);
    log.Stage(what);
    if (!PlayFresh(host, scenario, RandomCuts(random, mode))) return;
    RequireCleanOutput(host, log, what, false);
}

}  // namespace

void CheckOpenClose(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const int cycles = Scaled(context.level, 3, 300);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    for (int cycle = 0; cycle < cycles && !log.Failed(); ++cycle) {
        const int way = cycle % 4;
        log.Stage("open/close cycle " + std::to_string(cycle + 1) + " of " + std::to_string(cycles));
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(1, 512));
        ValidatorHost host(*context.library, log, options);
        if (way == 0) {  // made and closed without ever being opened
            host.Create();
            continue;
        }
        if (!host.Open()) return;
        if (way == 1) continue;  // opened and closed without a sound
        const Scenario scenario =
            TypicalScenario(pins, static_cast<uint64_t>(options.block_size) * 3, options.block_size, random);
        host.Play(scenario, RandomCuts(random));
        if (way == 3) {  // a second instance opened and closed while the first lives
            ValidatorHost other(*context.library, log, options);
            other.Open();
        }
        RequireCleanOutput(host, log, "after open/close cycle " + std::to_string(cycle + 1), false);
    }
}

void CheckManyInstances(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const int count = Scaled(context.level, 4, 64);
    const int32_t block = 128;
    const uint64_t length = static_cast<uint64_t>(Scaled(context.level, 16, 64)) * block;
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    std::vector<Scenario> scenarios;
    std::vector<CutPolicy> cuts;
    std::vector<std::unique_ptr<ValidatorHost>> hosts;
    HostOptions options;
    options.block_size = block;
    log.Stage("opening " + std::to_string(count) + " instances");
    for (int i = 0; i < count; ++i) {
        scenarios.push_back(TypicalScenario(pins, length, block, random));
        cuts.push_back(RandomCuts(random));
        hosts.push_back(std::make_unique<ValidatorHost>(*context.library, log, options));
        if (!hosts.back()->Open()) return;
    }
    log.Stage("playing " + std::to_string(count) + " instances block by block in turn");
    for (int i = 0; i < count; ++i)
        hosts[static_cast<size_t>(i)]->Start(scenarios[static_cast<size_t>(i)], cuts[static_cast<size_t>(i)]);
    for (bool more = true; more;) {
        more = false;
        for (auto& host : hosts) more = host->PlayBlock() || more;
    }
    // Each instance alone must sound as it did among the others: nothing may
    // pass between instances.
    for (int i = 0; i < count && !log.Failed(); ++i) {
        log.Stage("instance " + std::to_string(i + 1) + " of " + std::to_string(count) + " again on its own");
        ValidatorHost alone(*context.library, log, options);
        if (!PlayFresh(alone, scenarios[static_cast<size_t>(i)], cuts[static_cast<size_t>(i)])) return;
        RequireSameOutput(alone, *hosts[static_cast<size_t>(i)], log,
                          "when instance " + std::to_string(i + 1) + " of " + std::to_string(count) +
                              " runs among the others rather than alone");
    }
}

void CheckNullCallback(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 2, 40);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.null_callback = true;
        options.block_size = static_cast<int32_t>(random.Between(16, 1024));
        log.Stage("without a host callback, trial " + std::to_string(trial + 1));
        ValidatorHost host(*context.library, log, options);
        if (trial == 0) {
            host.Create();
            continue;
        }
        // Without a callback there is no clock to stamp events with, so
        // the inputs hold their start values.
        ScenarioShape shape;
        shape.length = static_cast<uint64_t>(options.block_size) * 4;
        shape.max_changes_per_pin = 0;
        Scenario scenario = MakeScenario(pins, shape, random);
        HostAction restart;
        restart.clock = shape.length / 2;
        scenario.actions.push_back(restart);
        if (!PlayFresh(host, scenario, RandomCuts(random))) return;
        RequireCleanOutput(host, log, "without a host callback", false);
    }
}

void CheckRestart(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    const int trials = Scaled(context.level, 2, 120);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(32, 512));
        const uint64_t length = static_cast<uint64_t>(options.block_size) * 12;
        Scenario scenario = TypicalScenario(pins, length, options.block_size, random);
        const int restarts = static_cast<int>(random.Between(1, 6));
        for (int i = 0; i < restarts; ++i) {
            HostAction action;
            action.clock = i == 0 ? 0 : static_cast<uint64_t>(random.Between(0, static_cast<int64_t>(length) - 1));
            const int32_t indexes[] = {0, 1, 5, -1, INT32_MAX};
            action.index = indexes[random.Between(0, 4)];
            scenario.actions.push_back(action);
        }
        std::sort(scenario.actions.begin(), scenario.actions.end(),
                  [](const HostAction& a, const HostAction& b) { return a.clock < b.clock; });
        log.Stage("OP_RESTART during playing, trial " + std::to_string(trial + 1));
        ValidatorHost host(*context.library, log, options);
        if (!PlayFresh(host, scenario, RandomCuts(random))) return;
        RequireCleanOutput(host, log, "with OP_RESTART along the way", false);
    }
}

void CheckSampleRates(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    std::vector<double> rates = {44100.0, 48000.0, 1000.0, 768000.0};
    const double more[] = {96000.0,  22050.0, 192000.0, 8000.0,   44100.5,  11025.0,   88200.0, 32000.0,   47999.99,
                           176400.0, 1000.25, 384000.0, 352800.0, 705600.0, 767999.75, 16000.0, 12345.678, 2000.0};
    const int extra = Scaled(context.level, 0, static_cast<int>(sizeof more / sizeof more[0]));
    rates.insert(rates.end(), more, more + extra);
    for (int i = 0; i < Scaled(context.level, 0, 40); ++i) rates.push_back(random.Uniform(1000.0, 768000.0));
    for (double rate : rates) {
        if (log.Failed()) break;
        const uint64_t length = static_cast<uint64_t>(std::min(32768.0, std::max(2048.0, rate * 0.02)));
        PlayTypical(context, log, rate, 512, length, random, CutMode::Random,
                    "at " + Describe(static_cast<float>(rate)) + " Hz");
    }
}

void CheckBlockSizes(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    std::vector<int32_t> sizes = {1, 64, 1000, 16384};
    const int32_t more[] = {2, 3, 7, 100, 127, 256, 1024, 4095, 333, 8192, 5, 16383, 999};
    sizes.insert(sizes.end(), more, more + Scaled(context.level, 0, static_cast<int>(sizeof more / sizeof more[0])));
    for (int i = 0; i < Scaled(context.level, 0, 30); ++i)
        sizes.push_back(static_cast<int32_t>(random.Between(1, 16384)));
    for (int32_t block : sizes) {
        if (log.Failed()) break;
        const uint64_t length = std::max<uint64_t>(4096, static_cast<uint64_t>(block) * 3);
        PlayTypical(context, log, 44100.0, block, length, random, CutMode::Random,
                    "with blocks of " + std::to_string(block) + " samples");
    }
}

void CheckCallLengths(const CheckContext& context, CheckLog& log) {
    ValidatorRandom random(context.seed);
    const int trials = Scaled(context.level, 3, 200);
    const std::vector<PinDescription> pins = ReadPins(*context.library, log);
    for (int trial = 0; trial < trials && !log.Failed(); ++trial) {
        HostOptions options;
        options.block_size = static_cast<int32_t>(random.Between(1, 2048));
        const int32_t longest_choices[] = {1, 2, 3, 17, 64, options.block_size};
        const int32_t longest = longest_choices[random.Between(0, 5)];
        const Scenario scenario = TypicalScenario(pins, 8192, options.block_size, random);
        const std::string what = "with calls of 0 to " + std::to_string(std::min(longest, options.block_size)) +
                                 " samples in blocks of " + std::to_string(options.block_size);
        log.Stage(what);
        ValidatorHost host(*context.library, log, options);
        if (!PlayFresh(host, scenario, RandomCuts(random, CutMode::RandomWithEmpty, longest))) return;
        RequireCleanOutput(host, log, what, false);
    }
}

}  // namespace vxhost
