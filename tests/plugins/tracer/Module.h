// A test plug-in that records the host's calls with their sample clocks and,
// on command, schedules events, announces its output or asks to sleep. It
// passes In to Out, so chains of it carry signals and stream states along.
#ifndef VX_TESTS_TRACER_MODULE_H
#define VX_TESTS_TRACER_MODULE_H

#include "TracerProtocol.h"
#include "VXModule_base.h"

namespace tracer {

class Module : public VXModule_base {
public:
    Module(vxaudioMasterCallback callback, void* host_data) noexcept;
    static bool FillModuleProperties(VXModuleProperties* properties);

    void Open() override;
    bool getPinProperties(int32_t index, VXPinProperties* properties) override;
    void OnPinStatusChange(VXPin* pin) override;
    void OnDataEvent(uint32_t time_stamp, int32_t data, int16_t data2) override;
    void OnHostMessage(int32_t value, int32_t index, void* ptr) override;

    void ProcessPass(int32_t buffer_offset, int32_t sample_frames);
    void ProcessMinusOne(int32_t buffer_offset, int32_t sample_frames);

private:
    void Log(int32_t kind, int32_t a, int32_t b, int32_t c = 0);
    void AfterProcess(int32_t sample_frames);

    float* m_in = nullptr;
    float* m_ctl = nullptr;
    float* m_out = nullptr;
    int16_t m_choice = 0;
    float m_offset = 0.0f;
    bool m_sleepy = false;
    bool m_announce_pending = false;
    int32_t m_announce_offset = 0;
    int32_t m_announce_state = 0;
    TracerLog m_log{};
};

}  // namespace tracer

#endif
