#include "NoteSource.h"

#include <algorithm>

namespace vxhost {

namespace {

NodePin OutputPin(const char* name) {
    NodePin pin;
    pin.name = name;
    pin.direction = PinDirection::Output;
    return pin;
}

}  // namespace

NoteSourceNode::NoteSourceNode(std::string name, size_t capacity)
    : Node(std::move(name)), m_ring(std::max<size_t>(capacity, 1)) {
    AddPin(OutputPin("gate"));
    AddPin(OutputPin("pitch"));
    AddPin(OutputPin("velocity"));
}

bool NoteSourceNode::Queue(int32_t output, uint64_t clock, float value) {
    if (output < 0 || output >= kOutputCount || m_count == m_ring.size()) return false;
    clock = std::max(clock, m_last_clock);
    m_ring[(m_head + m_count) % m_ring.size()] = {clock, output, value};
    ++m_count;
    m_last_clock = clock;
    m_latest[output] = value;
    return true;
}

void NoteSourceNode::Process(int32_t offset, int32_t frames) {
    const uint64_t first = Now();
    const uint64_t end = first + static_cast<uint64_t>(frames);
    uint64_t clock = first;
    while (clock < end) {
        // Changes at one clock take effect together; an output whose value
        // really changed is announced once.
        bool changed[kOutputCount] = {false, false, false};
        while (m_count > 0 && m_ring[m_head].clock <= clock) {
            const Change& c = m_ring[m_head];
            if (m_value[c.output] != c.value) changed[c.output] = true;
            m_value[c.output] = c.value;
            m_head = (m_head + 1) % m_ring.size();
            --m_count;
        }
        for (int32_t pin = 0; pin < kOutputCount; ++pin)
            if (changed[pin]) Announce(pin, ST_ONE_OFF, clock);
        uint64_t until = end;
        if (m_count > 0) until = std::min(until, m_ring[m_head].clock);
        for (int32_t pin = 0; pin < kOutputCount; ++pin)
            std::fill(Buffer(pin) + offset + (clock - first), Buffer(pin) + offset + (until - first), m_value[pin]);
        clock = until;
    }
}

}  // namespace vxhost
