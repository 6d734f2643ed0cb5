// MIDI messages on the sample clock, and the offline driver that cuts such a
// timeline into periods and feeds a block source exactly as a real-time
// driver would.
#ifndef VXHOST_MIDITIMELINE_H
#define VXHOST_MIDITIMELINE_H

#include <cstdint>
#include <functional>
#include <vector>

#include "BlockSource.h"

namespace vxhost {

struct TimedMidiMessage {
    uint64_t sample;      // from the start of the song
    MidiMessage message;  // its frame is set when a period is cut
};

// One period's output: `frames` samples in out[channel].
using PeriodSink = std::function<void(const float* const* out, int32_t frames)>;

// Renders `frames` samples of `source` in periods of `period` samples (at
// most source.MaxFrames()), handing each period the messages of the
// timeline (in sample order) that fall into it, stamped with their offset.
// Messages at or after `frames` are not played.
void RenderTimeline(BlockSource& source, const std::vector<TimedMidiMessage>& timeline, uint64_t frames, int32_t period,
                    const PeriodSink& sink);

}  // namespace vxhost

#endif  // VXHOST_MIDITIMELINE_H
