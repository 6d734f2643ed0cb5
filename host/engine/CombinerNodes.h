// The host's own combining modules: a multiplier (a voltage-controlled
// amplifier when one input is an envelope) and a mixer with a gain per input.
// Their output streams while any input streams; it is announced as changed
// once whenever an input changes once and nothing streams.
#ifndef VXHOST_COMBINERNODES_H
#define VXHOST_COMBINERNODES_H

#include <vector>

#include "Node.h"

namespace vxhost {

class CombinerNode : public Node {
public:
    int32_t OutputPin() const { return PinCount() - 1; }

protected:
    // Inputs in1..inN, each unwired one holding `idle_value`; then "out".
    CombinerNode(std::string name, int32_t inputs, float idle_value);
    void OnPinStatus(int32_t pin, int32_t state) override;
    // A block whose inputs all hold the values they held in the last block,
    // which were constant then too, leaves the output as it is; any other
    // call combines.
    void Process(int32_t offset, int32_t frames) final;
    // Writes the output over the call's samples; true when it wrote one
    // value at every one of them.
    virtual bool Combine(int32_t offset, int32_t frames) = 0;
    // InputConstant, for the call being combined: a whole-block call has
    // asked every input once already.
    bool InputHolds(int32_t pin, int32_t frames, float* value) const {
        if (!m_inputs_known || frames != BlockFrames()) return InputConstant(pin, frames, value);
        const auto k = static_cast<size_t>(pin);
        if (((m_input_holds >> k) & 1u) == 0) return false;
        *value = m_inputs_now[k];
        return true;
    }

private:
    bool m_running = false;
    // The last block's inputs, when each held one value over the whole block.
    std::vector<float> m_held_inputs;
    std::vector<float> m_inputs_now;
    // Bit k: input k held one value over the call, asked once for a
    // whole-block call (m_inputs_known), its value in m_inputs_now. A
    // combiner has at most 64 inputs.
    uint64_t m_input_holds = 0;
    bool m_inputs_known = false;
    bool m_holds = false;
    int32_t m_held_frames = 0;
};

class MultiplierNode : public CombinerNode {
public:
    MultiplierNode(std::string name, int32_t inputs = 2);
    std::string Kind() const override { return "multiply"; }

protected:
    bool Combine(int32_t offset, int32_t frames) override;

private:
    bool CombineZero(int32_t frames);

    // The signed zero the output holds over its first m_zero_frames samples.
    float m_zero = 0.0f;
    int32_t m_zero_frames = 0;
};

class MixerNode : public CombinerNode {
public:
    // One gain per input; missing gains are 1.
    MixerNode(std::string name, int32_t inputs, std::vector<float> gains = {});
    std::string Kind() const override { return "mix"; }

protected:
    bool Combine(int32_t offset, int32_t frames) override;

private:
    std::vector<float> m_gains;
    // The inputs a call adds and their gains, gathered before the passes.
    std::vector<const float*> m_sum_inputs;
    std::vector<float> m_sum_gains;
};

}  // namespace vxhost

#endif  // VXHOST_COMBINERNODES_H
