// The envelope kernel against the envelope written out plainly, one sample
// at a time: the same output bits, and the same places where a segment
// begins, for any gate, wherever in a call it changes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "Envelope.h"
#include "EnvelopeHoldAvx2.h"
#include "ramplet_host.h"

namespace {
// At 768 Hz these inputs give segment times of exactly 24 samples (attack),
// 12 samples for half the peak (decay) and 192 samples (release); the steps
// 1/24, 1/24 and 1/192 are inexact, so the running sums round.
constexpr float kRate = 768.0f;
constexpr float kAttackIn24 = 0x1.55554ap-3f;
constexpr float kReleaseIn192 = 0x1.ddddd8p-2f;
constexpr float kSustainLevel = 0.3f;

Inputs ReferenceInputs() {
    Inputs in;
    in.attack = kAttackIn24;
    in.decay = kAttackIn24;
    in.sustain = kSustainLevel;
    in.release = kReleaseIn192;
    in.level = 1.0f;
    return in;
}

const char* SegmentName(int32_t segment) {
    static const char* const kNames[] = {"idle", "attack", "decay", "sustain", "release"};
    return segment >= 0 && segment <= 4 ? kNames[segment] : "?";
}

// The envelope one sample at a time. It notes where each segment begins
// ("sustain+11"): at the start of every call, and wherever a segment hands
// over to another, except from the attack to the decay, where the output
// goes on moving.
class PlainEnvelope {
public:
    void Watch(bool gate) { watch_gate_ = gate; }
    void Restart() { level_ = 0.0f; }
    void ResetOnTrigger(bool on) { reset_on_trigger_ = on; }

    Samples Call(const float* gate, int32_t n) {
        Samples out(static_cast<size_t>(n));
        if (n > 0) Begins(0);
        for (int32_t i = 0; i < n;) {
            const float g = gate[i];
            float v = 0.0f;
            switch (segment_) {
                case ramplet::ENV_IDLE:
                    if (watch_gate_ && g != 0.0f) {
                        Enter(ramplet::ENV_ATTACK, i);
                        continue;
                    }
                    break;
                case ramplet::ENV_ATTACK:
                    if (watch_gate_ && g == 0.0f) {
                        Enter(ramplet::ENV_RELEASE, i);
                        continue;
                    }
                    v = level_ + kStep;
                    if (v > 1.0f) {
                        level_ = 1.0f;
                        segment_ = ramplet::ENV_DECAY;
                        continue;
                    }
                    level_ = v;
                    break;
                case ramplet::ENV_DECAY:
                    if (watch_gate_ && g == 0.0f) {
                        Enter(ramplet::ENV_RELEASE, i);
                        continue;
                    }
                    v = level_ - kStep;
                    if (v < kSustainLevel) {
                        Enter(ramplet::ENV_SUSTAIN, i);
                        continue;
                    }
                    level_ = v;
                    break;
                case ramplet::ENV_SUSTAIN:
                    if (watch_gate_ && g == 0.0f) {
                        Enter(ramplet::ENV_RELEASE, i);
                        continue;
                    }
                    v = level_;
                    break;
                default:
                    if (watch_gate_ && g > 0.0f) {
                        if (reset_on_trigger_) level_ = 0.0f;
                        Enter(ramplet::ENV_ATTACK, i);
                        continue;
                    }
                    v = level_ - kReleaseStep;
                    if (v <= 0.0f) {
                        level_ = 0.0f;
                        Enter(ramplet::ENV_IDLE, i);
                        continue;
                    }
                    level_ = v;
                    break;
            }
            out[static_cast<size_t>(i++)] = v;
        }
        return out;
    }

    Lines begins;

private:
    static constexpr float kStep = 1.0f / 24.0f;
    static constexpr float kReleaseStep = 1.0f / 192.0f;

    void Enter(int32_t segment, int32_t i) {
        segment_ = segment;
        Begins(i);
    }
    // The sustain reloads its level whenever it begins.
    void Begins(int32_t i) {
        if (segment_ == ramplet::ENV_SUSTAIN) level_ = kSustainLevel;
        begins.push_back(SegmentName(segment_) + std::string("+") + std::to_string(i));
    }

    int32_t segment_ = ramplet::ENV_IDLE;
    float level_ = 0.0f;
    bool watch_gate_ = false;
    bool reset_on_trigger_ = false;
};

// The kernel, started and given the reference inputs in the order the
// module's first examination applies them, and called as the module calls
// it: from each sample where it stopped, noting the segment that begins there.
class Kernel {
public:
    explicit Kernel(bool avx2_holds) {
        envelope_.Start(kRate);
        envelope_.avx2_holds = avx2_holds;
        const Inputs in = ReferenceInputs();
        envelope_.SetAttack(in.attack);
        envelope_.SetDecay(in.decay);
        envelope_.SetSustain(in.sustain);
        envelope_.SetRelease(in.release);
        envelope_.SetOverallLevel(in.level, in.sustain);
    }
    void Watch(bool gate) { watch_gate_ = gate; }
    void Restart() { envelope_.level = 0.0f; }
    void ResetOnTrigger(bool on) { reset_on_trigger_ = on; }

    void Call(float* out, const float* gate, int32_t n) {
        for (int32_t i = 0; i < n;) {
            begins.push_back(SegmentName(envelope_.segment) + std::string("+") + std::to_string(i));
            i = envelope_.Render(out, watch_gate_ ? gate : nullptr, i, n, reset_on_trigger_);
        }
    }

    Lines begins;

private:
    ramplet::Envelope envelope_;
    bool watch_gate_ = false;
    bool reset_on_trigger_ = false;
};

// The kernel and the plain envelope side by side, over buffers of one block
// that the calls walk through; what each writes and where each segment
// begins are compared at the end of every call.
class SideBySide {
public:
    SideBySide(int32_t block_size, bool avx2_holds)
        : kernel_(avx2_holds),
          gate_(static_cast<size_t>(block_size)),
          out_(static_cast<size_t>(block_size)),
          block_size_(block_size) {}

    void Watch(bool gate) {
        kernel_.Watch(gate);
        plain_.Watch(gate);
    }
    void Restart() {
        kernel_.Restart();
        plain_.Restart();
    }
    void ResetOnTrigger(bool on) {
        kernel_.ResetOnTrigger(on);
        plain_.ResetOnTrigger(on);
    }
    // Leaves `frames` samples of the buffers to no call.
    void Skip(int32_t frames) { position_ += frames; }

    // One call over the next gate samples; a call that would run past the
    // buffers is cut at their end, and the next one starts at their start.
    // Returns the samples it took.
    int32_t Call(const float* gate, int32_t frames) {
        if (position_ == block_size_) position_ = 0;
        const int32_t n = std::min(frames, block_size_ - position_);
        float* const gate_buffer = gate_.data() + position_;
        std::memcpy(gate_buffer, gate, sizeof(float) * static_cast<size_t>(n));
        float* const out = out_.data() + position_;
        std::fill(out, out + n, std::numeric_limits<float>::quiet_NaN());
        kernel_.Call(out, gate_buffer, n);
        const Samples expected = plain_.Call(gate, n);
        EXPECT_EQ(std::memcmp(out, expected.data(), sizeof(float) * static_cast<size_t>(n)), 0)
            << "call " << calls_ << " of " << n << " samples at " << position_ << ", first sample " << sample_ << "\n"
            << Describe(out, expected);
        EXPECT_EQ(kernel_.begins, plain_.begins) << "call " << calls_;
        kernel_.begins.clear();
        plain_.begins.clear();
        position_ += n;
        sample_ += n;
        ++calls_;
        return n;
    }
    bool Failed() const { return testing::Test::HasFailure(); }

private:
    static std::string Describe(const float* out, const Samples& expected) {
        std::string text;
        for (size_t k = 0; k < expected.size(); ++k) {
            if (std::memcmp(&out[k], &expected[k], sizeof(float)) == 0) continue;
            text += "  [" + std::to_string(k) + "] " + std::to_string(out[k]) + " instead of " +
                    std::to_string(expected[k]) + "\n";
        }
        return text;
    }

    Kernel kernel_;
    PlainEnvelope plain_;
    std::vector<float> gate_, out_;
    int32_t block_size_;
    int32_t position_ = 0;
    int64_t sample_ = 0;
    int calls_ = 0;
};

// Gate values of every kind the comparisons meet: 0 of both signs, positive
// and negative values, a denormal (other than 0 even where the host flushes
// them), infinities and a NaN (other than 0, not greater than 0).
const float kGateValues[] = {0.0f,   -0.0f,   1.0f,     0.5f,      -1.0f,
                             1e-40f, -1e-40f, INFINITY, -INFINITY, std::numeric_limits<float>::quiet_NaN()};

// The holds in SSE2, and in AVX2 where this processor has it.
std::vector<bool> HoldLanes() {
    if (ramplet::HoldsCanUseAvx2()) return {false, true};
    return {false};
}

}  // namespace

// Gate runs of random values and lengths, calls of random lengths, the gate
// watch switched on and off, restarts and the reset setting switched now
// and then.
TEST(EnvelopeLoops, RandomGatesGiveThePlainEnvelopesSamplesAndSegments) {
    for (const bool avx2 : HoldLanes()) {
        SCOPED_TRACE(avx2 ? "AVX2 holds" : "SSE2 holds");
        std::mt19937 random(20261208);
        const auto below = [&random](uint32_t n) { return static_cast<int32_t>(random() % n); };
        for (int32_t block_size : {64, 256, 301}) {
            SideBySide both(block_size, avx2);
            both.Watch(true);
            std::vector<float> gate;
            for (int run = 0; run < 1500 && !both.Failed(); ++run) {
                // Mostly 0 and 1 with the odd value of another kind, in runs from one
                // sample to past a whole note.
                const float value = below(4) != 0 ? static_cast<float>(run % 2) : kGateValues[below(10)];
                const int32_t length = below(3) == 0 ? 1 + below(4) : 1 + below(below(2) == 0 ? 40 : 400);
                gate.insert(gate.end(), static_cast<size_t>(length), value);
            }
            size_t done = 0;
            while (done < gate.size() && !both.Failed()) {
                switch (below(40)) {
                    case 0:
                    case 1:
                        both.Watch(true);
                        break;
                    case 2:
                        both.Watch(false);
                        break;
                    case 3:
                        both.Restart();
                        break;
                    case 4:
                        both.ResetOnTrigger(below(2) == 0);
                        break;
                    default:
                        break;
                }
                const auto left = static_cast<int32_t>(gate.size() - done);
                const int32_t frames = 1 + below(below(4) == 0 ? 8 : 80);
                done += static_cast<size_t>(both.Call(gate.data() + done, std::min(frames, left)));
            }
        }
    }
}

// One note pattern with gate changes in every segment (a retrigger with and
// without reset, a note held by a negative gate and one held by gates that
// share no bit, a NaN in the idle), played
// in calls of one length whose first call is cut short by every amount in
// turn: each change falls on every position of a call once, the first and
// the last sample included, and calls end at the end of the buffers.
TEST(EnvelopeLoops, GateChangesAtEveryPositionOfACall) {
    struct Run {
        int32_t length;
        float value;
    };
    const Run kPattern[] = {
        {5, 0.0f},
        {10, 1.0f},
        {3, 0.0f},
        {30, 1.0f},
        {20, 0.0f},  // attack and decay cut short
        {100, 1.0f},
        {20, 0.0f},
        {40, 1.0f},
        {40, 2.0f},
        {40, 1.0f},
        {20, 0.0f},
        {4, 1.0f},
        {2, -0.0f},
        {90, 0.0f},  // sustain, release, retrigger
        {17, std::numeric_limits<float>::quiet_NaN()},
        {130, 0.0f},  // a NaN starts a note
        {100, -1.0f},
        {33, 0.0f},
        {6, -1.0f},
        {80, 0.0f},
        {48, 1e-40f},
        {70, 0.0f},
    };
    std::vector<float> gate;
    for (const Run& r : kPattern) gate.insert(gate.end(), static_cast<size_t>(r.length), r.value);
    for (int32_t frames : {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 100}) {
        for (const bool avx2 : HoldLanes()) {
            for (int32_t shift = 0; shift < frames; ++shift) {
                SideBySide both(frames * 5, avx2);
                both.Watch(true);
                both.ResetOnTrigger(shift % 2 == 1);
                size_t done = 0;
                if (shift > 0) {
                    both.Skip(frames - shift);
                    done += static_cast<size_t>(both.Call(gate.data(), shift));
                }
                while (done < gate.size() && !both.Failed()) {
                    const auto left = static_cast<int32_t>(gate.size() - done);
                    done += static_cast<size_t>(both.Call(gate.data() + done, std::min(frames, left)));
                }
                ASSERT_FALSE(both.Failed()) << "calls of " << frames << ", the first " << shift << " long"
                                            << (avx2 ? ", AVX2 holds" : ", SSE2 holds");
            }
        }
    }
}
