#include "Node.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "HostError.h"
#include "SampleClock.h"

namespace vxhost {

namespace {

// A module that keeps scheduling events for the clock it is at would never
// let the clock move on; past this many deliveries at one clock the rest of
// that clock's events are dropped.
constexpr int kMaxDeliveriesPerClock = 65536;

bool SameBits(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

Node::Node(std::string name) : m_name(std::move(name)) {}

Node::~Node() = default;

void Node::AddPin(const NodePin& pin) {
    m_pins.push_back(pin);
    m_buffers.push_back(nullptr);
    m_values.push_back(pin.default_value);
    m_input_state.push_back(ST_STATIC);
    m_output_state.push_back(ST_STATIC);
    m_sources.push_back(nullptr);
    m_source_pins.push_back(-1);
    m_directions.push_back(pin.direction);
}

int32_t Node::FindPin(const std::string& name) const {
    for (size_t i = 0; i < m_pins.size(); ++i)
        if (m_pins[i].name == name) return static_cast<int32_t>(i);
    int32_t found = -1;
    const std::string wanted = Lower(name);
    for (size_t i = 0; i < m_pins.size(); ++i) {
        if (Lower(m_pins[i].name) != wanted) continue;
        if (found >= 0) return -1;
        found = static_cast<int32_t>(i);
    }
    return found;
}

std::string Node::PinNames() const {
    std::string names;
    for (const NodePin& pin : m_pins) {
        if (!names.empty()) names += ", ";
        names += pin.name;
    }
    return names;
}

void Node::SetValue(int32_t pin, double value) {
    m_values.at(static_cast<size_t>(pin)) = value;
    m_constant_extent = 0;
    if (m_resting) m_router->Wake(m_slot);
}

void Node::ScheduleValue(int32_t pin, uint64_t clock, double value) {
    NodeEvent e;
    e.time = clock;
    e.kind = NodeEvent::Kind::ValueChange;
    e.pin = pin;
    e.state = ST_ONE_OFF;
    e.value = value;
    Enqueue(e);
}

void Node::BindInput(int32_t pin, const float* buffer, const Node* source, int32_t source_pin) {
    // Inputs are only read by a well-behaved module; the pointer is not
    // const because the module's pin member holds a plain float pointer.
    m_buffers.at(static_cast<size_t>(pin)) = const_cast<float*>(buffer);
    m_sources.at(static_cast<size_t>(pin)) = source;
    m_source_pins.at(static_cast<size_t>(pin)) = source_pin;
    if (source != nullptr) {
        if (std::find(m_source_ran.begin(), m_source_ran.end(), source->m_ran_cell) == m_source_ran.end())
            m_source_ran.push_back(source->m_ran_cell);
    }
    RebuildConstantPins();
}

void Node::RebuildConstantPins() {
    m_constant_inputs.clear();
    for (size_t i = 0; i < m_pins.size() && i < m_own_buffers.size(); ++i) {
        if (m_pins[i].direction != PinDirection::Input || m_own_buffers[i].empty()) continue;
        if (m_buffers[i] == m_own_buffers[i].data())
            m_constant_inputs.push_back({m_own_buffers[i].data(), static_cast<float>(m_values[i]), i});
    }
}

bool Node::IsBound(int32_t pin) const {
    const size_t i = static_cast<size_t>(pin);
    return m_buffers.at(i) != nullptr && (m_own_buffers.size() <= i || m_buffers[i] != m_own_buffers[i].data());
}

void Node::Prepare(double sample_rate, int32_t block_size, AnnouncementRouter* router, int32_t slot) {
    m_sample_rate = sample_rate;
    m_block_size = block_size;
    m_router = router;
    m_slot = slot;
    m_own_buffers.resize(m_pins.size());
    m_settled.assign(m_pins.size(), 0.0f);
    m_settled_extent.assign(m_pins.size(), 0);
    m_all_settled = 0;
    m_constant_extent = block_size;
    m_output_pins.clear();
    m_constant_inputs.clear();
    for (size_t i = 0; i < m_pins.size(); ++i) {
        if (m_pins[i].kind != PinKind::Audio) continue;
        const bool input = m_pins[i].direction == PinDirection::Input;
        m_own_buffers[i].assign(static_cast<size_t>(block_size), input ? static_cast<float>(m_values[i]) : 0.0f);
        // A wire bound before preparation keeps its source's buffer.
        if (m_buffers[i] == nullptr) m_buffers[i] = m_own_buffers[i].data();
    }
    for (size_t i = 0; i < m_pins.size(); ++i) {
        if (m_buffers[i] == nullptr) continue;
        if (m_pins[i].direction == PinDirection::Output) m_output_pins.push_back(i);
    }
    RebuildConstantPins();
    // Announcements and events arrive during processing calls; room for
    // them up front keeps the calls free of allocation in the common case.
    m_queue.Reserve(256);
}

const float* Node::OutputBuffer(int32_t pin) const { return m_buffers.at(static_cast<size_t>(pin)); }

void Node::Enqueue(const NodeEvent& e) {
    m_queue.Push(e.time, e);
    if (m_resting) m_router->Wake(m_slot);
}

void Node::HoldUntil(uint64_t clock, int32_t frames) {
    m_hold_until = clock;
    m_hold_frames = frames;
}

// Sleeping with every output settled over the block, between steps, or
// following inputs whose sources all did nothing in this block: the block
// would write what the buffers hold already. Sources run before the modules
// they feed, so their skipping is known here.
inline bool Node::SkipsBlock(uint64_t block_start, int32_t frames) const {
    const uint64_t block_end = block_start + static_cast<uint64_t>(frames);
    if (!m_queue.Empty() && m_queue.Front().clock < block_end) return false;
    if (m_sleeping) return frames <= m_all_settled;
    if (frames <= m_hold_frames && block_end <= m_hold_until) return true;
    if (frames > m_held_frames || m_constant_extent < frames) return false;
    for (const uint64_t* ran : m_source_ran)
        if (*ran == block_start) return false;
    return true;
}

void Node::CatchUp() {
    if (!m_resting) return;
    m_router->LastBlock(&m_block_start, &m_block_frames);
    m_now = m_block_start + static_cast<uint64_t>(m_block_frames);
}

void Node::Announce(int32_t output_pin, int32_t state, uint64_t clock) {
    if (output_pin < 0 || output_pin >= PinCount()) return;
    if (m_directions[static_cast<size_t>(output_pin)] != PinDirection::Output) return;
    m_output_state[static_cast<size_t>(output_pin)] = state;
    if (m_router != nullptr) m_router->Route(*this, output_pin, state, clock);
}

bool Node::SettledHolds(int32_t pin, int32_t frames, float* value) const {
    if (pin < 0 || pin >= PinCount()) return false;
    const size_t i = static_cast<size_t>(pin);
    if (m_directions[i] != PinDirection::Output || m_settled_extent[i] < frames) return false;
    *value = m_settled[i];
    return true;
}

bool Node::UnwiredConstant(size_t i, int32_t frames, float* value) const {
    if (m_own_buffers[i].empty() || m_buffers[i] != m_own_buffers[i].data() || m_constant_extent < frames) return false;
    *value = static_cast<float>(m_values[i]);
    return true;
}

bool Node::AnyInputStreaming() const { return m_streaming > 0; }

void Node::OnPinStatus(int32_t, int32_t) {}
void Node::OnValueChange(int32_t) {}
void Node::OnPluginEvent(const VXEvent&) {}

// An unwired input holds its value from one block to the next; it is written
// again only when the value changed or a processing call was seen to write
// it (CheckConstantInputs), which a module may do to a buffer it does not
// own. Writing every input on every block would cost a voice of a few
// modules more than its own processing.
void Node::RefillConstantInputs(int32_t frames) {
    for (ConstantInput& input : m_constant_inputs) {
        input.value = static_cast<float>(m_values[input.pin]);
        std::fill_n(input.buffer, frames, input.value);
    }
    m_constant_extent = frames;
}

// A module that writes its input writes, as a rule, the whole window of the
// call, its ends included; the ends are what is checked, so the check costs
// nothing next to the call.
void Node::CheckConstantInputs(int32_t offset, int32_t frames) {
    const int32_t last = offset + frames - 1;
    for (const ConstantInput& input : m_constant_inputs)
        if (!SameBits(input.buffer[offset], input.value) || !SameBits(input.buffer[last], input.value))
            m_constant_extent = 0;
}

// Sleeping, and no event falls in the block: the module is not called, so
// its inputs need not be kept, and its outputs already hold their settled
// value once a whole block has presented it.
inline bool Node::QuietBlock(uint64_t block_end) const {
    return m_sleeping && (m_queue.Empty() || m_queue.Front().clock >= block_end);
}

inline void Node::ProcessCall(int32_t offset, int32_t frames) {
    m_sleep_requested = false;
    ++m_process_calls;
    Process(offset, frames);
    if (!m_constant_inputs.empty()) CheckConstantInputs(offset, frames);
    if (m_sleep_requested && !AnyInputStreaming()) EnterSleep(offset + frames - 1);
}

bool Node::RunBlock(uint64_t block_start, int32_t frames) {
    if (frames <= 0) return false;
    if (frames > m_block_size) throw HostError("a block longer than the block size");
    m_block_start = block_start;
    m_block_frames = frames;
    if (SkipsBlock(block_start, frames)) {
        m_now = block_start + static_cast<uint64_t>(frames);
        return false;
    }
    *m_ran_cell = block_start;
    if (QuietBlock(block_start + static_cast<uint64_t>(frames))) {
        if (frames > m_all_settled) PresentSettled(0, frames);
        m_now = block_start + static_cast<uint64_t>(frames);
        return true;
    }
    if (m_constant_extent < frames) RefillConstantInputs(frames);
    const uint64_t block_end = block_start + static_cast<uint64_t>(frames);
    // The usual block of a module at work: nothing queued falls in it.
    if (!m_sleeping && (m_queue.Empty() || m_queue.Front().clock >= block_end)) {
        m_now = block_start;
        ProcessCall(0, frames);
        m_now = block_end;
        return true;
    }
    if (m_whole_blocks && !m_sleeping) {
        m_now = block_start;
        DeliverDue();
        while (!m_queue.Empty() && m_queue.Front().clock < block_end) {
            m_now = m_queue.Front().clock;
            DeliverDue();
        }
        m_now = block_start;
        ProcessCall(0, frames);
        m_now = block_end;
        return true;
    }
    int32_t position = 0;
    while (position < frames) {
        m_now = block_start + static_cast<uint64_t>(position);
        DeliverDue();
        // Every event still queued lies after the present sample.
        const int64_t next =
            m_queue.Empty() ? frames
                            : static_cast<int64_t>(std::min<uint64_t>(m_queue.Front().clock - block_start, frames));
        const int32_t end = CallEnd(position, frames, next);
        if (m_sleeping) {
            PresentSettled(position, end - position);
        } else {
            ProcessCall(position, end - position);
        }
        position = end;
    }
    m_now = block_start + static_cast<uint64_t>(frames);
    return true;
}

void Node::DeliverDue() {
    int deliveries = 0;
    while (m_queue.DueBy(m_now)) {
        NodeEvent e = m_queue.Pop().item;
        if (++deliveries > kMaxDeliveriesPerClock) continue;
        if (e.time < m_now) {
            ++m_late_events;
            e.time = m_now;
        }
        Deliver(e);
    }
}

void Node::Deliver(NodeEvent& e) {
    if (e.kind == NodeEvent::Kind::Plugin) {
        e.plugin.time_stamp = static_cast<uint32_t>(m_now);
        OnPluginEvent(e.plugin);
        return;
    }
    if (e.pin < 0 || e.pin >= PinCount()) return;
    const size_t pin = static_cast<size_t>(e.pin);
    if (m_directions[pin] != PinDirection::Input) return;
    if (e.kind == NodeEvent::Kind::ValueChange) {
        m_values[pin] = e.value;
        m_constant_extent = 0;
        OnValueChange(e.pin);
    }
    // A change of an input's stream state is what wakes a sleeping module.
    m_sleeping = false;
    if (m_settled_hold) {
        m_settled_hold = false;
        m_hold_pin = -1;
        m_hold_frames_out = 0;
    }
    m_streaming += (e.state == ST_RUN ? 1 : 0) - (m_input_state[pin] == ST_RUN ? 1 : 0);
    m_input_state[pin] = e.state;
    OnPinStatus(e.pin, e.state);
    if (e.state == ST_ONE_OFF) m_input_state[pin] = ST_STATIC;
}

void Node::EnterSleep(int32_t last_sample) {
    m_sleeping = true;
    m_all_settled = 0;
    for (size_t i : m_output_pins) {
        m_settled[i] = m_buffers[i][last_sample];
        m_settled_extent[i] = 0;
    }
}

// Only the module itself writes its outputs, so samples that hold the
// settled value from the buffer's start on need no writing again.
void Node::PresentSettled(int32_t offset, int32_t frames) {
    int32_t all = INT32_MAX;
    for (size_t i : m_output_pins) {
        int32_t& extent = m_settled_extent[i];
        if (offset + frames > extent) {
            std::fill_n(m_buffers[i] + offset, frames, m_settled[i]);
            if (offset <= extent) extent = offset + frames;
        }
        all = std::min(all, extent);
    }
    m_all_settled = m_output_pins.empty() ? 0 : all;
    // A module of one output (a plug-in, as a rule) says what it holds
    // asleep through the fields the modules it feeds read first.
    if (m_output_pins.size() == 1 && (m_hold_pin < 0 || m_settled_hold)) {
        const size_t i = m_output_pins[0];
        m_settled_hold = true;
        m_hold_frames_out = m_settled_extent[i];
        m_hold_value = m_settled[i];
        m_hold_pin = static_cast<int32_t>(i);
    }
}

}  // namespace vxhost
