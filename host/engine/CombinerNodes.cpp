#include "CombinerNodes.h"

#include <algorithm>

#include "HostError.h"

namespace vxhost {

namespace {

constexpr int32_t kMaxInputs = 64;

}  // namespace

CombinerNode::CombinerNode(std::string name, int32_t inputs, float idle_value) : Node(std::move(name)) {
    if (inputs < 1 || inputs > kMaxInputs)
        throw HostError(Name() + ": a combining module takes 1 to " + std::to_string(kMaxInputs) + " inputs");
    for (int32_t i = 1; i <= inputs; ++i) {
        NodePin pin;
        pin.name = "in" + std::to_string(i);
        pin.default_value = idle_value;
        AddPin(pin);
    }
    NodePin out;
    out.name = "out";
    out.direction = PinDirection::Output;
    AddPin(out);
}

void CombinerNode::OnPinStatus(int32_t, int32_t state) {
    const bool running = AnyInputStreaming();
    if (running && !m_running)
        Announce(OutputPin(), ST_RUN, Now());
    else if (!running && (m_running || state == ST_ONE_OFF))
        Announce(OutputPin(), ST_ONE_OFF, Now());
    m_running = running;
}

MultiplierNode::MultiplierNode(std::string name, int32_t inputs) : CombinerNode(std::move(name), inputs, 1.0f) {}

void MultiplierNode::Process(int32_t offset, int32_t frames) {
    float* out = Buffer(OutputPin()) + offset;
    std::copy_n(Buffer(0) + offset, frames, out);
    for (int32_t i = 1; i < OutputPin(); ++i) {
        const float* in = Buffer(i) + offset;
        for (int32_t j = 0; j < frames; ++j) out[j] *= in[j];
    }
}

MixerNode::MixerNode(std::string name, int32_t inputs, std::vector<float> gains)
    : CombinerNode(std::move(name), inputs, 0.0f), m_gains(std::move(gains)) {
    if (m_gains.size() > static_cast<size_t>(inputs))
        throw HostError(Name() + ": " + std::to_string(m_gains.size()) + " gains for " + std::to_string(inputs) +
                        " inputs");
    m_gains.resize(static_cast<size_t>(inputs), 1.0f);
}

void MixerNode::Process(int32_t offset, int32_t frames) {
    float* out = Buffer(OutputPin()) + offset;
    std::fill_n(out, frames, 0.0f);
    for (int32_t i = 0; i < OutputPin(); ++i) {
        const float* in = Buffer(i) + offset;
        const float gain = m_gains[static_cast<size_t>(i)];
        for (int32_t j = 0; j < frames; ++j) out[j] += gain * in[j];
    }
}

}  // namespace vxhost
