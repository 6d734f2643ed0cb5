#include "Node.h"

#include <algorithm>
#include <cctype>

#include "HostError.h"
#include "SampleClock.h"

namespace vxhost {

namespace {

// A module that keeps scheduling events for the clock it is at would never
// let the clock move on; past this many deliveries at one clock the rest of
// that clock's events are dropped.
constexpr int kMaxDeliveriesPerClock = 65536;

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

void Node::SetValue(int32_t pin, double value) { m_values.at(static_cast<size_t>(pin)) = value; }

void Node::ScheduleValue(int32_t pin, uint64_t clock, double value) {
    NodeEvent e;
    e.time = clock;
    e.kind = NodeEvent::Kind::ValueChange;
    e.pin = pin;
    e.state = ST_ONE_OFF;
    e.value = value;
    Enqueue(e);
}

void Node::BindInput(int32_t pin, const float* buffer) {
    // Inputs are only read by a well-behaved module; the pointer is not
    // const because the module's pin member holds a plain float pointer.
    m_buffers.at(static_cast<size_t>(pin)) = const_cast<float*>(buffer);
}

bool Node::IsBound(int32_t pin) const {
    const size_t i = static_cast<size_t>(pin);
    return m_buffers.at(i) != nullptr && (m_own_buffers.size() <= i || m_buffers[i] != m_own_buffers[i].data());
}

void Node::Prepare(double sample_rate, int32_t block_size, AnnouncementRouter* router) {
    m_sample_rate = sample_rate;
    m_block_size = block_size;
    m_router = router;
    m_own_buffers.resize(m_pins.size());
    m_settled.assign(m_pins.size(), 0.0f);
    for (size_t i = 0; i < m_pins.size(); ++i) {
        if (m_pins[i].kind != PinKind::Audio) continue;
        const bool input = m_pins[i].direction == PinDirection::Input;
        m_own_buffers[i].assign(static_cast<size_t>(block_size), input ? static_cast<float>(m_values[i]) : 0.0f);
        // A wire bound before preparation keeps its source's buffer.
        if (m_buffers[i] == nullptr) m_buffers[i] = m_own_buffers[i].data();
    }
    // Announcements and events arrive during processing calls; room for
    // them up front keeps the calls free of allocation in the common case.
    m_queue.Reserve(256);
}

const float* Node::OutputBuffer(int32_t pin) const { return m_buffers.at(static_cast<size_t>(pin)); }

void Node::Enqueue(const NodeEvent& e) { m_queue.Push(e.time, e); }

void Node::Announce(int32_t output_pin, int32_t state, uint64_t clock) {
    if (output_pin < 0 || output_pin >= PinCount()) return;
    if (m_pins[static_cast<size_t>(output_pin)].direction != PinDirection::Output) return;
    m_output_state[static_cast<size_t>(output_pin)] = state;
    if (m_router != nullptr) m_router->Route(*this, output_pin, state, clock);
}

bool Node::AnyInputStreaming() const {
    for (size_t i = 0; i < m_pins.size(); ++i)
        if (m_pins[i].direction == PinDirection::Input && m_input_state[i] == ST_RUN) return true;
    return false;
}

void Node::OnPinStatus(int32_t, int32_t) {}
void Node::OnValueChange(int32_t) {}
void Node::OnPluginEvent(const VXEvent&) {}

void Node::RefillConstantInputs(int32_t frames) {
    // A module may scribble over an input buffer it does not own; an unwired
    // input is refreshed every block so the damage does not last.
    for (size_t i = 0; i < m_pins.size(); ++i) {
        if (m_pins[i].direction != PinDirection::Input || m_own_buffers[i].empty()) continue;
        if (m_buffers[i] != m_own_buffers[i].data()) continue;
        std::fill_n(m_own_buffers[i].begin(), frames, static_cast<float>(m_values[i]));
    }
}

void Node::RunBlock(uint64_t block_start, int32_t frames) {
    if (frames <= 0) return;
    if (frames > m_block_size) throw HostError("a block longer than the block size");
    m_block_start = block_start;
    RefillConstantInputs(frames);
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
            m_sleep_requested = false;
            ++m_process_calls;
            Process(position, end - position);
            if (m_sleep_requested && !AnyInputStreaming()) EnterSleep(end - 1);
        }
        position = end;
    }
    m_now = block_start + static_cast<uint64_t>(frames);
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
    if (m_pins[pin].direction != PinDirection::Input) return;
    if (e.kind == NodeEvent::Kind::ValueChange) {
        m_values[pin] = e.value;
        OnValueChange(e.pin);
    }
    // A change of an input's stream state is what wakes a sleeping module.
    m_sleeping = false;
    m_input_state[pin] = e.state;
    OnPinStatus(e.pin, e.state);
    if (e.state == ST_ONE_OFF) m_input_state[pin] = ST_STATIC;
}

void Node::EnterSleep(int32_t last_sample) {
    m_sleeping = true;
    for (size_t i = 0; i < m_pins.size(); ++i) {
        if (m_pins[i].direction != PinDirection::Output || m_buffers[i] == nullptr) continue;
        m_settled[i] = m_buffers[i][last_sample];
    }
}

void Node::PresentSettled(int32_t offset, int32_t frames) {
    for (size_t i = 0; i < m_pins.size(); ++i) {
        if (m_pins[i].direction != PinDirection::Output || m_buffers[i] == nullptr) continue;
        std::fill_n(m_buffers[i] + offset, frames, m_settled[i]);
    }
}

}  // namespace vxhost
