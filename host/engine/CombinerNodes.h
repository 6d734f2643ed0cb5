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

private:
    bool m_running = false;
};

class MultiplierNode : public CombinerNode {
public:
    MultiplierNode(std::string name, int32_t inputs = 2);
    std::string Kind() const override { return "multiply"; }

protected:
    void Process(int32_t offset, int32_t frames) override;
};

class MixerNode : public CombinerNode {
public:
    // One gain per input; missing gains are 1.
    MixerNode(std::string name, int32_t inputs, std::vector<float> gains = {});
    std::string Kind() const override { return "mix"; }

protected:
    void Process(int32_t offset, int32_t frames) override;

private:
    std::vector<float> m_gains;
};

}  // namespace vxhost

#endif  // VXHOST_COMBINERNODES_H
