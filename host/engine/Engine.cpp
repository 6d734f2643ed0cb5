#include "Engine.h"

#include <algorithm>
#include <cmath>
#include <queue>

#include "HostError.h"

namespace vxhost {

namespace {

constexpr int32_t kMaxBlockSize = 1 << 20;
// Rates outside this range are no audio rate; they are refused before any
// module divides by them.
constexpr double kMinSampleRate = 1.0;
constexpr double kMaxSampleRate = 10.0e6;

}  // namespace

Engine::Engine(double sample_rate, int32_t block_size) : m_sample_rate(sample_rate), m_block_size(block_size) {
    if (!std::isfinite(sample_rate) || sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate)
        throw HostError("sample rate must be between 1 and 10000000 Hz");
    if (block_size < 1 || block_size > kMaxBlockSize)
        throw HostError("block size must be between 1 and " + std::to_string(kMaxBlockSize) + " samples");
}

Engine::~Engine() {
    // Modules fed by others go first, so no module outlives a buffer it reads.
    for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) m_nodes[static_cast<size_t>(*it)].reset();
    m_nodes.clear();
}

NodeId Engine::Add(std::unique_ptr<Node> node) {
    if (m_started) throw HostError("modules cannot be added to a running patch");
    if (Find(node->Name()) >= 0) throw HostError("two modules are called \"" + node->Name() + "\"");
    m_nodes.push_back(std::move(node));
    m_fanout.emplace_back(static_cast<size_t>(m_nodes.back()->PinCount()));
    return static_cast<NodeId>(m_nodes.size() - 1);
}

NodeId Engine::Find(const std::string& name) const {
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (m_nodes[i]->Name() == name) return static_cast<NodeId>(i);
    return -1;
}

NodeId Engine::IdOf(const Node& node) const {
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (m_nodes[i].get() == &node) return static_cast<NodeId>(i);
    return -1;
}

std::string Engine::Describe(PinRef ref) const {
    const Node& node = At(ref.node);
    return node.Name() + "." + node.Pins().at(static_cast<size_t>(ref.pin)).name;
}

void Engine::CheckPin(PinRef ref) const {
    if (ref.node < 0 || ref.node >= NodeCount()) throw HostError("a wire names a module that does not exist");
    if (ref.pin < 0 || ref.pin >= At(ref.node).PinCount())
        throw HostError("a wire names pin " + std::to_string(ref.pin) + " of " + At(ref.node).Name() +
                        ", which does not exist");
}

void Engine::Connect(PinRef from, PinRef to) {
    if (m_started) throw HostError("wires cannot be added to a running patch");
    CheckPin(from);
    CheckPin(to);
    const NodePin& out = At(from.node).Pins()[static_cast<size_t>(from.pin)];
    const NodePin& in = At(to.node).Pins()[static_cast<size_t>(to.pin)];
    const std::string wire = Describe(from) + " -> " + Describe(to);
    if (out.direction == PinDirection::Output && in.direction == PinDirection::Output)
        throw HostError("wire " + wire + " connects two outputs");
    if (out.direction != PinDirection::Output)
        throw HostError("wire " + wire + " starts at an input; a wire runs from an output to an input");
    if (in.direction != PinDirection::Input) throw HostError("wire " + wire + " must end at an input");
    if (out.kind != PinKind::Audio || in.kind != PinKind::Audio)
        throw HostError("wire " + wire + ": only audio pins can be wired; give " + Describe(to) + " a value instead");
    for (const Wire& w : m_wires)
        if (w.to.node == to.node && w.to.pin == to.pin)
            throw HostError("wire " + wire + ": " + Describe(to) + " is already wired from " + Describe(w.from) +
                            " (use a mix module to combine signals)");
    if (from.node == to.node || Reaches(to.node, from.node)) throw HostError("wire " + wire + " makes a cycle");
    m_wires.push_back({from, to});
    m_fanout[static_cast<size_t>(from.node)][static_cast<size_t>(from.pin)].push_back(to);
}

bool Engine::Reaches(NodeId from, NodeId to) const {
    std::vector<bool> seen(m_nodes.size(), false);
    std::vector<NodeId> pending{from};
    while (!pending.empty()) {
        const NodeId at = pending.back();
        pending.pop_back();
        if (at == to) return true;
        if (seen[static_cast<size_t>(at)]) continue;
        seen[static_cast<size_t>(at)] = true;
        for (const auto& targets : m_fanout[static_cast<size_t>(at)])
            for (const PinRef& t : targets) pending.push_back(t.node);
    }
    return false;
}

void Engine::Start() {
    if (m_started) return;
    // Dependency order; among modules that are ready, the one added first.
    std::vector<int> waiting(m_nodes.size(), 0);
    for (const Wire& w : m_wires) ++waiting[static_cast<size_t>(w.to.node)];
    std::priority_queue<NodeId, std::vector<NodeId>, std::greater<NodeId>> ready;
    for (size_t i = 0; i < m_nodes.size(); ++i)
        if (waiting[i] == 0) ready.push(static_cast<NodeId>(i));
    while (!ready.empty()) {
        const NodeId id = ready.top();
        ready.pop();
        m_order.push_back(id);
        for (const auto& targets : m_fanout[static_cast<size_t>(id)])
            for (const PinRef& t : targets)
                if (--waiting[static_cast<size_t>(t.node)] == 0) ready.push(t.node);
    }
    std::vector<int32_t> slot_of(m_nodes.size(), -1);
    for (size_t slot = 0; slot < m_order.size(); ++slot) {
        slot_of[static_cast<size_t>(m_order[slot])] = static_cast<int32_t>(slot);
        m_slots.push_back(m_nodes[static_cast<size_t>(m_order[slot])].get());
    }
    m_fed_start.assign(1, 0);
    for (size_t slot = 0; slot < m_slots.size(); ++slot) {
        const size_t first = m_fed.size();
        for (const Wire& w : m_wires) {
            if (slot_of[static_cast<size_t>(w.from.node)] != static_cast<int32_t>(slot)) continue;
            const int32_t to = slot_of[static_cast<size_t>(w.to.node)];
            if (std::find(m_fed.begin() + static_cast<std::ptrdiff_t>(first), m_fed.end(), to) == m_fed.end())
                m_fed.push_back(to);
        }
        m_fed_start.push_back(static_cast<int32_t>(m_fed.size()));
    }
    m_awake.assign((m_slots.size() + 63) / 64, 0);
    for (size_t slot = 0; slot < m_slots.size(); ++slot) m_awake[slot / 64] |= uint64_t{1} << (slot % 64);
    // A resting module has at most one timer that is not stale; room for
    // a few stale ones each keeps the blocks free of allocation.
    m_timers.reserve(4 * m_slots.size() + 16);
    m_ran.assign(m_slots.size(), UINT64_MAX);
    for (size_t slot = 0; slot < m_slots.size(); ++slot) {
        m_slots[slot]->Prepare(m_sample_rate, m_block_size, this, static_cast<int32_t>(slot));
        m_slots[slot]->m_ran_cell = &m_ran[slot];
    }
    for (const Wire& w : m_wires)
        At(w.to.node).BindInput(w.to.pin, At(w.from.node).OutputBuffer(w.from.pin), &At(w.from.node), w.from.pin);
    m_started = true;
    for (NodeId id : m_order) At(id).Start();
}

namespace {

// The heap keeps the soonest timer on top.
struct Later {
    template <class T>
    bool operator()(const T& a, const T& b) const {
        return a.clock > b.clock;
    }
};

}  // namespace

// Modules are visited in order, the awake ones only: a module that writes
// wakes those it feeds, which come later in the order, so they are visited
// in the same block.
void Engine::Run(int32_t frames) {
    if (!m_started) Start();
    if (frames <= 0) return;
    if (frames > m_block_size) throw HostError("a block longer than the block size");
    const uint64_t block_end = m_clock + static_cast<uint64_t>(frames);
    WakeTimers(block_end);
    for (size_t word = 0; word < m_awake.size(); ++word) {
        uint64_t after = ~uint64_t{0};
        while (const uint64_t bits = m_awake[word] & after) {
            const int bit = __builtin_ctzll(bits);
            after = ~uint64_t{1} << bit;  // the bits above this one
            const auto slot = static_cast<int32_t>(word * 64 + static_cast<size_t>(bit));
            Node& node = *m_slots[static_cast<size_t>(slot)];
            if (node.RunBlock(m_clock, frames)) {
                const auto from = static_cast<size_t>(m_fed_start[static_cast<size_t>(slot)]);
                const auto to = static_cast<size_t>(m_fed_start[static_cast<size_t>(slot) + 1]);
                for (size_t i = from; i < to; ++i) Wake(m_fed[i]);
            }
            uint64_t wake = UINT64_MAX;
            if (!node.Rest(&wake)) continue;
            m_awake[word] &= ~(uint64_t{1} << bit);
            if (wake < node.m_timer) {
                node.m_timer = wake;
                m_timers.push_back({wake, slot});
                std::push_heap(m_timers.begin(), m_timers.end(), Later());
            }
        }
    }
    m_clock = block_end;
    m_last_frames = frames;
}

// A module whose next step, or queued event, falls before the block's end
// is visited in the block. A timer left over from an earlier rest may wake
// a module early; it then skips the block and rests again.
void Engine::WakeTimers(uint64_t block_end) {
    while (!m_timers.empty() && m_timers.front().clock < block_end) {
        std::pop_heap(m_timers.begin(), m_timers.end(), Later());
        const Timer timer = m_timers.back();
        m_timers.pop_back();
        Node& node = *m_slots[static_cast<size_t>(timer.slot)];
        if (node.m_timer == timer.clock) node.m_timer = UINT64_MAX;
        Wake(timer.slot);
    }
}

// A module's bit is clear exactly while it rests, so an awake module is
// told apart without touching it.
void Engine::Wake(int32_t slot) {
    uint64_t& word = m_awake[static_cast<size_t>(slot) / 64];
    const uint64_t bit = uint64_t{1} << (static_cast<size_t>(slot) % 64);
    if ((word & bit) != 0) return;
    word |= bit;
    m_slots[static_cast<size_t>(slot)]->m_resting = false;
}

void Engine::LastBlock(uint64_t* start, int32_t* frames) const {
    *start = m_clock - static_cast<uint64_t>(m_last_frames);
    *frames = m_last_frames;
}

void Engine::Route(const Node& from, int32_t output_pin, int32_t state, uint64_t clock) {
    if (from.m_slot < 0 || static_cast<size_t>(from.m_slot) >= m_order.size()) return;
    const NodeId id = m_order[static_cast<size_t>(from.m_slot)];
    if (m_nodes[static_cast<size_t>(id)].get() != &from) return;
    NodeEvent e;
    e.time = clock;
    e.kind = NodeEvent::Kind::PinStatus;
    e.state = state;
    for (const PinRef& target : m_fanout[static_cast<size_t>(id)][static_cast<size_t>(output_pin)]) {
        e.pin = target.pin;
        At(target.node).Enqueue(e);
    }
}

}  // namespace vxhost
