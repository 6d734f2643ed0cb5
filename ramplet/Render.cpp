// The segment state machine that writes "Signal Out". Runs inside the
// processing routine: no allocation, and no host call other than the
// announcements and routine changes made where a segment begins.
#include <xmmintrin.h>

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

// A constant segment should cost no more than a buffer fill, and the
// compiler does not vectorise a fill of unknown length at -O2: sixteen
// samples per step.
void Fill(float* const out, int32_t i, const int32_t n, const float value) {
    const __m128 v = _mm_set1_ps(value);
    for (; i + 16 <= n; i += 16) {
        _mm_storeu_ps(out + i, v);
        _mm_storeu_ps(out + i + 4, v);
        _mm_storeu_ps(out + i + 8, v);
        _mm_storeu_ps(out + i + 12, v);
    }
    for (; i + 4 <= n; i += 4) _mm_storeu_ps(out + i, v);
    for (; i < n; ++i) out[i] = value;
}

// The gate sample that ends a constant segment: any value other than 0
// ends the idle, exactly 0 ends the sustain. The vector compares give the
// scalar ones' answers for every value (-0.0 equals 0, a NaN is other than
// 0 and not equal to it).
enum class GateEnds { kNonZero, kZero };

template <GateEnds kEnds>
bool Ends(const float gate) {
    return kEnds == GateEnds::kZero ? gate == 0.0f : gate != 0.0f;
}

template <GateEnds kEnds>
__m128 EndMask(const __m128 gate) {
    return kEnds == GateEnds::kZero ? _mm_cmpeq_ps(gate, _mm_setzero_ps()) : _mm_cmpneq_ps(gate, _mm_setzero_ps());
}

// Writes `value` from sample i up to the first sample whose gate ends the
// segment, and returns that sample (n if none does). Sixteen gate samples
// are tested with one branch; the block that holds the end is finished one
// sample at a time, so nothing past the end is written and nothing past n
// is read.
template <GateEnds kEnds>
int32_t HoldWhileGate(float* const out, const float* const gate, int32_t i, const int32_t n, const float value) {
    const __m128 v = _mm_set1_ps(value);
    for (; i + 16 <= n; i += 16) {
        const __m128 ends = _mm_or_ps(
            _mm_or_ps(EndMask<kEnds>(_mm_loadu_ps(gate + i)), EndMask<kEnds>(_mm_loadu_ps(gate + i + 4))),
            _mm_or_ps(EndMask<kEnds>(_mm_loadu_ps(gate + i + 8)), EndMask<kEnds>(_mm_loadu_ps(gate + i + 12))));
        if (_mm_movemask_ps(ends) != 0) break;
        _mm_storeu_ps(out + i, v);
        _mm_storeu_ps(out + i + 4, v);
        _mm_storeu_ps(out + i + 8, v);
        _mm_storeu_ps(out + i + 12, v);
    }
    for (; i < n; ++i) {
        if (Ends<kEnds>(gate[i])) break;
        out[i] = value;
    }
    return i;
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
                if (!kGateWatched) {
                    Fill(out, i, n, m_level);
                    return;
                }
                i = HoldWhileGate<GateEnds::kZero>(out, gate, i, n, m_level);
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
                if (!kGateWatched) {
                    Fill(out, i, n, 0.0f);
                    return;
                }
                i = HoldWhileGate<GateEnds::kNonZero>(out, gate, i, n, 0.0f);
                if (i == n) return;
                m_segment = ENV_ATTACK;
                break;
            }
        }
    }
}
