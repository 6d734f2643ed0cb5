// Inputs outside every sound setting: the output stays finite, nothing breaks
// for good, and once the inputs are back in range the oscillator sounds
// normally again within one block, without waiting for the gate to close.
#include <cmath>

#include "sumtone_host.h"

namespace {

Inputs Normal() {
    Inputs in;
    in.fm1 = 0.1f, in.n = 0.5f, in.a = 0.07f, in.maxfreq = 2000, in.mode = 2;
    return in;
}

// Renders one block of each input set in turn.
std::vector<float> RenderBlocks(Sumtone& s, const std::vector<Inputs>& blocks) {
    std::vector<float> out;
    for (const Inputs& in : blocks) {
        s.Set(in);
        const std::vector<float> block = s.Render(1);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

bool AllFinite(const std::vector<float>& v) {
    for (float x : v)
        if (!std::isfinite(x)) return false;
    return true;
}

std::vector<float> Block(const std::vector<float>& v, int b) {
    return std::vector<float>(v.begin() + 256 * b, v.begin() + 256 * (b + 1));
}

}  // namespace

TEST(SumtoneFaults, BadInputsLeaveTheOutputFiniteAndTheNextBlockSoundsNormally) {
    const float inf = INFINITY, nan = NAN;
    enum class Recovery { Restarts, Continues, Different };  // from phase 0, undisturbed, another sound
    // "unlimited": a spacing too small for the band limit, where a negative
    // count reaches the closed form with a zero denominator.
    struct Fault {
        float Inputs::*input;
        float value;
        Recovery recovery;
        bool unlimited;
    } faults[] = {
        {&Inputs::fc, nan, Recovery::Restarts, false},       {&Inputs::fc, inf, Recovery::Restarts, false},
        {&Inputs::fm1, nan, Recovery::Restarts, false},      {&Inputs::fm1, inf, Recovery::Restarts, false},
        {&Inputs::detune, -inf, Recovery::Restarts, false},  {&Inputs::n, nan, Recovery::Restarts, false},
        {&Inputs::n, -1.0f, Recovery::Restarts, false},      {&Inputs::n, -1.0f, Recovery::Restarts, true},
        {&Inputs::n, -inf, Recovery::Restarts, true},        {&Inputs::maxfreq, nan, Recovery::Restarts, false},
        {&Inputs::maxfreq, -inf, Recovery::Restarts, false}, {&Inputs::a, nan, Recovery::Continues, false},
        {&Inputs::a, inf, Recovery::Continues, false},       {&Inputs::a, -inf, Recovery::Continues, true},
        {&Inputs::gate, nan, Recovery::Continues, false},    {&Inputs::n, 1e10f, Recovery::Different, false},
        {&Inputs::n, inf, Recovery::Different, true},        {&Inputs::maxfreq, inf, Recovery::Different, false},
        {&Inputs::a, 1e30f, Recovery::Different, true},
    };
    for (const Fault& f : faults) {
        Inputs normal = Normal();
        if (f.unlimited) normal.fm1 = 0, normal.detune = 0.000001f;
        Inputs bad = normal;
        bad.*f.input = f.value;
        Sumtone s, undisturbed, fresh;
        const std::vector<float> out = RenderBlocks(s, {normal, bad, normal});
        ASSERT_TRUE(AllFinite(out)) << f.value;
        if (f.recovery == Recovery::Restarts) {
            EXPECT_EQ(RenderBlocks(fresh, {normal}), Block(out, 2)) << f.value;
        } else if (f.recovery == Recovery::Continues) {
            EXPECT_EQ(Block(RenderBlocks(undisturbed, {normal, normal, normal}), 2), Block(out, 2)) << f.value;
        }
    }
    Sumtone without_rate(0.0f);  // a host that never set a sample rate
    EXPECT_TRUE(AllFinite(RenderBlocks(without_rate, {Normal()})));
}

TEST(SumtoneFaults, PhasesDrivenFarBeyondTheSampleRateComeBackIntoRange) {
    // Back at 440 Hz without spacing, the output is a sine again at once:
    // y[j+1] + y[j-1] = 2·cos ω·y[j], with the amplitude of the lowest partial
    // and its neighbour at whatever spacing angle the phase stopped at.
    const double omega = 2 * 3.14159265358979 * 440 / 44100;
    Inputs in = Normal();
    in.mode = 1, in.n = 0.1f, in.a = 0.05f, in.maxfreq = 1e9f, in.fm1 = 0;
    Inputs high = in, spacing_high = in;
    high.fc = 2.5f;              // 461 MHz
    spacing_high.detune = 1e7f;  // 100 MHz
    for (const Inputs& far : {high, spacing_high}) {
        Sumtone s;
        const std::vector<float> out = Block(RenderBlocks(s, {in, far, in}), 2);
        for (size_t j = 1; j + 1 < out.size(); ++j) {
            EXPECT_NEAR(out[j + 1] + out[j - 1], 2 * std::cos(omega) * out[j], 1e-5) << j;
            const double slope = (out[j + 1] - out[j - 1]) / (2 * std::sin(omega));
            const double amplitude = std::sqrt(out[j] * out[j] + slope * slope);
            EXPECT_LE(amplitude, 0.5 + 1e-5);
            EXPECT_GE(amplitude, 0.5 / 3 - 1e-5);  // (1 - a) / (2·(1 + a))
        }
    }
}

TEST(SumtoneFaults, ARatioWhosePowerOverflowsStillRendersTheTopPartials) {
    Inputs in = Normal();
    in.mode = 1, in.a = 0.2f, in.n = 200.0f, in.maxfreq = 1e9f;  // 2^2001 overflows
    Sumtone s;
    s.Set(in);
    const std::vector<float> out = s.Render(1);
    const long double spacing = 4400 * static_cast<long double>(in.fm1);
    EXPECT_LT(WorstError(out, SeriesSamples(440, spacing, 2000, 2, true, 256)), 2e-6);
}
