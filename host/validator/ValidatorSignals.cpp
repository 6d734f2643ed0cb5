#include "ValidatorSignals.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "PinValues.h"

namespace vxhost {

namespace {

bool ByStart(const InputSegment& a, const InputSegment& b) { return a.start < b.start; }

}  // namespace

float Scenario::Sample(const InputTrack& track, const InputSegment& segment, uint64_t clock) const {
    switch (segment.kind) {
        case SegmentKind::Held:
            return segment.value;
        case SegmentKind::Noise: {
            const double u = HashUnit(noise_seed, static_cast<uint64_t>(track.pin), clock);
            return static_cast<float>(segment.value + segment.spread * u);
        }
        case SegmentKind::GatedNoise: {
            if (clock < segment.opens || clock >= segment.closes) return 0.0f;
            const double u = HashUnit(noise_seed, static_cast<uint64_t>(track.pin), clock);
            return static_cast<float>(segment.value + segment.spread * u);
        }
        case SegmentKind::AbuseStream: {
            const std::vector<float>& values = AbuseValues();
            const double u = HashUnit(noise_seed ^ 0xABu, static_cast<uint64_t>(track.pin), clock);
            const auto i = static_cast<size_t>(u * static_cast<double>(values.size()));
            return values[std::min(i, values.size() - 1)];
        }
    }
    return 0.0f;
}

InputTrack* Scenario::Track(int32_t pin) {
    for (InputTrack& t : tracks)
        if (t.pin == pin) return &t;
    return nullptr;
}

float InRangeValue(ValidatorRandom& random) {
    const double u = random.Unit();
    if (u < 0.25) return 0.0f;
    if (u < 0.85) return static_cast<float>(random.Uniform(0.0, 1.0));
    return static_cast<float>(random.Uniform(-1.0, 0.0));
}

double InRangeSetting(const NodePin& pin, ValidatorRandom& random) {
    switch (pin.datatype) {
        case DT_ENUM: {
            const std::vector<Choice> choices = ParseChoices(pin.choices);
            if (choices.empty()) return pin.default_value;
            return choices[static_cast<size_t>(random.Between(0, static_cast<int64_t>(choices.size()) - 1))].value;
        }
        case DT_BOOL:
            return random.Chance(0.5) ? 1.0 : 0.0;
        case DT_INT:
            return static_cast<double>(random.Between(0, 10));
        case DT_FLOAT:
            return random.Uniform(0.0, 1.0);
        default:
            return 0.0;
    }
}

const std::vector<float>& AbuseValues() {
    static const std::vector<float> values = {
        std::numeric_limits<float>::quiet_NaN(),
        -std::numeric_limits<float>::quiet_NaN(),
        std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(),
        FLT_MAX,
        -FLT_MAX,
        1.0e30f,
        -1.0e30f,
        1.0e6f,
        -1.0e6f,
        -1.0f,
        FLT_MIN / 4.0f,  // denormal
        -FLT_MIN / 4.0f,
        std::numeric_limits<float>::denorm_min(),
        -0.0f,
    };
    return values;
}

bool IsDrivenInput(const PinDescription& pin) {
    if (pin.pin.direction != PinDirection::Input) return false;
    return pin.pin.kind == PinKind::Audio || pin.pin.kind == PinKind::Value;
}

bool IsAudioOutput(const PinDescription& pin) {
    return pin.pin.direction == PinDirection::Output && pin.pin.kind == PinKind::Audio;
}

Scenario MakeScenario(const std::vector<PinDescription>& pins, const ScenarioShape& shape, ValidatorRandom& random) {
    Scenario scenario;
    scenario.length = shape.length;
    scenario.noise_seed = random.Next();
    for (const PinDescription& pin : pins) {
        if (!IsDrivenInput(pin)) continue;
        const bool audio = pin.pin.kind == PinKind::Audio;
        InputTrack track;
        track.pin = pin.number;
        InputSegment first;
        first.value = audio ? InRangeValue(random) : static_cast<float>(InRangeSetting(pin.pin, random));
        track.segments.push_back(first);
        const bool may_change =
            (shape.only_pin < 0 || shape.only_pin == pin.number) && (audio || shape.change_settings);
        const int changes =
            may_change && shape.length > 1 ? static_cast<int>(random.Between(0, shape.max_changes_per_pin)) : 0;
        std::vector<uint64_t> starts;
        for (int i = 0; i < changes; ++i)
            starts.push_back(static_cast<uint64_t>(random.Between(1, static_cast<int64_t>(shape.length) - 1)));
        std::sort(starts.begin(), starts.end());
        uint64_t last = 0;
        for (uint64_t start : starts) {
            if (start < last + shape.min_gap) continue;
            InputSegment s;
            s.start = start;
            s.notify = true;
            if (audio && random.Chance(shape.stream_chance)) {
                s.kind = SegmentKind::Noise;
                s.value = InRangeValue(random);
                s.spread = static_cast<float>(random.Uniform(0.0, 1.0));
            } else {
                s.value = audio ? InRangeValue(random) : static_cast<float>(InRangeSetting(pin.pin, random));
            }
            track.segments.push_back(s);
            last = start;
        }
        std::sort(track.segments.begin(), track.segments.end(), ByStart);
        scenario.tracks.push_back(track);
    }
    return scenario;
}

Scenario MakeStreamingScenario(const std::vector<PinDescription>& pins, const ScenarioShape& shape,
                               ValidatorRandom& random) {
    ScenarioShape held = shape;
    held.stream_chance = 0.0;
    Scenario scenario = MakeScenario(pins, held, random);
    for (InputTrack& track : scenario.tracks) {
        if (pins.at(static_cast<size_t>(track.pin)).pin.kind != PinKind::Audio) continue;
        // Every audio input gets its chance to stream.
        if (track.segments.size() == 1 && scenario.length > 2) {
            InputSegment change = track.segments[0];
            change.start = static_cast<uint64_t>(random.Between(1, static_cast<int64_t>(scenario.length / 2)));
            change.notify = true;
            track.segments.push_back(change);
        }
        bool streaming = false;
        for (size_t i = 1; i < track.segments.size(); ++i) {
            InputSegment& s = track.segments[i];
            const uint64_t end = i + 1 < track.segments.size() ? track.segments[i + 1].start : scenario.length;
            const bool after_stream = streaming;
            streaming = random.Chance(0.7);
            // After a stream, a held value is announced as ST_STATIC now
            // and then: a host tells the module with either.
            if (!streaming && after_stream && random.Chance(0.5)) {
                s.notify = false;
                HostAction action;
                action.clock = s.start;
                action.kind = HostAction::Kind::RawEvent;
                action.event.event_type = ET_PIN_STATUS;
                action.event.int_value = ST_STATIC;
                action.event.ptr_value = track.pin;
                scenario.actions.push_back(action);
            }
            if (!streaming) continue;
            // Open samples stay clear of 0.0, which is what a gate calls closed.
            s.value = static_cast<float>(random.Uniform(0.05, 1.0));
            s.spread = static_cast<float>(random.Uniform(0.0, 0.5));
            const uint64_t span = end - s.start;
            if (span < 8 || random.Chance(0.2)) {
                s.kind = SegmentKind::Noise;
                continue;
            }
            // Open from the notification or at a later sample of the stream,
            // which no notification marks; closed well before the next one,
            // so that a module that settles while the gate is open, or while
            // it is still closed, has time to fall asleep before it changes.
            s.kind = SegmentKind::GatedNoise;
            s.opens = s.start;
            if (random.Chance(0.7)) s.opens += static_cast<uint64_t>(random.Between(1, static_cast<int64_t>(span / 4)));
            s.closes = s.opens + static_cast<uint64_t>(random.Between(span / 4, span / 2));
        }
    }
    std::sort(scenario.actions.begin(), scenario.actions.end(),
              [](const HostAction& a, const HostAction& b) { return a.clock < b.clock; });
    return scenario;
}

}  // namespace vxhost
