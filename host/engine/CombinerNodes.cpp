#include "CombinerNodes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "HostError.h"

namespace vxhost {

namespace {

constexpr int32_t kMaxInputs = 64;

// Bit for bit: a NaN held is the same NaN, and -0 is not 0.
bool SameInputs(const std::vector<float>& a, const std::vector<float>& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        uint32_t x, y;
        std::memcpy(&x, &a[i], sizeof x);
        std::memcpy(&y, &b[i], sizeof y);
        if (x != y) return false;
    }
    return true;
}

// The loops every voice's combiners run each block. Each is written once
// and compiled twice: for SSE2, and with 32-byte vectors for processors with
// AVX2 (x86-64 only: the 32-bit Windows toolchain does not keep 32-byte
// vectors aligned on the stack). Single-precision products and sums give the
// same bits at any vector width, and no product is fused into a sum.
#define VX_COMBINE_LOOP inline __attribute__((always_inline))

// Whether every sample is finite and all have one sign bit, stored in
// *sign. Integer tests on the bits, so that the loop vectorises and a NaN
// cannot compare its way through. With an unsigned maximum at hand (AVX2),
// the largest bits of samples of one sign are those of the largest
// magnitude, finite exactly when below the infinity's; without one (SSE2),
// each sample's exponent is tested.
template <bool kUnsignedMax>
VX_COMBINE_LOOP bool FiniteOfOneSignLoop(const float* x, int32_t frames, uint32_t* sign) {
    uint32_t any = 0, all = 0xFFFFFFFFu, beyond = 0, top = 0;
    for (int32_t j = 0; j < frames; ++j) {
        uint32_t bits;
        std::memcpy(&bits, &x[j], sizeof bits);
        any |= bits;
        all &= bits;
        if (kUnsignedMax)
            top = std::max(top, bits);
        else  // exponent all ones: an infinity or a NaN
            beyond |= (bits & 0x7F800000u) == 0x7F800000u ? 1u : 0u;
    }
    *sign = any & 0x80000000u;
    if (((any ^ all) & 0x80000000u) != 0) return false;
    return kUnsignedMax ? (top & 0x7FFFFFFFu) < 0x7F800000u : beyond == 0;
}

// The first product in the same pass as the copy: the same bits, one pass
// over the buffers fewer. The output is the module's own buffer, which no
// input shares.
VX_COMBINE_LOOP void ProductLoop(float* __restrict out, const float* __restrict a, const float* __restrict b,
                                 int32_t frames) {
    for (int32_t j = 0; j < frames; ++j) out[j] = a[j] * b[j];
}

VX_COMBINE_LOOP void ScaleLoop(float* __restrict out, const float* __restrict in, int32_t frames) {
    for (int32_t j = 0; j < frames; ++j) out[j] *= in[j];
}

// Up to four inputs added in one pass over the output, each sample's sum
// formed in the same order as one input after another would form it: the
// same bits, a quarter of the output loads and stores. The first pass starts
// each sum at +0 rather than at the output.
template <int N, bool First>
VX_COMBINE_LOOP void AccumulateLoop(float* __restrict out, const float* const* in, const float* gain, int32_t frames) {
    const float* __restrict a = in[0];
    const float* __restrict b = in[N > 1 ? 1 : 0];
    const float* __restrict c = in[N > 2 ? 2 : 0];
    const float* __restrict d = in[N > 3 ? 3 : 0];
    const float ga = gain[0], gb = gain[N > 1 ? 1 : 0], gc = gain[N > 2 ? 2 : 0], gd = gain[N > 3 ? 3 : 0];
    for (int32_t j = 0; j < frames; ++j) {
        float sum = First ? 0.0f : out[j];
        sum += ga * a[j];
        if (N > 1) sum += gb * b[j];
        if (N > 2) sum += gc * c[j];
        if (N > 3) sum += gd * d[j];
        out[j] = sum;
    }
}

struct CombineLoops {
    bool (*finite_of_one_sign)(const float*, int32_t, uint32_t*);
    void (*product)(float*, const float*, const float*, int32_t);
    void (*scale)(float*, const float*, int32_t);
    // [first pass][inputs - 1]
    void (*accumulate[2][4])(float*, const float* const*, const float*, int32_t);
};

// One set of entry points per instruction set, each the loops above.
#define VX_COMBINE_ENTRIES(SUFFIX, TARGET, UNSIGNED_MAX)                                                    \
    TARGET bool FiniteOfOneSign##SUFFIX(const float* x, int32_t frames, uint32_t* sign) {                   \
        return FiniteOfOneSignLoop<UNSIGNED_MAX>(x, frames, sign);                                          \
    }                                                                                                       \
    TARGET void Product##SUFFIX(float* out, const float* a, const float* b, int32_t frames) {               \
        ProductLoop(out, a, b, frames);                                                                     \
    }                                                                                                       \
    TARGET void Scale##SUFFIX(float* out, const float* in, int32_t frames) { ScaleLoop(out, in, frames); }  \
    template <int N, bool First>                                                                            \
    TARGET void Accumulate##SUFFIX(float* out, const float* const* in, const float* gain, int32_t frames) { \
        AccumulateLoop<N, First>(out, in, gain, frames);                                                    \
    }                                                                                                       \
    const CombineLoops kLoops##SUFFIX = {FiniteOfOneSign##SUFFIX,                                           \
                                         Product##SUFFIX,                                                   \
                                         Scale##SUFFIX,                                                     \
                                         {{Accumulate##SUFFIX<1, false>, Accumulate##SUFFIX<2, false>,      \
                                           Accumulate##SUFFIX<3, false>, Accumulate##SUFFIX<4, false>},     \
                                          {Accumulate##SUFFIX<1, true>, Accumulate##SUFFIX<2, true>,        \
                                           Accumulate##SUFFIX<3, true>, Accumulate##SUFFIX<4, true>}}};

VX_COMBINE_ENTRIES(Sse2, , false)
#if defined(__x86_64__)
VX_COMBINE_ENTRIES(Avx2, __attribute__((target("avx2"))), true)
#endif

const CombineLoops& SelectLoops() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return kLoopsAvx2;
#endif
    return kLoopsSse2;
}

const CombineLoops& Loops() {
    static const CombineLoops& loops = SelectLoops();
    return loops;
}

uint32_t SignOf(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits & 0x80000000u;
}

}  // namespace

CombinerNode::CombinerNode(std::string name, int32_t inputs, float idle_value) : Node(std::move(name)) {
    if (inputs < 1 || inputs > kMaxInputs)
        throw HostError(Name() + ": a combining module takes 1 to " + std::to_string(kMaxInputs) + " inputs");
    for (int32_t i = 1; i <= inputs; ++i) {
        NodePin pin;
        pin.name = "in" + std::to_string(i);
        pin.default_value = idle_value;
        AddPin(pin);
    }
    NodePin out;
    out.name = "out";
    out.direction = PinDirection::Output;
    AddPin(out);
    m_held_inputs.assign(static_cast<size_t>(inputs), 0.0f);
    m_inputs_now.assign(static_cast<size_t>(inputs), 0.0f);
    ProcessWholeBlocks();
}

void CombinerNode::Process(int32_t offset, int32_t frames) {
    const int32_t inputs = OutputPin();
    const bool whole = offset == 0 && frames == BlockFrames();
    bool still = whole;
    m_inputs_known = whole;
    uint64_t holds = 0;
    float* now = m_inputs_now.data();
    for (int32_t i = 0; whole && i < inputs; ++i)
        if (InputConstant(i, frames, &now[i])) holds |= uint64_t{1} << i;
    m_input_holds = holds;
    // The mask of all inputs, without shifting by 64.
    still = still && holds == (~uint64_t{0} >> (64 - inputs));
    if (still && m_holds && frames <= m_held_frames && SameInputs(m_inputs_now, m_held_inputs)) return;
    const bool constant = Combine(offset, frames);
    // Constant inputs make a constant output, the same at every sample; so
    // may moving ones (a product with a zero).
    const float* out = Buffer(OutputPin());
    OutputHolds(OutputPin(), whole && (still || constant) ? frames : 0, out[0]);
    m_holds = still;
    HoldWhileInputsHold(still ? frames : 0);
    if (still) {
        m_held_inputs = m_inputs_now;  // same size: no allocation
        m_held_frames = frames;
    }
}

void CombinerNode::OnPinStatus(int32_t, int32_t state) {
    const bool running = AnyInputStreaming();
    if (running && !m_running)
        Announce(OutputPin(), ST_RUN, Now());
    else if (!running && (m_running || state == ST_ONE_OFF))
        Announce(OutputPin(), ST_ONE_OFF, Now());
    m_running = running;
}

MultiplierNode::MultiplierNode(std::string name, int32_t inputs) : CombinerNode(std::move(name), inputs, 1.0f) {}

bool MultiplierNode::Combine(int32_t offset, int32_t frames) {
    if (offset == 0 && frames == BlockFrames() && CombineZero(frames)) return true;
    m_zero_frames = 0;
    float* out = Buffer(OutputPin()) + offset;
    const float* first = Buffer(0) + offset;
    if (OutputPin() < 2) {
        std::copy_n(first, frames, out);
        return false;
    }
    const CombineLoops& loops = Loops();
    loops.product(out, first, Buffer(1) + offset, frames);
    for (int32_t i = 2; i < OutputPin(); ++i) loops.scale(out, Buffer(i) + offset, frames);
    return false;
}

// A voice whose oscillator has gone silent while its envelope releases: one
// of the first two factors holds an exact zero. Every product is then a zero
// as long as every other factor is finite (0 times an infinity or a NaN is a
// NaN, and the zero comes before any product of the others could overflow),
// and its sign is the product of the signs. When the other factors keep one
// sign over the block, the output is one signed zero, written once and then
// left, and what reads it can tell it holds (the mixer skips it).
bool MultiplierNode::CombineZero(int32_t frames) {
    const int32_t inputs = OutputPin();
    if (inputs < 2) return false;
    float zero = 1.0f;
    int32_t zero_pin = -1;
    for (int32_t i = 0; i < 2 && zero_pin < 0; ++i)
        if (InputHolds(i, frames, &zero) && zero == 0.0f) zero_pin = i;
    if (zero_pin < 0) return false;
    uint32_t sign = SignOf(zero);
    for (int32_t i = 0; i < inputs; ++i) {
        if (i == zero_pin) continue;
        float held = 0.0f;
        if (InputHolds(i, frames, &held)) {
            if (!std::isfinite(held)) return false;
            sign ^= SignOf(held);
        } else {
            uint32_t run_sign = 0;
            if (!Loops().finite_of_one_sign(Buffer(i), frames, &run_sign)) return false;
            sign ^= run_sign;
        }
    }
    const float value = sign != 0 ? -0.0f : 0.0f;
    if (m_zero_frames < frames || SignOf(m_zero) != sign) {
        std::fill_n(Buffer(OutputPin()), frames, value);
        m_zero = value;
        m_zero_frames = frames;
    }
    return true;
}

MixerNode::MixerNode(std::string name, int32_t inputs, std::vector<float> gains)
    : CombinerNode(std::move(name), inputs, 0.0f), m_gains(std::move(gains)) {
    if (m_gains.size() > static_cast<size_t>(inputs))
        throw HostError(Name() + ": " + std::to_string(m_gains.size()) + " gains for " + std::to_string(inputs) +
                        " inputs");
    m_gains.resize(static_cast<size_t>(inputs), 1.0f);
    m_sum_inputs.assign(static_cast<size_t>(inputs), nullptr);
    m_sum_gains.assign(static_cast<size_t>(inputs), 0.0f);
}

// An input that holds 0 adds nothing (the sum starts at +0, and adding a
// zero of either sign to it or to any other sum changes no bit), so a
// silent voice costs nothing here.
bool MixerNode::Combine(int32_t offset, int32_t frames) {
    float* out = Buffer(OutputPin()) + offset;
    size_t count = 0;
    for (int32_t i = 0; i < OutputPin(); ++i) {
        const float gain = m_gains[static_cast<size_t>(i)];
        float held = 1.0f;
        if (std::isfinite(gain) && InputHolds(i, offset + frames, &held) && held == 0.0f) continue;
        m_sum_inputs[count] = Buffer(i) + offset;
        m_sum_gains[count] = gain;
        ++count;
    }
    if (count == 0) {
        std::fill_n(out, frames, 0.0f);
        return true;
    }
    const CombineLoops& loops = Loops();
    loops.accumulate[1][std::min<size_t>(count, 4) - 1](out, m_sum_inputs.data(), m_sum_gains.data(), frames);
    for (size_t i = 4; i < count; i += 4)
        loops.accumulate[0][std::min<size_t>(count - i, 4) - 1](out, &m_sum_inputs[i], &m_sum_gains[i], frames);
    return false;
}

}  // namespace vxhost
