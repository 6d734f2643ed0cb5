// One plug-in instance seen from the host: the proxy through which every
// call the host makes into the instance goes (dispatcher, processing
// routine, event delivery), and through which every call the instance makes
// to the host comes back, to the host's Hooks.
//
// It keeps the one rule every host shares about the processing routine: the
// host calls the routine the record held when the instance opened, or last
// reported with HC_PROCESS_CHANGED; an instance without a callback cannot
// report, so its host follows the record. Nothing here allocates after
// Create, so a real-time host can call Process and Deliver from its audio
// thread.
#ifndef VXHOST_PLUGININSTANCE_H
#define VXHOST_PLUGININSTANCE_H

#include <cstdint>

#include "PluginLibrary.h"
#include "VXHostAbi.h"

namespace vxhost {

class PluginInstance {
public:
    // What a host adds around the calls: the answers to the instance's
    // calls, and whatever it records or checks meanwhile.
    class Hooks {
    public:
        // A call the instance made: the instance being called into is
        // charged with it, whatever record it carries.
        virtual VXIntPtr Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                float opt) = 0;

    protected:
        ~Hooks() = default;
    };

    explicit PluginInstance(Hooks& hooks) : m_hooks(hooks) {}
    ~PluginInstance() { Close(); }  // closes the instance if it is still open
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    // makeModule(index, profile, callback, hooks), without a callback when
    // `with_callback` is false. True when a record came back.
    bool Create(const PluginLibrary& library, int32_t index = 0, int32_t profile = 1, bool with_callback = true);
    // A dispatcher call; 0 without an instance. OP_CLOSE forgets the record
    // before the call, so nothing reaches a closing instance.
    VXIntPtr Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    // OP_SAMPLE_RATE, OP_BLOCK_SIZE, then OP_OPEN; the routine the record
    // holds once it knows its block size is the one the host calls.
    void Open(float sample_rate, int32_t block_size);
    void Close();

    VXPluginRecord* Record() const { return m_record; }
    bool HasCallback() const { return m_with_callback; }
    // HC_PROCESS_CHANGED: the host calls the routine the record now holds.
    void RoutineChanged();
    // Whether the record holds another routine than the host calls.
    bool RoutineSilentlyChanged() const { return m_record != nullptr && m_record->process_function != m_process; }
    // Call whatever routine the record holds at each call.
    void FollowRecord(bool follow) { m_follow_record = follow; }

    void Process(int32_t offset, int32_t frames);
    void Deliver(VXEvent e);
    // A stream-state notification for input `pin`, stamped `clock`.
    void NotifyPin(int32_t pin, int32_t state, uint32_t clock);

    // Writes a buffer's address into the pin member the description names.
    static void WriteBufferAddress(void* variable, float* buffer);

private:
    class Active;
    static VXIntPtr VX_CDECL Callback(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                      float opt);

    Hooks& m_hooks;
    VXPluginRecord* m_record = nullptr;
    VXProcessFunction m_process = nullptr;
    bool m_with_callback = true;
    bool m_follow_record = false;
};

}  // namespace vxhost

#endif  // VXHOST_PLUGININSTANCE_H
