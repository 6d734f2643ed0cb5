// Base class of a plug-in's user-interface object: owns the GUI record the
// host holds, turns GUI dispatcher opcodes into virtual operations with empty
// defaults, and wraps the GUI callback, pin access included.
//
// No locking anywhere: calls arrive on whatever thread the host or the GUI
// code uses, one at a time per object.
#ifndef VX_SDK2_VXGUI_BASE_H
#define VX_SDK2_VXGUI_BASE_H

#include <cstdint>
#include <string>
#include <type_traits>

#include "VXHostAbi.h"

class VXGUI_base;

// Index and value of a dispatcher call, handed to the handlers of opcodes 3
// to 5. Lives only for the duration of that call.
struct VXGuiPair {
    int32_t index;
    int32_t value;
};

// Names one pin from the GUI side: a pin number and the GUI object whose
// callback reaches the host. Owns nothing; copying it is free.
class VXGuiPin {
public:
    // gui must outlive every operation called on the handle.
    constexpr VXGuiPin(int32_t pin_index, VXGUI_base* gui) : m_pin_index(pin_index), m_gui(gui) {}

    int32_t PinIndex() const { return m_pin_index; }
    VXGUI_base* Gui() const { return m_gui; }

    // The pin's current value. A host that writes nothing yields 0 / 0.0.
    int32_t GetValueInt() const;
    float GetValueFloat() const;
    void SetValueInt(int32_t v) const;
    void SetValueFloat(float f) const;
    // The host sees the characters only during the call; an embedded zero
    // ends the text it sees.
    void SetText(const std::string& text) const;
    // The host's text for the pin; empty when the host has none to give.
    std::string GetText() const;
    // The same through the host's two-step sized read: at most 2 x n bytes,
    // cut at the first zero byte; empty for a count it cannot honour.
    std::string GetTextSized() const;

private:
    int32_t m_pin_index;
    VXGUI_base* m_gui;
};

static_assert(std::is_standard_layout_v<VXGuiPin> && std::is_trivially_copyable_v<VXGuiPin>,
              "a pin handle is two plain words");

class VXGUI_base {
public:
    // Fills the record; no host call. The host may use the record from here
    // on. host_data is a 32-bit word on the 32-bit targets and pointer-sized
    // elsewhere, as the module record's is.
    VXGUI_base(vxguiMasterCallback callback, intptr_t host_data);
    // Releases nothing. GOP_CLOSE deletes the object through this destructor.
    virtual ~VXGUI_base();
    VXGUI_base(const VXGUI_base&) = delete;
    VXGUI_base& operator=(const VXGUI_base&) = delete;

    // The declaration order below fixes the virtual-table slots that GUI
    // classes are compiled against; new operations go after OnGuiPinUpdate.

    // Dispatcher call (the record's dispatcher).
    virtual VXIntPtr Dispatcher(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    // Dispatcher call GOP_OPEN.
    virtual void Open(bool index_is_one);
    // Dispatcher call GOP_CLOSE, right before the object is destroyed.
    virtual void Close();
    virtual void OnGuiOpcode2(int32_t index, void* ptr);
    virtual void OnGuiOpcode3(void* ptr, float opt, VXGuiPair* pair);
    virtual void OnGuiOpcode4(void* ptr, float opt, VXGuiPair* pair);
    virtual void OnGuiOpcode5(void* ptr, float opt, VXGuiPair* pair);
    virtual void OnGuiOpcode8(void* ptr);
    virtual void OnGuiOpcode9(void* ptr);
    virtual bool OnGuiOpcode10();
    virtual void OnGuiOpcode11(int32_t index);
    virtual void OnGuiOpcode12(int32_t index);
    virtual void OnGuiOpcode6(int32_t value, int32_t index, void* ptr);
    // Dispatcher call GOP_PIN_UPDATE. The handle lives only during the call.
    virtual void OnGuiPinUpdate(VXGuiPin* pin);

    // Host calls; each passes the record first and requires a callback.
    VXIntPtr CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    VXIntPtr HostRequest8(int32_t index, int32_t value, void* ptr);
    VXIntPtr HostRequest18(void* ptr);
    VXIntPtr HostRequest19(void* ptr);
    bool HostQuery20(void* ptr);

    // A handle for pin n. There is one handle for the whole library: the
    // address stays the same and names the pin of the latest call, whichever
    // GUI object made it.
    VXGuiPin* GetGuiPin(int32_t n);

    VXGuiRecord* Record() { return &m_record; }

    // The record's dispatcher entry.
    static VXIntPtr VX_CDECL DispatcherEntry(VXGuiRecord* record, int32_t opcode, int32_t index, int32_t value,
                                             void* ptr, float opt);

protected:
    vxguiMasterCallback vxaudioMaster;
    VXGuiRecord m_record;
};

#endif  // VX_SDK2_VXGUI_BASE_H
