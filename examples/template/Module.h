// A glide (slew limiter): the output follows the input, but moves by at most
// 1.0 (10 V) in "Time" seconds; "Glide" chooses whether rising, falling or
// both are slowed. Small as it is, it does everything a module owes the host:
// it describes its pins, renders from the position the host gives, tells the
// host when its output moves and when it has settled, and asks to sleep once
// nothing can move it until an input changes.
#ifndef GLIDE_MODULE_H
#define GLIDE_MODULE_H

#include <cstdint>

#include "Slew.h"
#include "VXModule_base.h"

namespace glide {

class Module : public VXModule_base {
public:
    // Inside makeModule: only forwards to the base. Members get their
    // values in Open, once the host has set the sample rate.
    Module(vxaudioMasterCallback callback, void* host_data) noexcept : VXModule_base(callback, host_data) {}
    // getModuleProperties, right after the host loads the library.
    static bool FillModuleProperties(VXModuleProperties* properties);

    // Dispatcher calls.
    bool getPinProperties(int32_t index, VXPinProperties* properties) override;
    void Open() override;
    // Event delivery, between processing calls.
    void OnPinStatusChange(VXPin* pin) override;

    // Processing routines: the host calls the one installed last.
    void Process(int32_t buffer_offset, int32_t sample_frames);
    void ProcessSettled(int32_t buffer_offset, int32_t sample_frames);

private:
    enum : int32_t { PIN_IN, PIN_OUT, PIN_TIME, PIN_GLIDE };
    enum : int16_t { GLIDE_BOTH, GLIDE_RISING, GLIDE_FALLING };

    void Render(int32_t buffer_offset, int32_t sample_frames);
    void Announce(int32_t offset, int32_t state);

    // Where the host writes: a buffer address for each audio pin, the value
    // of each setting. Read only by the processing routines.
    float* m_in = nullptr;
    float* m_out = nullptr;
    float m_time = 0.0f;
    int16_t m_glide = GLIDE_BOTH;

    Slew m_slew;
    double m_sample_rate = 44100.0;
    // One bit per pin whose source streams: while any is set the output may
    // move at any sample without a notification, so it is never settled.
    uint32_t m_streaming = 0;
    bool m_output_settled = true;
    int32_t m_sleep_countdown = 0;
};

}  // namespace glide

#endif  // GLIDE_MODULE_H
