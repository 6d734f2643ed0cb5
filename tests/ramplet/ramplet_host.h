// The envelope plug-in in a recording test host, driven through its
// exported entry points, with helpers that turn the host traffic into short
// readable lines.
#ifndef VX_TESTS_RAMPLET_HOST_H
#define VX_TESTS_RAMPLET_HOST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PluginLibrary.h"
#include "TestHost.h"

enum RampletPin : int32_t {
    GATE = 0,
    ATTACK = 1,
    DECAY = 2,
    SUSTAIN = 3,
    RELEASE = 4,
    LEVEL = 5,
    OUT = 6,
    RESET_ON_TRIGGER = 7
};

// Inputs whose exponent x * 10 - offset is exactly -6 in single precision:
// at 256 Hz the attack and release last 4 samples and the decay falls by
// half the peak in 4 samples.
constexpr float kAttackIn4 = 0x1.1110fap-4f;
constexpr float kDecayIn4 = 0x1.55554ap-3f;
constexpr float kExactRate = 256.0f;

using Lines = std::vector<std::string>;
using Samples = std::vector<float>;

inline const vxhost::PluginLibrary& Ramplet() {
    static std::unique_ptr<vxhost::PluginLibrary> library;
    if (!library) {
        std::string error;
        library =
            vxhost::PluginLibrary::Load(std::string(VX_PLUGIN_DIR) + "/" + vxhost::PluginFileName("ramplet"), &error);
        if (!library) throw std::runtime_error(error);
    }
    return *library;
}

// The five control inputs, held over the whole buffer.
struct Inputs {
    float attack = kAttackIn4, decay = kDecayIn4, sustain = 0.5f, release = kAttackIn4, level = 1.0f;
};

// One instance, opened, with its control inputs set and the traffic of the
// opening forgotten.
class Envelope {
public:
    explicit Envelope(float sample_rate = kExactRate, int32_t block_size = 256, Inputs inputs = Inputs())
        : host(Ramplet()) {
        host.Open(sample_rate, block_size);
        normal_routine = host.Record()->process_function;
        Set(inputs);
        Forget();
    }

    void Set(const Inputs& in) {
        host.Fill(ATTACK, in.attack);
        host.Fill(DECAY, in.decay);
        host.Fill(SUSTAIN, in.sustain);
        host.Fill(RELEASE, in.release);
        host.Fill(LEVEL, in.level);
    }
    // The gate samples from `offset` on; the rest of the buffer keeps its values.
    void Gate(const std::vector<float>& samples, int32_t offset = 0) {
        for (size_t k = 0; k < samples.size(); ++k) host.Buffer(GATE).at(offset + k) = samples[k];
    }
    // A notification on `pin` at the current clock.
    void Notify(int32_t pin, int32_t state) { host.SendPinStatus(pin, state); }
    // A gate notification that neither marks the gate as streaming nor leaves
    // the output announced as moving: the envelope follows the gate from now on.
    void WatchGate() {
        Notify(GATE, ST_ONE_OFF);
        Forget();
    }
    // One processing call of `frames` samples at the current clock, which
    // then moves on by `frames`; the output samples of the call.
    Samples Call(int32_t frames) {
        host.RunBlock(frames);
        const auto& out = host.Buffer(OUT);
        return Samples(out.begin(), out.begin() + frames);
    }
    // `calls` such calls, their output joined.
    Samples Calls(int calls, int32_t frames) {
        Samples all;
        for (int c = 0; c < calls; ++c) {
            const Samples part = Call(frames);
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }
    void Forget() {
        host.ClearCalls();
        static_at_forget = StaticRoutine();
    }
    bool StaticRoutine() const { return host.Record()->process_function != normal_routine; }

    // Output announcements, routine changes and sleep requests in order:
    // "RUN+3" is ST_RUN on "Signal Out" stamped with the calling clock plus 3.
    std::vector<std::string> Traffic() const {
        std::vector<std::string> lines;
        bool is_static = static_at_forget;
        for (const vxhost::HostCall& call : host.Calls()) {
            if (call.opcode == HC_PIN_STATUS) {
                const int64_t offset = static_cast<int64_t>(call.PtrAsClock()) - call.host_clock;
                std::string line = call.value == ST_RUN ? "RUN" : call.value == ST_ONE_OFF ? "ONE_OFF" : "?";
                if (call.index != OUT) line += " on pin " + std::to_string(call.index);
                lines.push_back(line + (offset >= 0 ? "+" : "") + std::to_string(offset));
            } else if (call.opcode == HC_PROCESS_CHANGED) {
                is_static = !is_static;
                lines.push_back(is_static ? "static" : "normal");
            } else if (call.opcode == HC_SLEEP) {
                lines.push_back("SLEEP");
            }
        }
        return lines;
    }

    vxhost::TestHost host;
    VXProcessFunction normal_routine = nullptr;
    bool static_at_forget = false;
};

#endif  // VX_TESTS_RAMPLET_HOST_H
