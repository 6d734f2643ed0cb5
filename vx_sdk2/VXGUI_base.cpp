#include "VXGUI_base.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "VXAssert.h"
#include "VXFpEnvironment.h"

namespace {

// The one handle GetGuiPin answers, shared by every GUI object in the
// library. Constant-initialised, so it is usable before any dynamic start-up.
VXGuiPin g_gui_pin(0, nullptr);

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

}  // namespace

VXGUI_base::VXGUI_base(vxguiMasterCallback callback, intptr_t host_data) : vxaudioMaster(callback), m_record() {
    std::memset(&m_record, 0, sizeof m_record);
    m_record.magic = VX_GUI_MAGIC;
    m_record.version = VX_GUI_RECORD_VERSION;
    m_record.dispatcher = &VXGUI_base::DispatcherEntry;
    m_record.host_data = host_data;
    m_record.object = this;
}

VXGUI_base::~VXGUI_base() {}

void VXGUI_base::Open(bool) {}
void VXGUI_base::Close() {}
void VXGUI_base::OnGuiOpcode2(int32_t, void*) {}
void VXGUI_base::OnGuiOpcode3(void*, float, VXGuiPair*) {}
void VXGUI_base::OnGuiOpcode4(void*, float, VXGuiPair*) {}
void VXGUI_base::OnGuiOpcode5(void*, float, VXGuiPair*) {}
void VXGUI_base::OnGuiOpcode8(void*) {}
void VXGUI_base::OnGuiOpcode9(void*) {}
bool VXGUI_base::OnGuiOpcode10() { return false; }
void VXGUI_base::OnGuiOpcode11(int32_t) {}
void VXGUI_base::OnGuiOpcode12(int32_t) {}
void VXGUI_base::OnGuiOpcode6(int32_t, int32_t, void*) {}
void VXGUI_base::OnGuiPinUpdate(VXGuiPin*) {}

VXIntPtr VXGUI_base::Dispatcher(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    // Unsigned, so that negative opcodes land among the ignored ones too.
    switch (static_cast<uint32_t>(opcode)) {
        case GOP_OPEN:
            Open(index == 1);
            return 0;
        case GOP_CLOSE:
            Close();
            delete this;
            return 1;
        case GOP_OPCODE2:
            OnGuiOpcode2(index, ptr);
            return 0;
        case GOP_OPCODE3:
        case GOP_OPCODE4:
        case GOP_OPCODE5: {
            VXGuiPair pair{index, value};
            if (opcode == GOP_OPCODE3)
                OnGuiOpcode3(ptr, opt, &pair);
            else if (opcode == GOP_OPCODE4)
                OnGuiOpcode4(ptr, opt, &pair);
            else
                OnGuiOpcode5(ptr, opt, &pair);
            return 0;
        }
        case GOP_OPCODE6:
            OnGuiOpcode6(value, index, ptr);
            return 0;
        case GOP_PIN_UPDATE: {
            // A handle of this call's own: the shared one of GetGuiPin may be
            // overwritten by the handler itself.
            VXGuiPin pin(index, this);
            OnGuiPinUpdate(&pin);
            return 0;
        }
        case GOP_OPCODE8:
            OnGuiOpcode8(ptr);
            return 0;
        case GOP_OPCODE9:
            OnGuiOpcode9(ptr);
            return 0;
        case GOP_OPCODE10:
            return OnGuiOpcode10() ? 1 : 0;
        case GOP_OPCODE11:
            OnGuiOpcode11(index);
            return 0;
        case GOP_OPCODE12:
            OnGuiOpcode12(index);
            return 0;
        default:
            return 0;
    }
}

VXIntPtr VX_CDECL VXGUI_base::DispatcherEntry(VXGuiRecord* record, int32_t opcode, int32_t index, int32_t value,
                                              void* ptr, float opt) {
    vx::FpEnvironmentGuard fp;
    return record->object->Dispatcher(opcode, index, value, ptr, opt);
}

VXIntPtr VXGUI_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    VX_CHECK(vxaudioMaster != nullptr, "vxaudioMaster", VX_GUI_BASE_SOURCE, 134);
    return vxaudioMaster(&m_record, opcode, index, value, ptr, opt);
}

VXIntPtr VXGUI_base::HostRequest8(int32_t index, int32_t value, void* ptr) {
    return CallHost(GHC_REQUEST_8, index, value, ptr, 0.0f);
}

VXIntPtr VXGUI_base::HostRequest18(void* ptr) { return CallHost(GHC_REQUEST_18, 0, 0, ptr, 0.0f); }

VXIntPtr VXGUI_base::HostRequest19(void* ptr) { return CallHost(GHC_REQUEST_19, 0, 0, ptr, 0.0f); }

bool VXGUI_base::HostQuery20(void* ptr) { return CallHost(GHC_QUERY_20, 0, 0, ptr, 0.0f) != 0; }

VXGuiPin* VXGUI_base::GetGuiPin(int32_t n) {
    g_gui_pin = VXGuiPin(n, this);
    return &g_gui_pin;
}

int32_t VXGuiPin::GetValueInt() const {
    int32_t word = 0;
    m_gui->CallHost(GHC_READ_PIN_VALUE, m_pin_index, 0, &word, 0.0f);
    return word;
}

float VXGuiPin::GetValueFloat() const {
    int32_t word = 0;
    m_gui->CallHost(GHC_READ_PIN_VALUE, m_pin_index, 0, &word, 0.0f);
    float f;
    std::memcpy(&f, &word, sizeof f);
    return f;
}

void VXGuiPin::SetValueInt(int32_t v) const { m_gui->CallHost(GHC_WRITE_PIN_VALUE, m_pin_index, v, nullptr, 0.0f); }

void VXGuiPin::SetValueFloat(float f) const { m_gui->CallHost(GHC_WRITE_PIN_VALUE, m_pin_index, 0, nullptr, f); }

void VXGuiPin::SetText(const std::string& text) const {
    // The host only reads the characters; the callback's shape has no const.
    m_gui->CallHost(GHC_WRITE_PIN_TEXT, m_pin_index, 0, const_cast<char*>(text.c_str()), 0.0f);
}

std::string VXGuiPin::GetText() const {
    const VXIntPtr address = m_gui->CallHost(GHC_READ_PIN_TEXT, m_pin_index, 0, nullptr, 0.0f);
    // A host without a text for the pin answers no address at all.
    if (address == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(address));
}

std::string VXGuiPin::GetTextSized() const {
    const VXIntPtr count = m_gui->CallHost(GHC_READ_PIN_TEXT_SIZED, m_pin_index, 0, nullptr, 0.0f);
    // The count goes back to the host as a 32-bit value; one that does not
    // fit, or that names no room at all, leaves nothing to ask for.
    if (count <= 0 || count > INT32_MAX) return std::string();
    static_assert(SIZE_MAX / 2 >= static_cast<size_t>(INT32_MAX), "2 x count fits a size");
    const size_t size = 2 * static_cast<size_t>(count);

    // Zeroed, so that whatever the host leaves unwritten ends the text. A
    // buffer the free store cannot give is a text the host cannot deliver.
    const std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::calloc(size, 1)));
    if (!buffer) return std::string();
    m_gui->CallHost(GHC_READ_PIN_TEXT_SIZED, m_pin_index, static_cast<int32_t>(count), buffer.get(), 0.0f);

    // A host that fills every byte gets its whole buffer back, never more.
    const void* zero = std::memchr(buffer.get(), 0, size);
    const size_t length = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - buffer.get()) : size;
    return std::string(buffer.get(), length);
}
