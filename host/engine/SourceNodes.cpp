#include "SourceNodes.h"

#include <algorithm>

namespace vxhost {

namespace {

NodePin OutputPin() {
    NodePin pin;
    pin.name = "out";
    pin.direction = PinDirection::Output;
    return pin;
}

}  // namespace

ConstantNode::ConstantNode(std::string name, float value) : Node(std::move(name)), m_value(value) {
    AddPin(OutputPin());
}

void ConstantNode::Process(int32_t offset, int32_t frames) { std::fill_n(Buffer(0) + offset, frames, m_value); }

StepNode::StepNode(std::string name, std::vector<StepPoint> points, float start)
    : Node(std::move(name)), m_points(std::move(points)), m_value(start) {
    AddPin(OutputPin());
}

// Between steps the buffer already holds the value from its start on, and
// only this module writes it, so most blocks write nothing.
void StepNode::Process(int32_t offset, int32_t frames) {
    float* out = Buffer(0);
    const uint64_t first = Now();
    const uint64_t end = first + static_cast<uint64_t>(frames);
    const bool steps = m_next < m_points.size() && m_points[m_next].clock < end;
    if (!steps) {
        if (offset + frames > m_extent) {
            // The samples from the last step on hold the value already.
            const int32_t to = offset + frames;
            int32_t fill_to = to;
            if (m_tail_from <= to && to <= m_tail_to) fill_to = std::max(offset, m_tail_from);
            std::fill(out + offset, out + fill_to, m_value);
            if (offset <= m_extent) m_extent = to;
        }
        HoldUntil(m_next < m_points.size() ? m_points[m_next].clock : UINT64_MAX, m_extent);
        OutputHolds(0, m_extent, m_value);
        return;
    }
    // The samples before the first step may hold the value already.
    const int32_t held = m_extent;
    m_extent = 0;
    HoldUntil(0, 0);
    uint64_t clock = first;
    while (clock < end) {
        // Points at one clock take effect together; the change is announced once.
        bool changed = false;
        while (m_next < m_points.size() && m_points[m_next].clock <= clock) {
            m_value = m_points[m_next++].value;
            changed = true;
        }
        if (changed) Announce(0, ST_ONE_OFF, clock);
        uint64_t until = end;
        if (m_next < m_points.size()) until = std::min(until, m_points[m_next].clock);
        const auto from = static_cast<int32_t>(clock - first), to = static_cast<int32_t>(until - first);
        if (changed || offset + to > held) std::fill(out + offset + from, out + offset + to, m_value);
        m_tail_from = offset + from;
        m_tail_to = offset + to;
        clock = until;
    }
    OutputHolds(0, 0, m_value);
}

SampleNode::SampleNode(std::string name, std::vector<float> samples)
    : Node(std::move(name)), m_samples(std::move(samples)) {
    AddPin(OutputPin());
}

void SampleNode::Process(int32_t offset, int32_t frames) {
    float* out = Buffer(0) + offset;
    const uint64_t first = Now();
    const uint64_t length = m_samples.size();
    if (!m_announced_start && first < length) {
        Announce(0, ST_RUN, first);
        m_announced_start = true;
    }
    for (int32_t j = 0; j < frames; ++j) {
        const uint64_t clock = first + static_cast<uint64_t>(j);
        out[j] = clock < length ? m_samples[static_cast<size_t>(clock)] : 0.0f;
    }
    const uint64_t end = first + static_cast<uint64_t>(frames);
    if (m_announced_start && !m_announced_end && length >= first && length < end) {
        Announce(0, ST_ONE_OFF, length);
        m_announced_end = true;
    }
}

}  // namespace vxhost
