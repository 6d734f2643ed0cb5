// The inputs a check plays into a plug-in: for every input pin a track of
// segments (a held value, or a stream of changing samples), the stream-state
// notifications a host sends where segments begin, and host actions at
// chosen samples (restarts, raw events). Everything is fixed before the run,
// so the same scenario can be played with different block cuts, sleep
// handling or instances and the outputs compared.
#ifndef VXHOST_VALIDATORSIGNALS_H
#define VXHOST_VALIDATORSIGNALS_H

#include <cstdint>
#include <vector>

#include "PluginDescription.h"
#include "ValidatorRandom.h"

namespace vxhost {

enum class SegmentKind {
    Held,         // `value` on every sample
    Noise,        // uniform in [value, value + spread], different on every sample
    AbuseStream,  // a different extreme value (NaN, infinities, huge, denormal) on every sample
    // Noise from `opens` up to `closes`, exactly 0.0 before and after: a
    // gate that opens and closes by streaming alone, with no notification.
    GatedNoise,
};

struct InputSegment {
    uint64_t start = 0;  // first sample of the segment, counted from the start of the run
    SegmentKind kind = SegmentKind::Held;
    float value = 0.0f;
    float spread = 0.0f;
    // The host tells the module where the segment begins: ST_RUN for a
    // stream, ST_ONE_OFF for a held value.
    bool notify = false;
    uint64_t opens = 0;            // GatedNoise only, clocks of the run
    uint64_t closes = UINT64_MAX;  // GatedNoise only
};

struct InputTrack {
    int32_t pin = 0;
    std::vector<InputSegment> segments;  // by start; the first starts at 0
};

struct HostAction {
    enum class Kind { Restart, RawEvent };
    uint64_t clock = 0;
    Kind kind = Kind::Restart;
    int32_t index = 0;  // Restart: OP_RESTART's index
    VXEvent event{};    // RawEvent: delivered as given, time stamp set to the clock
};

struct Scenario {
    uint64_t length = 0;
    uint64_t noise_seed = 0;
    std::vector<InputTrack> tracks;
    std::vector<HostAction> actions;  // by clock

    // The sample of a track's segment at `clock`.
    float Sample(const InputTrack& track, const InputSegment& segment, uint64_t clock) const;
    InputTrack* Track(int32_t pin);
};

// Values every well-made module should take in its stride.
float InRangeValue(ValidatorRandom& random);
// A valid value for a value pin: one of its choices, a switch position, a number.
double InRangeSetting(const NodePin& pin, ValidatorRandom& random);
// Extremes, NaN, infinities, denormals and signed zeros.
const std::vector<float>& AbuseValues();

struct ScenarioShape {
    uint64_t length = 4096;
    int max_changes_per_pin = 4;
    double stream_chance = 0.0;   // a change starts a stream rather than a held value
    uint64_t min_gap = 1;         // samples between two changes of one pin
    bool change_settings = true;  // value pins change too
    // Only this pin changes; the others hold their start value. -1: all may change.
    int32_t only_pin = -1;
};

// Start values in range, then changes at random samples, each announced.
Scenario MakeScenario(const std::vector<PinDescription>& pins, const ScenarioShape& shape, ValidatorRandom& random);

// Held values and streams in turn on every audio input: noise, and gates
// that open and close by streaming alone, each stream begun with ST_RUN and
// left for a held value announced as ST_ONE_OFF or ST_STATIC. Value pins
// change as in MakeScenario. Streams last at least `shape.min_gap`.
Scenario MakeStreamingScenario(const std::vector<PinDescription>& pins, const ScenarioShape& shape,
                               ValidatorRandom& random);

// True for pins a host drives: audio inputs and value pins (inputs and settings).
bool IsDrivenInput(const PinDescription& pin);
bool IsAudioOutput(const PinDescription& pin);

}  // namespace vxhost

#endif  // VXHOST_VALIDATORSIGNALS_H
