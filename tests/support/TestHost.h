// An in-process host for one plug-in instance that plays the host's side of
// the contract exactly and records every call the instance makes, so tests
// can assert on opcodes, arguments and their order.
//
// The contract's rules (pin binding, settings, the event queue, cutting calls
// at event clocks) are the driver's; the test host adds one buffer per host
// pin (block_size samples, all starting at the same clock), answers the
// callback's opcodes and records every call. Unlike the engine it calls the
// routine the record holds at each call, so tests see what an instance does
// with a routine it never reported.
#ifndef VXHOST_TESTHOST_H
#define VXHOST_TESTHOST_H

#include <cstdint>
#include <string>
#include <vector>

#include "EventQueue.h"
#include "HostCall.h"
#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "VXHostAbi.h"

namespace vxhost {

// A pin as the host binds it: its number and its description.
struct HostPin {
    int32_t number;
    int32_t declaration;  // declaration index the description came from, -1 if duplicated
    VXPinProperties properties;
};

class TestHost final : public PluginInstance::Hooks {
public:
    explicit TestHost(const PluginLibrary& library);
    ~TestHost();  // closes the instance if it is still open
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // ---- Settings, before Create/Open ----
    // The pin count answered to HC_PIN_COUNT; by default the number of pins
    // the module declares for its own side.
    void SetPinCount(int32_t count) {
        m_pin_count = count;
        m_pin_count_set = true;
    }
    // Creates the instance without a host callback.
    void UseNullCallback() { m_null_callback = true; }
    // Answer to HC_PIN_QUERY.
    void SetQueryAnswer(VXIntPtr answer) { m_query_answer = answer; }

    // ---- Lifecycle ----
    // makeModule(index, profile, callback, this). True when a record came back.
    bool Create(int32_t index = 0, int32_t profile = 1);
    // Create (if needed), OP_SAMPLE_RATE, OP_BLOCK_SIZE, OP_OPEN, then binds
    // the pins' variables to the host's buffers and settings.
    void Open(float sample_rate = 44100.0f, int32_t block_size = 256);
    VXIntPtr Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    void Close();

    VXPluginRecord* Record() const { return m_instance.Record(); }
    int32_t PinCount() const { return m_pin_count; }
    int32_t BlockSize() const { return m_block_size; }
    const std::vector<HostPin>& Pins() const { return m_pins; }
    // Host pin number of the pin with this display name, -1 if none.
    int32_t PinNumber(const std::string& name) const;

    // ---- Buffers and settings ----
    std::vector<float>& Buffer(int32_t pin) { return m_buffers.at(static_cast<size_t>(pin)); }
    void Fill(int32_t pin, float value);
    // Writes a setting value into the member of a DT_ENUM, DT_BOOL, DT_FLOAT
    // or DT_INT pin.
    void SetSetting(int32_t pin, double value);

    // ---- Time ----
    uint32_t Clock() const { return m_clock; }
    uint32_t BlockStart() const { return m_block_start; }
    // Starts a new block at the current clock (buffers keep their contents).
    void BeginBlock();
    // One processing call through the record, with the clock at
    // block start + buffer_offset during the call.
    void Process(int32_t buffer_offset, int32_t sample_frames);
    // Delivers an event through the record at its time stamp (the clock is
    // set to it first).
    void Deliver(VXEvent e);
    // A stream-state notification for `pin` at block start + offset.
    void SendPinStatus(int32_t pin, int32_t state, int32_t offset = 0);
    // A whole block of `frames` samples from the current block start: queued
    // events are delivered at their sample and processing calls are cut
    // there. Starts the next block afterwards.
    void RunBlock(int32_t frames);
    // Honour HC_SLEEP in RunBlock: stop calling while asleep, until a
    // notification arrives.
    void SetHonourSleep(bool honour) { m_honour_sleep = honour; }
    bool Sleeping() const { return m_sleeping; }

    // ---- Recorded traffic ----
    const std::vector<HostCall>& Calls() const { return m_calls; }
    std::vector<HostCall> CallsWith(int32_t opcode) const;
    void ClearCalls() { m_calls.clear(); }
    int ProcessChanges() const;  // HC_PROCESS_CHANGED count
    int SleepRequests() const;   // HC_SLEEP count

private:
    VXIntPtr Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                    float opt) override;
    void BindPins();
    void WriteBufferAddresses();

    const PluginLibrary& m_library;
    PluginInstance m_instance{*this};
    bool m_null_callback = false;
    bool m_pin_count_set = false;
    int32_t m_pin_count = 0;
    int32_t m_block_size = 256;
    VXIntPtr m_query_answer = 0;
    uint32_t m_clock = 0;
    uint32_t m_block_start = 0;
    bool m_honour_sleep = false;
    bool m_sleeping = false;
    std::vector<HostPin> m_pins;
    std::vector<std::vector<float>> m_buffers;
    EventQueue<uint32_t, VXEvent> m_queue;
    std::vector<HostCall> m_calls;
};

}  // namespace vxhost

#endif  // VXHOST_TESTHOST_H
