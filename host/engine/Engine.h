// The host engine: modules wired output pin to input pin, driven block by
// block in dependency order on one sample clock. Each module runs its whole
// block before the modules it feeds, so every announcement it makes reaches
// them in time to be delivered at its own sample.
#ifndef VXHOST_ENGINE_H
#define VXHOST_ENGINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Node.h"

namespace vxhost {

using NodeId = int32_t;

struct PinRef {
    NodeId node;
    int32_t pin;
};

struct Wire {
    PinRef from;  // an output
    PinRef to;    // an input
};

class Engine final : private AnnouncementRouter {
public:
    // HostError for a sample rate or block size no module could run at.
    Engine(double sample_rate, int32_t block_size);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    double SampleRate() const { return m_sample_rate; }
    int32_t BlockSize() const { return m_block_size; }

    // ---- Building, before Start ----
    // Module names are unique in a patch.
    NodeId Add(std::unique_ptr<Node> node);
    template <class T, class... Args>
    T& Emplace(Args&&... args) {
        auto node = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *node;
        Add(std::move(node));
        return ref;
    }
    // HostError for a wire that does not run from an audio output to a free
    // audio input, or that closes a cycle.
    void Connect(PinRef from, PinRef to);
    Node& At(NodeId id) const { return *m_nodes.at(static_cast<size_t>(id)); }
    NodeId Find(const std::string& name) const;  // -1 if none
    NodeId IdOf(const Node& node) const;
    int32_t NodeCount() const { return static_cast<int32_t>(m_nodes.size()); }
    std::string Describe(PinRef ref) const;  // "module.pin"

    // ---- Running ----
    // Fixes the order, gives every module its buffers, binds the wires and
    // opens the modules in order.
    void Start();
    // One block of `frames` samples (at most the block size) for every module.
    void Run(int32_t frames);
    uint64_t Clock() const { return m_clock; }
    // The samples `ref` produced in the last block.
    const float* Output(PinRef ref) const { return At(ref.node).OutputBuffer(ref.pin); }

private:
    struct Timer {
        uint64_t clock;
        int32_t slot;
    };

    void Route(const Node& from, int32_t output_pin, int32_t state, uint64_t clock) override;
    void Wake(int32_t slot) override;
    void LastBlock(uint64_t* start, int32_t* frames) const override;
    void WakeTimers(uint64_t block_end);
    bool Reaches(NodeId from, NodeId to) const;
    void CheckPin(PinRef ref) const;

    double m_sample_rate;
    int32_t m_block_size;
    std::vector<std::unique_ptr<Node>> m_nodes;
    std::vector<Wire> m_wires;
    // For each module and output pin: the inputs wired to it.
    std::vector<std::vector<std::vector<PinRef>>> m_fanout;
    std::vector<NodeId> m_order;
    // The modules in order (a module's slot is its place there), and for
    // each the slots of the modules it feeds, once each: those of slot s are
    // m_fed[m_fed_start[s]] up to m_fed[m_fed_start[s + 1]].
    std::vector<Node*> m_slots;
    // Per slot: the block in which the module last ran (Node::m_ran_cell).
    std::vector<uint64_t> m_ran;
    std::vector<int32_t> m_fed_start;
    std::vector<int32_t> m_fed;
    // One bit per slot: the modules the next block visits. A module that
    // would skip every block until something happens rests, its bit clear,
    // and costs nothing per block (a patch of many voices mostly rests).
    std::vector<uint64_t> m_awake;
    // Resting modules that must be visited again at a clock, soonest first.
    std::vector<Timer> m_timers;
    uint64_t m_clock = 0;
    int32_t m_last_frames = 0;
    bool m_started = false;
};

}  // namespace vxhost

#endif  // VXHOST_ENGINE_H
