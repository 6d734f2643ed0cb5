// One pin object per host pin: the pin's identity, its last stream state and
// the little host traffic that concerns one pin. Sample values never pass
// through here; the host writes buffer addresses and setting values straight
// into the module's members.
#ifndef VX_SDK2_VXPIN_H
#define VX_SDK2_VXPIN_H

#include <cstdint>

#include "VXHostAbi.h"

class VXModule_base;

class VXPin {
public:
    // Only makes the object: the module base default-constructs the whole
    // array at open and binds each element with Init.
    VXPin() = default;
    virtual ~VXPin() = default;
    VXPin(const VXPin&) = delete;
    VXPin& operator=(const VXPin&) = delete;

    // Dispatcher call (open): binds the pin to the module's variable, or to
    // its own storage when the description names none.
    void Init(VXModule_base* module, int32_t pin_index, int32_t datatype, void* variable_address);

    // Announce a new stream state of this pin at sample_clock (not checked).
    void TransmitStatusChange(uint32_t sample_clock, int32_t new_state);
    // Send a value taking effect at sample_clock, which must not lie in the past.
    void TransmitPinValue(uint32_t sample_clock, int32_t value);
    // Event delivery: the host reports the new stream state of the pin's source.
    void OnStatusUpdate(int32_t new_state);
    // Host's yes/no answer for this pin.
    bool QueryHostFlag();
    // DT_FSAMPLE only: the sample of the current buffer at the module's clock.
    // Two host calls; for occasional reads such as inside event handlers.
    float GetValue();

    int32_t PinIndex() const { return m_pin_index; }
    int32_t Status() const { return m_status; }
    int32_t Datatype() const { return m_datatype; }
    VXModule_base* Module() const { return m_module; }
    void* ValuePtr() const { return m_value_ptr; }

private:
    void* m_value_ptr = nullptr;
    VXModule_base* m_module = nullptr;
    int32_t m_pin_index = 0;
    int32_t m_status = ST_STATIC;
    int32_t m_datatype = 0;
    // The pin's own storage: a 16-bit choice, an 8-bit boolean, a 32-bit
    // value or a buffer address, by m_datatype. Pointer-sized so that a
    // buffer address fits on 64-bit targets too.
    union {
        int16_t as_enum;
        bool as_bool;
        float as_float;
        int32_t as_int;
        float* as_buffer;
        unsigned char bytes[sizeof(void*)];
    } m_local_value{};
};

#endif  // VX_SDK2_VXPIN_H
