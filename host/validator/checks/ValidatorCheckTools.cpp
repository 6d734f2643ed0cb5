#include "ValidatorChecks.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <sstream>

namespace vxhost {

int Scaled(int level, int at_lowest, int at_highest) {
    const int clamped = std::max(kLowestLevel, std::min(kHighestLevel, level));
    return at_lowest + (at_highest - at_lowest) * (clamped - kLowestLevel) / (kHighestLevel - kLowestLevel);
}

std::vector<PinDescription> ReadPins(const PluginLibrary& library, CheckLog& log) {
    VXPluginRecord* record = library.MakeModule()(0, 1, nullptr, nullptr);
    if (record == nullptr) {
        log.Fail("makeModule(0, 1, ...) returned no instance");
        return {};
    }
    std::vector<PinDescription> pins = ReadPinDescriptions(record);
    record->dispatcher(record, OP_CLOSE, 0, 0, nullptr, 0.0f);
    return pins;
}

Scenario TypicalScenario(const std::vector<PinDescription>& pins, uint64_t length, int32_t block_size,
                         ValidatorRandom& random, double stream_chance) {
    ScenarioShape shape;
    shape.length = length;
    shape.max_changes_per_pin =
        std::max(1, static_cast<int>(length / static_cast<uint64_t>(std::max(1, block_size)) / 2));
    shape.stream_chance = stream_chance;
    return MakeScenario(pins, shape, random);
}

bool PlayFresh(ValidatorHost& host, const Scenario& scenario, const CutPolicy& cuts) {
    if (!host.Open()) return false;
    host.Play(scenario, cuts);
    return true;
}

bool SameSample(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y || (a == b) || (std::isnan(a) && std::isnan(b));
}

bool IsDenormal(float value) { return value != 0.0f && std::fabs(value) < FLT_MIN; }

std::string Describe(float value) {
    std::ostringstream out;
    out.precision(9);
    out << value;
    return out.str();
}

std::string PinLabel(const std::vector<PinDescription>& pins, int32_t pin) {
    if (pin < 0 || pin >= static_cast<int32_t>(pins.size())) return "pin " + std::to_string(pin);
    return "'" + pins[static_cast<size_t>(pin)].pin.name + "'";
}

void RequireCleanOutput(const ValidatorHost& host, CheckLog& log, const std::string& context, bool no_denormals,
                        int64_t from) {
    for (int32_t pin : host.OutputPins()) {
        const std::vector<float>& out = host.Output(pin);
        for (size_t i = static_cast<size_t>(std::max<int64_t>(0, from)); i < out.size(); ++i) {
            const bool bad = !std::isfinite(out[i]) || (no_denormals && IsDenormal(out[i]));
            if (!bad) continue;
            log.Fail("unclean output " + std::to_string(pin), "output " + PinLabel(host.Pins(), pin) + " is " +
                                                                  Describe(out[i]) +
                                                                  (IsDenormal(out[i]) ? " (a denormal)" : "") +
                                                                  " at sample " + std::to_string(i) + " " + context);
            break;
        }
    }
}

bool RequireSameOutput(const ValidatorHost& expected, const ValidatorHost& actual, CheckLog& log,
                       const std::string& what) {
    for (int32_t pin : expected.OutputPins()) {
        const std::vector<float>& a = expected.Output(pin);
        const std::vector<float>& b = actual.Output(pin);
        const size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            if (SameSample(a[i], b[i])) continue;
            log.Fail("different output", "output " + PinLabel(expected.Pins(), pin) + " differs at sample " +
                                             std::to_string(i) + ": " + Describe(b[i]) + " instead of " +
                                             Describe(a[i]) + " " + what);
            return false;
        }
    }
    return true;
}

}  // namespace vxhost
