// libFuzzer target: one plug-in (VX_FUZZ_PLUGIN) driven with fuzzer-chosen
// input values, events, pin counts, sample rates and block splits, either
// through the host engine (sources wired into its inputs, blocks of chosen
// lengths) or call by call through the test host (more host pins than it
// declares, events at any sample, processing calls of any length).
//
// Besides what the sanitizers and the framework's assertions catch, a
// stream-state announcement stamped before the current sample is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Engine.h"
#include "PluginNode.h"
#include "PluginSearch.h"
#include "SampleClock.h"
#include "SourceNodes.h"
#include "TestHost.h"

using namespace vxhost;

namespace {

constexpr int32_t kLongestBlock = 4096;
constexpr uint64_t kLongestRun = 1 << 16;
constexpr int kMostOperations = 4000;
constexpr int32_t kMostExtraPins = 4;

std::shared_ptr<const PluginLibrary> SharedLibrary() {
    static const std::shared_ptr<const PluginLibrary> library = LoadPlugin(VX_FUZZ_PLUGIN);
    return library;
}

[[noreturn]] void Finding(const char* what, long long a, long long b) {
    std::fprintf(stderr, "finding: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

void RequireStampNotPast(const HostCall& call) {
    if (call.opcode != HC_PIN_STATUS) return;
    if (StampDistance(call.PtrAsClock(), call.host_clock) < 0)
        Finding("announcement stamped before the current sample", call.PtrAsClock(), call.host_clock);
}

float AnyFloat(FuzzedDataProvider& in) {
    const uint32_t bits = in.ConsumeIntegral<uint32_t>();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A plain sample value most of the time, any bit pattern otherwise.
float InputValue(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return AnyFloat(in);
    return in.ConsumeFloatingPointInRange<float>(-2.0f, 2.0f);
}

double SampleRate(FuzzedDataProvider& in) {
    static const double rates[] = {44100.0, 48000.0, 1000.0, 768000.0, 44100.5, 96000.0, 8000.0, 22050.25};
    if (in.ConsumeBool()) return rates[in.ConsumeIntegralInRange<size_t>(0, 7)];
    return in.ConsumeFloatingPointInRange<double>(1000.0, 768000.0);
}

double SettingValue(FuzzedDataProvider& in, const NodePin& pin) {
    if (pin.datatype == DT_BOOL) return in.ConsumeBool() ? 1.0 : 0.0;
    return static_cast<double>(in.ConsumeIntegral<int16_t>());
}

void ThroughTheEngine(FuzzedDataProvider& in) {
    const double rate = SampleRate(in);
    const auto block = in.ConsumeIntegralInRange<int32_t>(1, kLongestBlock);
    Engine engine(rate, block);
    PluginNode& module = engine.Emplace<PluginNode>(SharedLibrary(), "module");
    module.SetCallObserver(RequireStampNotPast);
    const uint64_t length = in.ConsumeIntegralInRange<uint64_t>(1, kLongestRun);
    for (int32_t pin = 0; pin < module.PinCount(); ++pin) {
        const NodePin& p = module.Pins()[static_cast<size_t>(pin)];
        if (p.direction != PinDirection::Input) continue;
        if (p.kind == PinKind::Value) {
            module.SetValue(pin, SettingValue(in, p));
            const int changes = in.ConsumeIntegralInRange<int>(0, 3);
            for (int i = 0; i < changes; ++i)
                module.ScheduleValue(pin, in.ConsumeIntegralInRange<uint64_t>(0, length), SettingValue(in, p));
            continue;
        }
        if (p.kind != PinKind::Audio) continue;
        const std::string name = "source" + std::to_string(pin);
        switch (in.ConsumeIntegralInRange<int>(0, 2)) {
            case 0:
                module.SetValue(pin, InputValue(in));
                break;
            case 1: {
                std::vector<StepPoint> points;
                uint64_t clock = 0;
                const int steps = in.ConsumeIntegralInRange<int>(0, 8);
                for (int i = 0; i < steps; ++i) {
                    clock += in.ConsumeIntegralInRange<uint64_t>(0, 4 * static_cast<uint64_t>(block));
                    points.push_back({clock, InputValue(in)});
                }
                Node& steps_node = engine.Emplace<StepNode>(name, points, InputValue(in));
                engine.Connect({engine.IdOf(steps_node), 0}, {engine.IdOf(module), pin});
                break;
            }
            default: {
                std::vector<float> samples(in.ConsumeIntegralInRange<size_t>(0, 512));
                for (float& s : samples) s = InputValue(in);
                Node& stream = engine.Emplace<SampleNode>(name, samples);
                engine.Connect({engine.IdOf(stream), 0}, {engine.IdOf(module), pin});
                break;
            }
        }
    }
    engine.Start();
    for (uint64_t done = 0; done < length;) {
        const int32_t most = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(block), length - done));
        const int32_t frames = in.remaining_bytes() > 0 ? in.ConsumeIntegralInRange<int32_t>(1, most) : most;
        engine.Run(frames);
        done += static_cast<uint64_t>(frames);
    }
}

void CallByCall(FuzzedDataProvider& in) {
    TestHost host(*SharedLibrary());
    if (!host.Create()) Finding("makeModule returned no instance", 0, 0);
    int32_t declared = 0;
    for (;; ++declared) {
        VXPinProperties p{};
        if (host.Dispatch(OP_GET_PIN_PROPERTIES, declared, 0, &p) == 0) break;
    }
    host.SetPinCount(declared + in.ConsumeIntegralInRange<int32_t>(0, kMostExtraPins));
    host.SetHonourSleep(in.ConsumeBool());
    const auto block = in.ConsumeIntegralInRange<int32_t>(1, kLongestBlock);
    host.Open(static_cast<float>(SampleRate(in)), block);
    int32_t position = 0;  // the next sample of the block to process
    const auto end_block = [&]() {
        if (position < block) host.Process(position, block - position);
        // An event of no consequence carries the clock to the next block.
        VXEvent tick{};
        tick.time_stamp = host.BlockStart() + static_cast<uint32_t>(block);
        tick.event_type = ET_UNUSED6;
        host.Deliver(tick);
        host.BeginBlock();
        position = 0;
    };
    for (int op = 0; op < kMostOperations && in.remaining_bytes() > 0; ++op) {
        const int32_t pins = host.PinCount();
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
            case 0:
                host.Fill(in.ConsumeIntegralInRange<int32_t>(0, pins - 1), InputValue(in));
                break;
            case 1: {
                std::vector<float>& buffer = host.Buffer(in.ConsumeIntegralInRange<int32_t>(0, pins - 1));
                buffer[in.ConsumeIntegralInRange<size_t>(0, buffer.size() - 1)] = InputValue(in);
                break;
            }
            case 2:
                if (position < block)
                    host.SendPinStatus(in.ConsumeIntegralInRange<int32_t>(0, pins - 1),
                                       in.ConsumeIntegralInRange<int32_t>(ST_STATIC, ST_RUN), position);
                break;
            case 3: {
                const int32_t frames = in.ConsumeIntegralInRange<int32_t>(0, block - position);
                host.Process(position, frames);
                position += frames;
                break;
            }
            case 4:
                host.Dispatch(OP_RESTART, in.ConsumeIntegral<int32_t>());
                break;
            case 5: {
                const int32_t pin = in.ConsumeIntegralInRange<int32_t>(0, pins - 1);
                if (pin >= static_cast<int32_t>(host.Pins().size())) break;
                const VXPinProperties& p = host.Pins()[static_cast<size_t>(pin)].properties;
                if (p.variable_address == nullptr) break;
                if (p.datatype == DT_ENUM || p.datatype == DT_INT || p.datatype == DT_FLOAT)
                    host.SetSetting(pin, static_cast<double>(in.ConsumeIntegral<int16_t>()));
                else if (p.datatype == DT_BOOL)
                    host.SetSetting(pin, in.ConsumeBool() ? 1.0 : 0.0);
                break;
            }
            default:
                end_block();
                break;
        }
        for (const HostCall& call : host.Calls()) RequireStampNotPast(call);
        host.ClearCalls();
    }
    end_block();
    for (const HostCall& call : host.Calls()) RequireStampNotPast(call);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool())
        ThroughTheEngine(in);
    else
        CallByCall(in);
    return 0;
}
