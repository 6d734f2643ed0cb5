// The renderer's loops against the envelope written out plainly, one sample
// at a time: the same output bits and the same host traffic for any gate,
// wherever in a call it changes, and whatever floating-point state the host
// keeps.
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

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

enum Segment { kIdle, kAttack, kDecay, kSustain, kRelease };

// The envelope one sample at a time, with every announcement, routine
// change and sleep request it makes, as lines of Envelope::Traffic().
class PlainEnvelope {
public:
    explicit PlainEnvelope(int32_t block_size) : block_size_(block_size) {}

    void Notify(int32_t pin, int32_t state) {
        watch_gate_ = pin == GATE;
        const uint32_t bit = uint32_t{1} << pin;
        running_ = state == ST_RUN ? running_ | bit : running_ & ~bit;
        Leave();
        AnnounceRunning(0);
    }
    void Restart() { level_ = 0.0f; }
    void ResetOnTrigger(bool on) { reset_on_trigger_ = on; }

    Samples Call(const float* gate, int32_t n) {
        const bool static_call = static_routine_;
        Samples out(static_cast<size_t>(n));
        bool entered = false;
        for (int32_t i = 0; i < n;) {
            if (!entered) {
                entered = true;
                Enter(i);
            }
            const float g = gate[i];
            float v = 0.0f;
            switch (segment_) {
                case kIdle:
                    if (watch_gate_ && g != 0.0f) {
                        segment_ = kAttack;
                        entered = false;
                        continue;
                    }
                    break;
                case kAttack:
                    if (watch_gate_ && g == 0.0f) {
                        segment_ = kRelease;
                        entered = false;
                        continue;
                    }
                    v = level_ + kStep;
                    if (v > 1.0f) {
                        level_ = 1.0f;
                        segment_ = kDecay;
                        entered = false;
                        continue;
                    }
                    level_ = v;
                    break;
                case kDecay:
                    if (watch_gate_ && g == 0.0f) {
                        segment_ = kRelease;
                        entered = false;
                        continue;
                    }
                    v = level_ - kStep;
                    if (v < kSustainLevel) {
                        segment_ = kSustain;
                        entered = false;
                        continue;
                    }
                    level_ = v;
                    break;
                case kSustain:
                    if (watch_gate_ && g == 0.0f) {
                        segment_ = kRelease;
                        entered = false;
                        continue;
                    }
                    v = level_;
                    break;
                default:
                    if (watch_gate_ && g > 0.0f) {
                        if (reset_on_trigger_) level_ = 0.0f;
                        segment_ = kAttack;
                        entered = false;
                        continue;
                    }
                    v = level_ - kReleaseStep;
                    if (v <= 0.0f) {
                        level_ = 0.0f;
                        segment_ = kIdle;
                        entered = false;
                        continue;
                    }
                    level_ = v;
                    break;
            }
            out[static_cast<size_t>(i++)] = v;
        }
        if (static_call) {
            if (countdown_ > 0) countdown_ -= n;
            if (countdown_ <= 0 && static_routine_ && running_ == 0) traffic.push_back("SLEEP");
        }
        return out;
    }

    Lines traffic;

private:
    static constexpr float kStep = 1.0f / 24.0f;
    static constexpr float kReleaseStep = 1.0f / 192.0f;

    // Entry actions of the current segment (the steps are positive, so
    // neither the attack nor the decay hands its first sample on at entry).
    void Enter(int32_t i) {
        if (segment_ == kAttack || segment_ == kRelease) {
            AnnounceRunning(i);
        } else if (segment_ == kIdle || segment_ == kSustain) {
            AnnounceStatic(i);
            if (!static_routine_ && running_ == 0) {
                countdown_ = block_size_;
                static_routine_ = true;
                traffic.push_back("static");
            }
            if (segment_ == kSustain) level_ = kSustainLevel;
        }
    }
    void AnnounceRunning(int32_t offset) {
        if (output_static_) traffic.push_back("RUN+" + std::to_string(offset));
        output_static_ = false;
        Leave();
    }
    void AnnounceStatic(int32_t offset) {
        if (output_static_ || running_ != 0) return;
        traffic.push_back("ONE_OFF+" + std::to_string(offset));
        output_static_ = true;
    }
    void Leave() {
        if (static_routine_) traffic.push_back("normal");
        static_routine_ = false;
    }

    int32_t block_size_;
    Segment segment_ = kIdle;
    float level_ = 0.0f;
    bool watch_gate_ = false;
    bool reset_on_trigger_ = false;
    bool output_static_ = true;
    bool static_routine_ = false;
    uint32_t running_ = 0;
    int32_t countdown_ = 0;
};

// Host MXCSR values the calls are made under: the default, sticky flags
// gathered, and flushing, denormals-are-zero and other rounding with and
// without flags. None may reach the output or survive the call changed.
constexpr unsigned kHostMxcsr[] = {0x1F80, 0x1FA0, 0x1FBF, 0xFFC0, 0xFFE1, 0x3F90};

// The plug-in and the plain envelope side by side, over pin buffers of one
// block that the calls walk through; the traffic of both is compared at the
// end of every call.
class SideBySide {
public:
    explicit SideBySide(int32_t block_size)
        : env_(kRate, block_size, ReferenceInputs()), plain_(block_size), block_size_(block_size) {
        env_.host.Fill(GATE, 0.0f);
    }

    void Notify(int32_t pin, int32_t state) {
        UnderHostState([&] { env_.Notify(pin, state); });
        plain_.Notify(pin, state);
    }
    void Restart() {
        UnderHostState([&] { env_.host.Dispatch(OP_RESTART); });
        plain_.Restart();
    }
    void ResetOnTrigger(bool on) {
        env_.host.SetSetting(RESET_ON_TRIGGER, on ? 1.0 : 0.0);
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
        float* const gate_buffer = env_.host.Buffer(GATE).data() + position_;
        std::memcpy(gate_buffer, gate, sizeof(float) * static_cast<size_t>(n));
        float* const out = env_.host.Buffer(OUT).data() + position_;
        std::fill(out, out + n, std::numeric_limits<float>::quiet_NaN());
        UnderHostState([&] { env_.host.Process(position_, n); });
        const Samples expected = plain_.Call(gate, n);
        EXPECT_EQ(std::memcmp(out, expected.data(), sizeof(float) * static_cast<size_t>(n)), 0)
            << "call " << calls_ << " of " << n << " samples at " << position_ << ", first sample " << sample_ << "\n"
            << Describe(out, expected);
        EXPECT_EQ(env_.Traffic(), plain_.traffic) << "call " << calls_;
        env_.Forget();
        plain_.traffic.clear();
        position_ += n;
        sample_ += n;
        ++calls_;
        return n;
    }
    bool Failed() const { return testing::Test::HasFailure(); }

private:
    // Runs `call` into the plug-in under the next host state and checks that
    // the state comes back as it was.
    template <class Call>
    void UnderHostState(Call call) {
        const unsigned host = kHostMxcsr[state_++ % (sizeof kHostMxcsr / sizeof kHostMxcsr[0])];
        _mm_setcsr(host);
        call();
        const unsigned after = _mm_getcsr();
        _mm_setcsr(0x1F80);
        EXPECT_EQ(after, host) << std::hex << "MXCSR " << host << " came back as " << after;
    }
    static std::string Describe(const float* out, const Samples& expected) {
        std::string text;
        for (size_t k = 0; k < expected.size(); ++k) {
            if (std::memcmp(&out[k], &expected[k], sizeof(float)) == 0) continue;
            text += "  [" + std::to_string(k) + "] " + std::to_string(out[k]) + " instead of " +
                    std::to_string(expected[k]) + "\n";
        }
        return text;
    }

    Envelope env_;
    PlainEnvelope plain_;
    int32_t block_size_;
    int32_t position_ = 0;
    int64_t sample_ = 0;
    int calls_ = 0;
    unsigned state_ = 0;
};

// Gate values of every kind the comparisons meet: 0 of both signs, positive
// and negative values, a denormal (other than 0 even where the host flushes
// them), infinities and a NaN (other than 0, not greater than 0).
const float kGateValues[] = {0.0f,   -0.0f,   1.0f,     0.5f,      -1.0f,
                             1e-40f, -1e-40f, INFINITY, -INFINITY, std::numeric_limits<float>::quiet_NaN()};

}  // namespace

// Gate runs of random values and lengths, calls of random lengths, watch
// changes, streaming inputs, restarts and the reset setting switched now
// and then.
TEST(EnvelopeLoops, RandomGatesGiveThePlainEnvelopesSamplesAndTraffic) {
    std::mt19937 random(20261208);
    const auto below = [&random](uint32_t n) { return static_cast<int32_t>(random() % n); };
    for (int32_t block_size : {64, 256, 301}) {
        SideBySide both(block_size);
        both.Notify(GATE, ST_ONE_OFF);
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
                    both.Notify(GATE, below(2) == 0 ? ST_RUN : ST_ONE_OFF);
                    break;
                case 1:
                    both.Notify(GATE, ST_STATIC);
                    break;
                case 2:
                    both.Notify(1 + below(7), below(3));
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

// One note pattern with gate changes in every segment (a retrigger with and
// without reset, a note held by a negative gate, a NaN in the idle), played
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
        for (int32_t shift = 0; shift < frames; ++shift) {
            SideBySide both(frames * 5);
            both.Notify(GATE, (frames + shift) % 3 == 0 ? ST_RUN : ST_ONE_OFF);
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
            ASSERT_FALSE(both.Failed()) << "calls of " << frames << ", the first " << shift << " long";
        }
    }
}
