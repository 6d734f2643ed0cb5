// The host's own signal sources. Each keeps the stream-state promise a
// plug-in output makes: a constant never changes, so it says nothing; a step
// sequence announces each step as a single change at its sample; a stream of
// samples announces that it runs from its first sample and settles at its end.
#ifndef VXHOST_SOURCENODES_H
#define VXHOST_SOURCENODES_H

#include <vector>

#include "Node.h"

namespace vxhost {

class ConstantNode : public Node {
public:
    ConstantNode(std::string name, float value);
    std::string Kind() const override { return "constant"; }

protected:
    void Process(int32_t offset, int32_t frames) override;

private:
    float m_value;
};

struct StepPoint {
    uint64_t clock;
    float value;
};

// Holds `start` until the first point, then each point's value from its
// clock on. Only the points are changes; the start value is announced by none.
class StepNode : public Node {
public:
    StepNode(std::string name, std::vector<StepPoint> points, float start = 0.0f);  // points in clock order
    std::string Kind() const override { return "steps"; }

protected:
    void Process(int32_t offset, int32_t frames) override;

private:
    std::vector<StepPoint> m_points;
    size_t m_next = 0;
    float m_value;
    // The leading samples of the buffer known to hold m_value, and the
    // samples from the last step written on, which hold it too.
    int32_t m_extent = 0;
    int32_t m_tail_from = 0;
    int32_t m_tail_to = 0;
};

// Plays a recording once, then holds 0.
class SampleNode : public Node {
public:
    SampleNode(std::string name, std::vector<float> samples);
    std::string Kind() const override { return "samples"; }

protected:
    void Process(int32_t offset, int32_t frames) override;

private:
    std::vector<float> m_samples;
    bool m_announced_start = false;
    bool m_announced_end = false;
};

}  // namespace vxhost

#endif  // VXHOST_SOURCENODES_H
