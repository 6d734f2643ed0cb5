#include "MidiTimeline.h"

#include <algorithm>

#include "HostError.h"

namespace vxhost {

void RenderTimeline(BlockSource& source, const std::vector<TimedMidiMessage>& timeline, uint64_t frames, int32_t period,
                    const PeriodSink& sink) {
    if (period < 1 || period > source.MaxFrames())
        throw HostError("a period of " + std::to_string(period) + " samples does not fit the instrument's " +
                        std::to_string(source.MaxFrames()));
    const size_t channels = static_cast<size_t>(std::max(source.Channels(), 0));
    std::vector<std::vector<float>> buffers(channels, std::vector<float>(static_cast<size_t>(period)));
    std::vector<float*> out(channels);
    for (size_t c = 0; c < channels; ++c) out[c] = buffers[c].data();
    std::vector<MidiMessage> midi;
    size_t next = 0;
    for (uint64_t start = 0; start < frames;) {
        const int32_t n = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(period), frames - start));
        midi.clear();
        while (next < timeline.size() && timeline[next].sample < start + static_cast<uint64_t>(n)) {
            MidiMessage m = timeline[next].message;
            // A message stamped before the clock (an unsorted timeline) plays at once.
            m.frame = timeline[next].sample < start ? 0 : static_cast<int32_t>(timeline[next].sample - start);
            midi.push_back(m);
            ++next;
        }
        source.Render(n, midi.data(), static_cast<int32_t>(midi.size()), out.data());
        if (sink) sink(out.data(), n);
        start += static_cast<uint64_t>(n);
    }
}

}  // namespace vxhost
