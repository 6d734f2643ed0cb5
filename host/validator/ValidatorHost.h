// The validator's host for one plug-in instance. It plays a scenario into
// the instance block by block and watches everything a strict host can see:
//
// - each processing call writes every output sample of its window and
//   nothing outside it (the buffers carry guard zones, the window is
//   pre-filled with a marker), and leaves its inputs alone;
// - every host call carries the instance's own record and a known opcode,
//   names pins that exist, and stamps announcements no earlier than the
//   current sample and no later than the call's last one;
// - the processing routine changes only with HC_PROCESS_CHANGED;
// - memory is allocated or released inside processing calls or event
//   delivery (when the program counts allocations, see ValidatorAllocations.h).
//
// Findings go to the check's log; outputs, announcements, sleep requests and
// notifications are kept for the checks to judge the sleep protocol and to
// compare runs.
#ifndef VXHOST_VALIDATORHOST_H
#define VXHOST_VALIDATORHOST_H

#include <cstdint>
#include <string>
#include <vector>

#include "EventQueue.h"
#include "PluginDescription.h"
#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "ValidatorReport.h"
#include "ValidatorSignals.h"

namespace vxhost {

struct HostOptions {
    double sample_rate = 44100.0;
    int32_t block_size = 256;
    bool null_callback = false;
    // Stop calling after HC_SLEEP (unless an input streams) and present the
    // last sample, until a notification wakes the instance.
    bool honour_sleep = true;
    // Honour HC_SLEEP even while an input streams, as a host may that takes
    // the module at its word.
    bool sleep_while_streaming = false;
    // The sample clock of the run's first sample, so runs can cross the
    // 32-bit wrap of the clock.
    uint32_t clock_origin = 0;
};

enum class CutMode {
    PerBlock,         // one call per block, cut only where events fall
    Random,           // also cut at random samples
    RandomWithEmpty,  // and now and then a call of 0 samples
};

struct CutPolicy {
    CutMode mode = CutMode::PerBlock;
    uint64_t seed = 1;
    int32_t longest_call = 0;  // Random: calls up to this long; 0 for the block size
};

// Clocks below are sample positions in the run (0 is its first sample).
struct Announcement {
    int32_t pin;
    int32_t state;
    int64_t at;
    uint64_t sequence;  // order among announcements, notifications and sleep requests
};

struct SleepRequest {
    int64_t call_start;
    int64_t call_end;  // one past the call's last sample
    uint64_t sequence;
};

struct NotificationRecord {
    int32_t pin;
    int32_t state;
    int64_t at;
    uint64_t sequence;
};

class ValidatorHost final : private PluginInstance::Hooks {
public:
    ValidatorHost(const PluginLibrary& library, CheckLog& log, const HostOptions& options = HostOptions());
    ~ValidatorHost();  // closes the instance
    ValidatorHost(const ValidatorHost&) = delete;
    ValidatorHost& operator=(const ValidatorHost&) = delete;

    // makeModule(0, 1) and the pin descriptions; false (logged) without an instance.
    bool Create();
    // Create if needed, then sample rate, block size, OP_OPEN, and the buffer
    // addresses and setting values written into the module.
    bool Open();
    void Close();
    VXIntPtr Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);

    const std::vector<PinDescription>& Pins() const { return m_pins; }
    std::vector<int32_t> OutputPins() const;
    VXPluginRecord* Record() const { return m_instance.Record(); }

    void Start(const Scenario& scenario, const CutPolicy& cuts);
    bool PlayBlock();  // false once the scenario is done
    void Play(const Scenario& scenario, const CutPolicy& cuts);
    int64_t Position() const { return m_position; }

    const std::vector<float>& Output(int32_t pin) const;
    const std::vector<Announcement>& Announcements() const { return m_announcements; }
    const std::vector<SleepRequest>& SleepRequests() const { return m_sleep_requests; }
    const std::vector<NotificationRecord>& Notifications() const { return m_notifications; }
    uint64_t ProcessCalls() const { return m_process_calls; }
    // Allocations plus releases made by the instance inside processing
    // calls and event delivery; -1 when this program cannot count them.
    int64_t RealtimeAllocations() const;
    const std::string& FirstAllocationPlace() const { return m_first_allocation; }

private:
    enum class CallKind { Dispatch, Process, Event };
    class Scope;
    struct AudioBuffer {
        int32_t pin = 0;
        bool output = false;
        std::vector<float> storage;   // guard, block, guard
        std::vector<float> expected;  // inputs: what the host wrote; outputs: before the call
        float* Data() { return storage.data() + kGuard; }
    };
    static constexpr size_t kGuard = 64;

    VXIntPtr Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                    float opt) override;
    VXIntPtr AnswerChecked(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr);
    void Announce(int32_t index, int32_t state, uint32_t stamp);
    int64_t FromStamp(uint32_t stamp) const;
    uint32_t ClockAt(int64_t position) const;
    std::string PinName(int32_t pin) const;
    AudioBuffer* BufferOf(int32_t pin);
    void WriteVariables();
    void WriteSetting(int32_t pin, double value);

    void FillInputs(int32_t frames);
    std::vector<int32_t> CutsOfBlock(int32_t frames);
    void DeliverDue(int64_t now);
    void DeliverEvent(VXEvent e, int64_t now);
    void Notify(int32_t pin, int32_t state, int64_t now);
    void RunCall(int32_t offset, int32_t frames);
    void PresentSettled(int32_t offset, int32_t frames);
    void CheckWindow(int32_t offset, int32_t frames);
    void Record(int32_t offset, int32_t frames);
    bool AnyInputStreaming() const;

    const PluginLibrary& m_library;
    CheckLog& m_log;
    HostOptions m_options;
    PluginInstance m_instance{*this};
    std::vector<PinDescription> m_pins;
    std::vector<AudioBuffer> m_buffers;
    std::vector<double> m_settings;  // by pin
    std::vector<int32_t> m_input_states;
    std::vector<float> m_held;                   // by buffer: what a sleeping instance shows
    std::vector<std::vector<float>> m_recorded;  // by buffer

    const Scenario* m_scenario = nullptr;
    std::vector<size_t> m_segment_cursor;  // by track
    size_t m_next_action = 0;
    EventQueue<int64_t, VXEvent> m_queued;  // the instance's own events
    ValidatorRandom m_cut_random{1};
    CutPolicy m_cuts;
    int64_t m_position = 0;  // first sample of the current block
    int64_t m_now = 0;       // the clock the instance sees, as a run position
    bool m_in_process = false;
    int64_t m_call_end = 0;
    bool m_sleep_requested = false;
    bool m_asleep = false;

    std::vector<Announcement> m_announcements;
    std::vector<SleepRequest> m_sleep_requests;
    std::vector<NotificationRecord> m_notifications;
    uint64_t m_sequence = 0;
    uint64_t m_process_calls = 0;

    uint64_t m_allocations = 0;
    std::string m_first_allocation;
};

}  // namespace vxhost

#endif  // VXHOST_VALIDATORHOST_H
