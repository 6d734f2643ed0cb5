// What every host answers alike when an instance asks where it stands: the
// sample clock now, the clock of the buffers' first sample, how many pins
// the host gave it, and the buffer of one of them. Hosts differ only in what
// they record or check around these answers.
#ifndef VXHOST_STREAMANSWERS_H
#define VXHOST_STREAMANSWERS_H

#include <cstdint>

#include "VXHostAbi.h"

namespace vxhost {

struct StreamPosition {
    uint32_t clock;        // the clock the instance is at
    uint32_t block_clock;  // the clock of the buffers' first sample
    int32_t pin_count;     // pins the host gave the instance
};

// Answers HC_SAMPLE_CLOCK, HC_BUFFER_CLOCK, HC_PIN_COUNT and HC_PIN_BUFFER
// into `answer`; false for every other opcode. `buffer_of(pin)` is asked
// only for a pin the host has, and may give null; any other pin has no
// buffer.
template <class BufferOf>
bool AnswerStreamQuery(int32_t opcode, int32_t index, const StreamPosition& at, BufferOf buffer_of, VXIntPtr& answer) {
    switch (opcode) {
        case HC_SAMPLE_CLOCK:
            answer = static_cast<VXIntPtr>(at.clock);
            return true;
        case HC_BUFFER_CLOCK:
            answer = static_cast<VXIntPtr>(at.block_clock);
            return true;
        case HC_PIN_COUNT:
            answer = at.pin_count;
            return true;
        case HC_PIN_BUFFER: {
            const float* buffer = index >= 0 && index < at.pin_count ? buffer_of(index) : nullptr;
            answer = reinterpret_cast<VXIntPtr>(buffer);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace vxhost

#endif  // VXHOST_STREAMANSWERS_H
