// A plug-in that exists only for tests: it reaches every framework path the
// two real plug-ins leave unused, under commands from the test.
#ifndef VX_TESTS_PROBE_MODULE_H
#define VX_TESTS_PROBE_MODULE_H

#include <cstddef>
#include <new>

#include "ProbeProtocol.h"
#include "VXModule_base.h"

namespace probe {

class Module : public VXModule_base {
public:
    Module(vxaudioMasterCallback callback, void* host_data) noexcept;
    // makeModule's allocation, which a test can make fail once
    // (PROBE_REFUSE_NEXT_INSTANCE) to see makeModule answer null.
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }
    static void operator delete(void* p) noexcept { ::operator delete(p); }
    ~Module() override;
    static bool FillModuleProperties(VXModuleProperties* properties);

    void OnPinStatusChange(VXPin* pin) override;
    void Open() override;
    void Close() override;
    void Spare1() override;
    bool getPinProperties(int32_t index, VXPinProperties* properties) override;
    void Restart() override;
    void RestartValue(int32_t value) override;
    void OnDataEvent(uint32_t time_stamp, int32_t data, int16_t data2) override;
    void OnHostMessage(int32_t value, int32_t index, void* ptr) override;

    void PlainCall();
    void ProcessAddOne(int32_t buffer_offset, int32_t sample_frames);
    void ProcessConstant(int32_t buffer_offset, int32_t sample_frames);

private:
    VXProcessRoutine Routine(int32_t which);

    int32_t m_layout = LAYOUT_BASIC;
    float* m_in = nullptr;
    float* m_out = nullptr;
    int16_t m_choice = 0;
    bool m_flag = false;
    float m_level = 0.0f;
    int32_t m_count = 0;
    float* m_extra[3] = {nullptr, nullptr, nullptr};
};

}  // namespace probe

#endif
