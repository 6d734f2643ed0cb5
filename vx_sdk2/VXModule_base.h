// Base class of every module: owns the host-facing record, turns dispatcher
// opcodes into virtual operations, creates the pin objects at open, and
// carries the sample clock, events and the switchable processing routine.
#ifndef VX_SDK2_VXMODULE_BASE_H
#define VX_SDK2_VXMODULE_BASE_H

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "VXFpEnvironment.h"
#include "VXHostAbi.h"
#include "VXPin.h"

class VXModule_base;

// A processing routine as the host sees it: a plain cdecl function taking
// (object, buffer_offset, sample_frames), with a this-adjustment word that
// is always 0. Member functions cannot be stored in the record directly on
// every toolchain (i686 MinGW gives them the thiscall convention), so each
// routine gets a plain-function entry generated from the member by
// ProcessRoutine<&Module::Routine>(); the member itself is inlined there.
struct VXProcessRoutine {
    VXProcessFunction entry;
    intptr_t adjustment;

    friend bool operator==(const VXProcessRoutine& a, const VXProcessRoutine& b) {
        return a.entry == b.entry && (a.adjustment == b.adjustment || a.entry == nullptr);
    }
    friend bool operator!=(const VXProcessRoutine& a, const VXProcessRoutine& b) { return !(a == b); }
};

// A member routine without arguments, scheduled with AddCallEvent. Its first
// word travels in the event: the routine's address, or for a virtual
// operation its virtual-table byte offset plus 1.
using VXCallRoutine = void (VXModule_base::*)();
static_assert(sizeof(VXCallRoutine) == 2 * sizeof(intptr_t),
              "member routines are two words: entry and this-adjustment");

namespace vx::detail {

template <class M>
struct MemberClass;
template <class C>
struct MemberClass<void (C::*)(int32_t, int32_t)> {
    using type = C;
};

template <auto Routine>
void VX_CDECL ProcessEntry(VXModule_base* object, int32_t buffer_offset, int32_t sample_frames) {
    using Module = typename MemberClass<decltype(Routine)>::type;
    static_assert(std::is_base_of_v<VXModule_base, Module>, "a routine of a module");
    FpEnvironmentGuard fp;
    (static_cast<Module*>(object)->*Routine)(buffer_offset, sample_frames);
}

}  // namespace vx::detail

// ProcessRoutine<&Module::ProcessEnvelope>(): the routine's host-callable form.
template <auto Routine>
VXProcessRoutine ProcessRoutine() {
    return VXProcessRoutine{&vx::detail::ProcessEntry<Routine>, 0};
}

class VXModule_base {
public:
    // Inside makeModule: fills the record; no host call, no exception.
    VXModule_base(vxaudioMasterCallback callback, void* host_data) noexcept;
    // OP_CLOSE: releases the pin array, last pin first. No host call.
    virtual ~VXModule_base();
    VXModule_base(const VXModule_base&) = delete;
    VXModule_base& operator=(const VXModule_base&) = delete;

    // Event delivery: a pin's new stream state has been stored.
    virtual void OnPinStatusChange(VXPin* pin);
    // Event delivery (the record's event_function), between processing calls.
    virtual void HandleEvent(VXEvent* e);
    // Dispatcher call (the record's dispatcher).
    virtual VXIntPtr Dispatcher(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    // Dispatcher call OP_OPEN: creates and binds the pins. Modules install
    // their processing routine, call this, then give their members values.
    virtual void Open();
    // Dispatcher call OP_CLOSE, before destruction.
    virtual void Close();
    // Spare1, Spare2 and Spare3 have no caller. They keep their places, so
    // that every operation after them sits in the virtual-table slot that
    // modules are compiled against; Spare1 also serves the tests as a
    // virtual routine for call events.
    virtual void Spare1();
    virtual void SetSampleRate(float rate);
    virtual void SetBlockSize(int32_t size);
    virtual float SampleRate();
    virtual int32_t BlockSize();
    // Fills the description of pin `index` and answers true; false and
    // nothing written past the last pin or for a negative index.
    virtual bool getPinProperties(int32_t index, VXPinProperties* properties);
    virtual int32_t Spare2();
    virtual int32_t Spare3();
    // Dispatcher call OP_RESTART.
    virtual void Restart();
    virtual void RestartValue(int32_t value);
    // Event delivery of ET_DATA.
    virtual void OnDataEvent(uint32_t time_stamp, int32_t data, int16_t data2);
    // Dispatcher call OP_HOST_MESSAGE.
    virtual void OnHostMessage(int32_t value, int32_t index, void* ptr);

    // Any context. Skips the call and answers 0 without a host callback.
    VXIntPtr CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    // The host's current sample clock; during a processing call the clock of
    // the sample at buffer_offset.
    uint32_t SampleClock();
    // Pin n of the pin array; n must lie below the count open used.
    VXPin* GetPin(int32_t n);
    // Number of pin objects open created (0 before open).
    int32_t PinCount() const { return m_pin_count; }
    bool QueryPinProperties(int32_t index, VXPinProperties* properties);

    // Schedules an event through the host; it comes back through HandleEvent
    // when the host's clock reaches p_time_stamp, which must not be past.
    void AddEvent(uint32_t p_time_stamp, int32_t p_event_type, int32_t p_int_value, int32_t p_int_value2,
                  intptr_t p_ptr_value);
    template <class M>
    void AddCallEvent(uint32_t p_time_stamp, void (M::*routine)()) {
        static_assert(std::is_base_of_v<VXModule_base, M>, "a routine of the module itself");
        const VXCallRoutine r = static_cast<VXCallRoutine>(routine);
        intptr_t words[2];
        std::memcpy(words, &r, sizeof words);
        AddEvent(p_time_stamp, ET_CALL, 0, 0, words[0]);
    }

    // Installs a processing routine; tells the host only about a real change.
    // Callable from the processing routine and from event handlers.
    void SetProcessFunction(VXProcessRoutine routine);
    VXProcessRoutine GetProcessFunction() const { return m_process_function; }

    VXPluginRecord* Record() { return &m_record; }

    // The record's dispatcher and event_function entries.
    static VXIntPtr VX_CDECL DispatcherEntry(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value,
                                             void* ptr, float opt);
    static void VX_CDECL EventEntry(VXModule_base* object, VXEvent* e);

    // The routine installed at construction: produces nothing.
    void EmptyProcess(int32_t buffer_offset, int32_t sample_frames);

protected:
    vxaudioMasterCallback m_callback;
    VXPluginRecord m_record;
    VXPin* m_pins;
    VXProcessRoutine m_process_function;

private:
    void CreatePins();
    void CheckPinConsistency(const VXPinProperties* properties);
    int32_t m_pin_count = 0;
};

#endif  // VX_SDK2_VXMODULE_BASE_H
