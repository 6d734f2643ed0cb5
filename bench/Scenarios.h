// The situations the plug-ins are timed in, as input buffers and the
// notifications a host would have sent. Shared by the benchmark and by the
// tests that check the benchmark measures what it claims to.
//
// Every buffer is one block of kBlockFrames samples; calls of 64, 256 and
// 1024 samples walk through it, so the same inputs reach the plug-in whatever
// the call size. Pin values are what the host writes: the oscillator uses
// ten times each ("fc" 0.5 is 440 Hz, "maxfreq" 2000 is 20 kHz).
#ifndef VX_BENCH_SCENARIOS_H
#define VX_BENCH_SCENARIOS_H

#include <cmath>
#include <cstdint>

#include "BenchHost.h"
#include "ScalarOscillator.h"

namespace vxbench {

constexpr float kSampleRate = 44100.0f;
// One note of the envelope's cycle, and a multiple of every call size.
constexpr int32_t kBlockFrames = 3072;

// ---- Oscillator ----------------------------------------------------------

enum OscillatorPin : int32_t {
    OSC_FC = 0,
    OSC_FM1 = 1,
    OSC_N = 2,
    OSC_A = 3,
    OSC_GATE = 4,
    OSC_DETUNE = 5,
    OSC_MAXFREQ = 6,
    OSC_MODE = 7,
    OSC_OUTPUT = 8,
    OSC_PINS = 9
};

enum class Tone {
    Harmonic,       // 440 Hz, harmonic spacing, 11 partials at ratio 0.5, one-sided
    TwoSided,       // the same, two-sided
    Wide,           // "N" 10: 45 partials up to 19.8 kHz, one-sided
    FcEverySample,  // harmonic, with "fc" gliding so that it differs at every sample
    // Harmonic, with one input moving at every sample, as a modulation
    // source connected to it makes it move.
    Vibrato,      // "fc": a slow sine, one cycle per block (14.4 Hz), ±0.6 semitone
    Glide,        // "fc": a ramp up an octave over the block
    AudioFm,      // "fc": another oscillator's output, 16 cycles per block (230 Hz), ±4 semitones
    Fm1Sweep,     // "fm1": the spacing swept from half to one and a half times the fundamental and back
    ASweep,       // "a": the ratio swept from 0 to 0.9 and back
    DetuneSweep,  // "detune": the spacing offset swept over ±200 Hz and back
};

inline int16_t ToneMode(Tone tone) { return tone == Tone::TwoSided ? 2 : 1; }

inline void FillTone(Buffers& b, Tone tone) {
    b.Fill(OSC_FC, 0.5f);
    b.Fill(OSC_FM1, 0.1f);
    b.Fill(OSC_N, tone == Tone::Wide ? 10.0f : 1.0f);
    b.Fill(OSC_A, 0.05f);
    b.Fill(OSC_GATE, 1.0f);
    b.Fill(OSC_DETUNE, 0.0f);
    b.Fill(OSC_MAXFREQ, 2000.0f);
    const int32_t frames = b.Frames();
    // Up and back over the block, 0 to 1: neighbouring values differ, also
    // across the end of the block.
    const auto triangle = [frames](int32_t i) {
        const int32_t half = frames / 2;
        return static_cast<float>(i < half ? i : frames - i) / static_cast<float>(half);
    };
    const auto sine = [frames](int32_t i, int32_t cycles) {
        return static_cast<float>(std::sin(6.283185307179586 * cycles * i / frames));
    };
    for (int32_t i = 0; i < frames; ++i) {
        switch (tone) {
            case Tone::FcEverySample:
                b[OSC_FC][i] = 0.45f + 0.1f * triangle(i);
                break;
            case Tone::Vibrato:
                b[OSC_FC][i] = 0.5f + 0.005f * sine(i, 1);
                break;
            case Tone::Glide:
                b[OSC_FC][i] = 0.45f + 0.1f * static_cast<float>(i) / static_cast<float>(frames);
                break;
            case Tone::AudioFm:
                b[OSC_FC][i] = 0.5f + 0.033f * sine(i, 16);
                break;
            case Tone::Fm1Sweep:
                b[OSC_FM1][i] = 0.05f + 0.1f * triangle(i);
                break;
            case Tone::ASweep:
                b[OSC_A][i] = 0.09f * triangle(i);
                break;
            case Tone::DetuneSweep:
                b[OSC_DETUNE][i] = -20.0f + 40.0f * triangle(i);
                break;
            default:
                break;
        }
    }
}

inline OscillatorInputs InputsOf(const Buffers& b) {
    return {b[OSC_FC], b[OSC_FM1], b[OSC_N], b[OSC_A], b[OSC_GATE], b[OSC_DETUNE], b[OSC_MAXFREQ]};
}

// The oscillator with its gate connected to a streaming source and the tone
// set, after one block: the steady state of a held note.
inline void StartTone(BenchHost& host, Tone tone) {
    FillTone(host.Signals(), tone);
    host.SetSetting(OSC_MODE, ToneMode(tone));
    host.Notify(OSC_GATE, ST_RUN);
    for (int32_t i = 0; i < kBlockFrames / 256; ++i) host.Next(256);
    host.ResetCounts();
}

// ---- Envelope -------------------------------------------------------------

enum EnvelopePin : int32_t {
    ENV_GATE = 0,
    ENV_ATTACK = 1,
    ENV_DECAY = 2,
    ENV_SUSTAIN = 3,
    ENV_RELEASE = 4,
    ENV_LEVEL = 5,
    ENV_OUT = 6,
    ENV_RESET = 7,
    ENV_PINS = 8
};

// Inputs 0.1 give at 44.1 kHz an attack of 868 samples, a decay from the peak
// to the sustain level 0.5 of 434 samples and a release from there of 434
// samples. The gate is high for the first 2048 samples of each block, so one
// block holds attack, decay, sustain, release and idle, in that order.
constexpr int32_t kGateHighFrames = 2048;
constexpr int32_t kAttackFrames = 868;
constexpr int32_t kDecayFrames = 434;
constexpr int32_t kReleaseFrames = 434;
constexpr float kSustainLevel = 0.5f;

enum class Envelope {
    NoteCycle,          // the note above, gate watched
    SustainHold,        // gate held high, the envelope sustaining
    SustainUnwatched,   // the same, after a notification on another input stopped the gate watch
    Idle,               // gate held low, the envelope idle
    ControlsStreaming,  // the note cycle with every control input moving
};

inline void FillEnvelope(Buffers& b, Envelope scene) {
    float* gate = b[ENV_GATE];
    for (int32_t i = 0; i < b.Frames(); ++i) {
        switch (scene) {
            case Envelope::SustainHold:
            case Envelope::SustainUnwatched:
                gate[i] = 1.0f;
                break;
            case Envelope::Idle:
                gate[i] = 0.0f;
                break;
            default:
                gate[i] = i < kGateHighFrames ? 1.0f : 0.0f;
                break;
        }
    }
    b.Fill(ENV_ATTACK, 0.1f);
    b.Fill(ENV_DECAY, 0.1f);
    b.Fill(ENV_SUSTAIN, kSustainLevel);
    b.Fill(ENV_RELEASE, 0.1f);
    b.Fill(ENV_LEVEL, 1.0f);
    if (scene == Envelope::ControlsStreaming) {
        // Slow ramps: every examination of the controls finds all five moved.
        for (int32_t i = 0; i < b.Frames(); ++i) {
            const float t = static_cast<float>(i) / static_cast<float>(b.Frames());
            b[ENV_ATTACK][i] = 0.1f + 0.01f * t;
            b[ENV_DECAY][i] = 0.1f + 0.01f * t;
            b[ENV_SUSTAIN][i] = 0.45f + 0.1f * t;
            b[ENV_RELEASE][i] = 0.1f - 0.01f * t;
            b[ENV_LEVEL][i] = 1.0f - 0.1f * t;
        }
    }
}

// The envelope with its inputs connected to streaming sources (the gate
// last, so that the envelope watches it, except where the scene says
// otherwise), after one block.
inline void StartEnvelope(BenchHost& host, Envelope scene) {
    FillEnvelope(host.Signals(), scene);
    host.SetSetting(ENV_RESET, 0);
    if (scene == Envelope::ControlsStreaming) {
        for (int32_t pin = ENV_ATTACK; pin <= ENV_LEVEL; ++pin) host.Notify(pin, ST_RUN);
    }
    host.Notify(ENV_GATE, ST_RUN);
    for (int32_t i = 0; i < kBlockFrames / 256; ++i) host.Next(256);
    if (scene == Envelope::SustainUnwatched) {
        host.Notify(ENV_SUSTAIN, ST_RUN);
        for (int32_t i = 0; i < kBlockFrames / 256; ++i) host.Next(256);
    }
    host.ResetCounts();
}

}  // namespace vxbench

#endif  // VX_BENCH_SCENARIOS_H
