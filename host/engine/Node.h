// A module of a patch as the engine drives it: a plug-in instance or one of
// the host's own utility modules. The base class keeps what every module has
// in common: its pins and their buffers, the stream state of each input, a
// queue of events ordered by clock, and the loop that cuts each block at the
// queued clocks so that every event takes effect exactly at its sample,
// between two processing calls.
#ifndef VXHOST_NODE_H
#define VXHOST_NODE_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "EventQueue.h"
#include "Pin.h"
#include "VXHostAbi.h"

namespace vxhost {

// An event waiting in a module's queue.
struct NodeEvent {
    enum class Kind { PinStatus, ValueChange, Plugin };
    uint64_t time = 0;
    Kind kind = Kind::PinStatus;
    int32_t pin = 0;
    int32_t state = ST_STATIC;
    double value = 0.0;  // ValueChange: the new value of a value pin
    VXEvent plugin{};    // Plugin: the module's own event, as it handed it over
};

class Node;

// The engine as a module sees it: where its output announcements go (the
// engine forwards each one to every input wired to that output), and whom it
// tells when it has work again after resting.
class AnnouncementRouter {
public:
    virtual void Route(const Node& from, int32_t output_pin, int32_t state, uint64_t clock) = 0;
    // The module in `slot` rests and has been given work: visit it again.
    virtual void Wake(int32_t slot) = 0;
    // The engine's last block, which a resting module was not told about.
    virtual void LastBlock(uint64_t* start, int32_t* frames) const = 0;

protected:
    ~AnnouncementRouter() = default;
};

class Engine;

class Node {
public:
    explicit Node(std::string name);
    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const std::string& Name() const { return m_name; }
    // What kind of module this is, for messages ("sumtone", "multiply").
    virtual std::string Kind() const = 0;
    const std::vector<NodePin>& Pins() const { return m_pins; }
    int32_t PinCount() const { return static_cast<int32_t>(m_pins.size()); }
    // The pin called `name`: an exact match, else the only match ignoring
    // case; -1 when there is none (or the case-blind match is ambiguous).
    int32_t FindPin(const std::string& name) const;
    std::string PinNames() const;  // "a, b, c" for messages

    // ---- Set-up, before Start ----
    // The constant an unwired audio input carries, or a value pin's value.
    void SetValue(int32_t pin, double value);
    // A value pin takes `value` at `clock`; the module is told at that clock.
    void ScheduleValue(int32_t pin, uint64_t clock, double value);
    // `source` and its output pin, when given, let the module tell whether
    // the input holds still (InputConstant).
    void BindInput(int32_t pin, const float* buffer, const Node* source = nullptr, int32_t source_pin = -1);
    bool IsBound(int32_t pin) const;

    // ---- Run by the engine ----
    // `slot` is the module's place in the engine's order, by which it asks to
    // be woken.
    void Prepare(double sample_rate, int32_t block_size, AnnouncementRouter* router, int32_t slot = -1);
    // Opens the module; inputs are bound by now.
    virtual void Start() {}
    // False when the module skipped the block: it wrote nothing.
    bool RunBlock(uint64_t block_start, int32_t frames);
    // After a block: true when the module would skip every block to come
    // (of up to the block size) until an event is queued for it, one of its
    // sources writes, a value is set, or a block ends after *wake_clock. The
    // module then rests and the engine leaves it alone until one of those.
    bool Rest(uint64_t* wake_clock);
    void Enqueue(const NodeEvent& e);
    const float* OutputBuffer(int32_t pin) const;
    // After the module's block: true when output `pin` holds one value,
    // stored in *value, over the block's first `frames` samples (a sleeping
    // module's settled output, a step source between its steps, a combiner
    // of held inputs, a product with a zero). What reads it may then skip
    // work. Asked of many modules each block, so it reads only fields.
    bool HoldsConstant(int32_t pin, int32_t frames, float* value) const {
        if (pin == m_hold_pin && frames <= m_hold_frames_out) {
            *value = m_hold_value;
            return true;
        }
        return m_sleeping && SettledHolds(pin, frames, value);
    }

    // ---- Observation ----
    // The engine leaves the module alone until it has work (see Rest).
    bool Resting() const { return m_resting; }
    int32_t InputState(int32_t pin) const { return m_input_state.at(static_cast<size_t>(pin)); }
    int32_t OutputState(int32_t pin) const { return m_output_state.at(static_cast<size_t>(pin)); }
    bool Sleeping() const { return m_sleeping; }
    uint64_t ProcessCalls() const { return m_process_calls; }
    // Events that came for a clock the module had already processed and
    // were delivered at the first sample still to come.
    uint64_t LateEvents() const { return m_late_events; }

protected:
    void AddPin(const NodePin& pin);
    double SampleRate() const { return m_sample_rate; }
    int32_t BlockSize() const { return m_block_size; }
    uint64_t Now() const { return m_now; }
    uint64_t BlockStart() const { return m_block_start; }
    int32_t BlockFrames() const { return m_block_frames; }
    // The buffer of an audio pin: its own for outputs and unwired inputs,
    // the source's for wired inputs.
    float* Buffer(int32_t pin) const { return m_buffers[static_cast<size_t>(pin)]; }
    double Value(int32_t pin) const { return m_values[static_cast<size_t>(pin)]; }

    void Announce(int32_t output_pin, int32_t state, uint64_t clock);
    // A processing call asks not to be called again; honoured after the
    // call unless an input is streaming.
    void RequestSleep() { m_sleep_requested = true; }
    bool AnyInputStreaming() const;
    // Input `pin` holds one value over the block's first `frames` samples:
    // an unwired input, or one whose source HoldsConstant.
    bool InputConstant(int32_t pin, int32_t frames, float* value) const {
        const size_t i = static_cast<size_t>(pin);
        if (const Node* source = m_sources[i]) return source->HoldsConstant(m_source_pins[i], frames, value);
        return UnwiredConstant(i, frames, value);
    }
    // The module's outputs stay as they are up to `clock` (exclusive), over
    // blocks of up to `frames` samples, unless an event comes: those blocks
    // are skipped. A step source between its steps says so.
    void HoldUntil(uint64_t clock, int32_t frames);
    // The outputs follow the inputs alone and were computed from inputs that
    // each held one value over blocks of up to `frames` samples (0: they
    // were not): a block in which every wired source was skipped and no
    // event comes is skipped too.
    void HoldWhileInputsHold(int32_t frames) { m_held_frames = frames; }
    // Output `pin` holds `value` over the buffer's first `frames` samples
    // (0: it does not), whether or not the module sleeps; what HoldsConstant
    // answers for that pin, kept where the modules it feeds read it cheaply.
    void OutputHolds(int32_t pin, int32_t frames, float value) {
        m_hold_pin = pin;
        m_hold_frames_out = frames;
        m_hold_value = value;
    }
    // The module's output at a sample follows its inputs at that sample
    // alone, and events change only what it announces: its blocks are not
    // cut at events. Each event is delivered at its clock, then the whole
    // block is processed in one call (a mixer that many voices announce to
    // would otherwise run in pieces).
    void ProcessWholeBlocks() { m_whole_blocks = true; }
    // A resting module takes the engine's present clock before it answers
    // a call made between blocks.
    void CatchUp();

    virtual void Process(int32_t offset, int32_t frames) = 0;
    // An input's stream state changed; Now() is the clock of the change.
    virtual void OnPinStatus(int32_t pin, int32_t state);
    // A value pin's value changed (already stored in Value(pin)).
    virtual void OnValueChange(int32_t pin);
    virtual void OnPluginEvent(const VXEvent& e);

private:
    friend class Engine;

    bool SettledHolds(int32_t pin, int32_t frames, float* value) const;
    bool UnwiredConstant(size_t pin, int32_t frames, float* value) const;
    void Deliver(NodeEvent& e);
    void DeliverDue();
    void EnterSleep(int32_t last_sample);
    void PresentSettled(int32_t offset, int32_t frames);
    void RefillConstantInputs(int32_t frames);
    void CheckConstantInputs(int32_t offset, int32_t frames);
    bool QuietBlock(uint64_t block_end) const;
    bool SkipsBlock(uint64_t block_start, int32_t frames) const;
    void RebuildConstantPins();
    void ProcessCall(int32_t offset, int32_t frames);

    // What every block reads and writes comes first, in as few cache lines
    // as will hold it: a patch of many voices visits many modules a block.
    EventQueue<uint64_t, NodeEvent> m_queue;
    AnnouncementRouter* m_router = nullptr;
    uint64_t m_now = 0;
    uint64_t m_block_start = 0;
    uint64_t m_hold_until = 0;
    // block_start of the last block not skipped; in an engine, kept in the
    // engine's array of them, where the modules this one feeds look it up
    // without touching this module.
    uint64_t m_ran_block = UINT64_MAX;
    uint64_t* m_ran_cell = &m_ran_block;
    // The earliest clock the engine has been asked to wake the module after.
    uint64_t m_timer = UINT64_MAX;
    uint64_t m_process_calls = 0;
    int32_t m_block_size = 0;
    int32_t m_block_frames = 0;
    int32_t m_hold_frames = 0;
    int32_t m_held_frames = 0;
    // The smallest extent of m_settled_extent, so that a quiet block can tell
    // at once.
    int32_t m_all_settled = 0;
    // The leading samples of the unwired inputs known to hold their values.
    int32_t m_constant_extent = 0;
    int32_t m_slot = -1;
    int32_t m_hold_pin = -1;
    int32_t m_hold_frames_out = 0;
    float m_hold_value = 0.0f;
    // Inputs whose stream state is ST_RUN.
    int32_t m_streaming = 0;
    bool m_resting = false;
    bool m_sleeping = false;
    bool m_sleep_requested = false;
    bool m_whole_blocks = false;
    // The hold fields tell a sleeping module's settled output (cleared when
    // it wakes).
    bool m_settled_hold = false;

    std::string m_name;
    std::vector<NodePin> m_pins;
    std::vector<float*> m_buffers;
    std::vector<std::vector<float>> m_own_buffers;
    std::vector<double> m_values;
    std::vector<int32_t> m_input_state;
    std::vector<int32_t> m_output_state;
    std::vector<float> m_settled;
    // Per output pin: the leading samples known to hold m_settled.
    std::vector<int32_t> m_settled_extent;
    // Fixed at Prepare: the output pins with a buffer, and the audio inputs
    // with a buffer of their own (the unwired ones) with the value each was
    // last filled with, which the per-block work goes through rather than
    // every pin.
    struct ConstantInput {
        float* buffer;
        float value;
        size_t pin;
    };
    std::vector<size_t> m_output_pins;
    std::vector<ConstantInput> m_constant_inputs;
    std::vector<const Node*> m_sources;
    std::vector<int32_t> m_source_pins;
    std::vector<PinDirection> m_directions;
    // The m_ran_cell of every wired source, once each.
    std::vector<const uint64_t*> m_source_ran;
    double m_sample_rate = 44100.0;
    uint64_t m_late_events = 0;
};

// What SkipsBlock asks, for every block to come: sleeping with its outputs
// settled over any block; between steps over any block, up to the next step;
// or following inputs that hold, until a source writes (the engine wakes the
// modules a writing source feeds). A queued event ends the rest at its clock.
// Asked of every module the engine visits, each block, hence inline.
inline bool Node::Rest(uint64_t* wake_clock) {
    if (m_router == nullptr) return false;
    uint64_t wake = m_queue.Empty() ? UINT64_MAX : m_queue.Front().clock;
    if (m_sleeping) {
        if (m_all_settled < m_block_size) return false;
    } else if (m_hold_frames >= m_block_size) {
        wake = std::min(wake, m_hold_until);
    } else if (m_held_frames < m_block_size || m_constant_extent < m_block_size) {
        return false;
    }
    m_resting = true;
    *wake_clock = wake;
    return true;
}

}  // namespace vxhost

#endif  // VXHOST_NODE_H
