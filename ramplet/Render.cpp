// The segment state machine that writes "Signal Out". Runs inside the
// processing routine: no allocation, and no host call other than the
// announcements and routine changes made where a segment begins.
#include <cstring>

#include "Module.h"

// The gate is read only while the last notification concerned it. The
// watch cannot change during a call (notifications come between calls), so
// each mode gets its own copy of the loops and an unwatched gate costs nothing.
void Module::Render(int32_t buffer_offset, int32_t sample_frames) {
    float* const out = m_signal_out + buffer_offset;
    if (m_watch_gate) {
        RenderSegments<true>(out, m_gate + buffer_offset, sample_frames);
    } else {
        RenderSegments<false>(out, nullptr, sample_frames);
    }
}

namespace {

// The host writes the setting's byte, so it is read as a byte: any value
// other than 0 means true.
bool SettingIsOn(const bool& setting) {
    unsigned char byte;
    std::memcpy(&byte, &setting, 1);
    return byte != 0;
}

}  // namespace

// A segment that ends hands its current sample, not yet written, to the
// next segment, which runs its entry actions and continues at that sample.
// Each loop keeps the level in a local: the output buffer could alias the
// members, and the level must stay in a register. Sample i of the call is
// also the offset that stamps an announcement.
template <bool kGateWatched>
void Module::RenderSegments(float* const out, const float* const gate, const int32_t n) {
    int32_t i = 0;
    for (;;) {
        switch (m_segment) {
            case ENV_ATTACK: {
                AnnounceRunning(i);
                if (!(m_attack_step > 0.0f)) {
                    m_level = m_peak_level;
                    m_segment = ENV_DECAY;
                    break;
                }
                const float step = m_attack_step, peak = m_peak_level;
                float level = m_level;
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] == 0.0f) break;
                    const float v = level + step;
                    if (v > peak) break;
                    level = v;
                    out[i] = v;
                }
                m_level = level;
                if (i == n) return;
                if (kGateWatched && gate[i] == 0.0f) {
                    m_segment = ENV_RELEASE;
                } else {
                    m_level = peak;
                    m_segment = ENV_DECAY;
                }
                break;
            }
            case ENV_DECAY: {
                if (!(m_decay_step > 0.0f)) {
                    m_segment = ENV_SUSTAIN;
                    break;
                }
                const float step = m_decay_step, floor = m_sustain_level;
                float level = m_level;
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] == 0.0f) break;
                    const float v = level - step;
                    if (v < floor) break;
                    level = v;
                    out[i] = v;
                }
                m_level = level;
                if (i == n) return;
                m_segment = kGateWatched && gate[i] == 0.0f ? ENV_RELEASE : ENV_SUSTAIN;
                break;
            }
            case ENV_SUSTAIN: {
                AnnounceStatic(i);
                EnterStaticRoutine();
                m_level = m_sustain_level;
                const float level = m_level;
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] == 0.0f) break;
                    out[i] = level;
                }
                if (i == n) return;
                m_segment = ENV_RELEASE;
                break;
            }
            case ENV_RELEASE: {
                AnnounceRunning(i);
                const float step = m_release_step;
                float level = m_level;
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] > 0.0f) break;
                    const float v = level - step;
                    if (v <= 0.0f) break;
                    level = v;
                    out[i] = v;
                }
                m_level = level;
                if (i == n) return;
                if (kGateWatched && gate[i] > 0.0f) {
                    // A retrigger, from the level reached unless the setting
                    // asks for a fresh start.
                    if (SettingIsOn(m_reset_on_trigger)) m_level = 0.0f;
                    m_segment = ENV_ATTACK;
                } else {
                    m_level = 0.0f;
                    m_segment = ENV_IDLE;
                }
                break;
            }
            case ENV_IDLE:
            default: {
                AnnounceStatic(i);
                EnterStaticRoutine();
                for (; i < n; ++i) {
                    if (kGateWatched && gate[i] != 0.0f) break;
                    out[i] = 0.0f;
                }
                if (i == n) return;
                m_segment = ENV_ATTACK;
                break;
            }
        }
    }
}
