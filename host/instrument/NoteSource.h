// The host module that turns notes into the signals a voice's inputs take:
// a gate, a pitch and a velocity. The instrument hands it changes stamped
// with their clock ahead of each block; like a step list, it announces each
// change as a single change at its sample, which is what wakes a sleeping
// voice.
#ifndef VXHOST_NOTESOURCE_H
#define VXHOST_NOTESOURCE_H

#include <vector>

#include "Node.h"

namespace vxhost {

class NoteSourceNode : public Node {
public:
    enum Output : int32_t { kGate = 0, kPitch = 1, kVelocity = 2, kOutputCount = 3 };

    // Room for `capacity` pending changes, so that queueing never allocates.
    NoteSourceNode(std::string name, size_t capacity);
    std::string Kind() const override { return "notes"; }

    // Output `output` takes `value` from `clock` on. Changes come in clock
    // order; one stamped before the last queued change takes effect with it.
    // Returns false, and drops the change, when the queue is full.
    bool Queue(int32_t output, uint64_t clock, float value);
    // The value an output holds once every queued change has taken effect.
    float Latest(int32_t output) const { return m_latest[output]; }

protected:
    void Process(int32_t offset, int32_t frames) override;

private:
    struct Change {
        uint64_t clock;
        int32_t output;
        float value;
    };
    std::vector<Change> m_ring;
    size_t m_head = 0;
    size_t m_count = 0;
    uint64_t m_last_clock = 0;
    float m_value[kOutputCount] = {0.0f, 0.5f, 0.0f};
    float m_latest[kOutputCount] = {0.0f, 0.5f, 0.0f};
};

}  // namespace vxhost

#endif  // VXHOST_NOTESOURCE_H
