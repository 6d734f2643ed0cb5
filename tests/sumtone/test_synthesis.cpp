// The rendered series against the mathematics: the cases with known values,
// the band limit's partial counts, and the worst error over a sweep of
// settings, each output sample compared with the partials summed one by one.
#include <cstdio>

#include "sumtone_host.h"

namespace {

std::vector<float> RenderSettled(const Inputs& in, int32_t blocks = 2, float rate = 44100.0f) {
    Sumtone s(rate);
    s.Set(in);
    return s.Render(blocks);
}

}  // namespace

TEST(SumtoneSeries, DefaultsAreSilentAndAnOpenGateAloneIsHalfASineAt13_75Hz) {
    Inputs in;
    in.fc = 0.0f;
    in.gate = 0.0f;
    EXPECT_EQ(std::vector<float>(512, 0.0f), RenderSettled(in));
    in.gate = 1.0f;
    EXPECT_LT(WorstError(RenderSettled(in), SeriesSamples(13.75L, 0, 0, 0, true, 512)), 2e-7);
    in.fc = -20.0f;  // the cache's start value: taken as -20 Hz without an exponential
    EXPECT_LT(WorstError(RenderSettled(in), SeriesSamples(-20, 0, 0, 0, true, 512)), 2e-7);
}

TEST(SumtoneSeries, NoPartialAboveTheLowestGivesHalfASineWhateverRatioAndSpacing) {
    for (float a : {0.0f, 0.05f, 0.1f, 0.3f, -0.07f})
        for (int16_t mode : {1, 2}) {
            Inputs in;
            in.a = a, in.fm1 = 0.1f, in.maxfreq = 2000, in.mode = mode;
            EXPECT_LT(WorstError(RenderSettled(in), SeriesSamples(440, 0, 0, 0, true, 512)), 1e-6)
                << a << " mode " << mode;
        }
}

TEST(SumtoneSeries, KnownSampleAtThetaHalfAndBetaQuarter) {
    // At 1760 Hz sampling, 440 Hz and a 220 Hz spacing reach θ = π/2 and
    // β = π/4 at the second sample.
    struct Case {
        float n;
        int16_t mode;
        double expected;
    } cases[] = {{0.1f, 1, 0.45118},  {0.1f, 2, 0.56904}, {0.1f, 3, 0.56904},
                 {0.1f, -1, 0.56904}, {0.0f, 1, 0.5},     {0.0f, 2, 0.5}};
    for (const Case& c : cases) {
        Inputs in;
        in.detune = 22.0f, in.n = c.n, in.a = 0.05f, in.maxfreq = 1e6f, in.mode = c.mode;
        EXPECT_NEAR(c.expected, RenderSettled(in, 1, 1760.0f)[1], 1e-5) << c.n << " " << c.mode;
    }
}

TEST(SumtoneSeries, TheBandLimitDecidesTheCountAndMovesTheLowestPartial) {
    struct Case {
        float fm1, maxfreq, n, a;
        int first, count;  // the lowest rendered step and the steps above it; count -1: silent
    } cases[] = {
        {0.1f, 2000, 1.0f, 0.05f, 0, 10},    // 440 … 4840 Hz: the requested count
        {0.1f, 2000, 10.0f, 0.095f, 0, 44},  // up to 19800 Hz: the band's count
        {0.1f, 40, 1.0f, 0.05f, 0, -1},      // maxf below f
        {-0.05f, 30, 1.0f, 0.08f, 1, 2},     // 440 Hz is too high: 220, 0, -220 Hz
        {-0.05f, 30, 0.2f, 0.08f, 1, 1},     // ... and only two steps requested
    };
    for (const Case& c : cases) {
        Inputs in;
        in.fm1 = c.fm1, in.maxfreq = c.maxfreq, in.n = c.n, in.a = c.a;
        const std::vector<float> got = RenderSettled(in);
        if (c.count < 0) {
            EXPECT_EQ(std::vector<float>(512, 0.0f), got);
            continue;
        }
        const long double spacing = 4400 * static_cast<long double>(c.fm1), lowest = 440 + c.first * spacing;
        const long double ratio = 10 * static_cast<long double>(c.a);
        EXPECT_LT(WorstError(got, SeriesSamples(lowest, spacing, c.count, ratio, true, 512)), 1e-6) << c.n;
        for (int wrong : {c.count - 1, c.count + 1})  // the comparison tells a count apart
            EXPECT_GT(WorstError(got, SeriesSamples(lowest, spacing, wrong, ratio, true, 512)), 1e-4);
    }
}

TEST(SumtoneSeries, AClosedGateSampleRestartsBothPhases) {
    Sumtone s;
    Inputs in;
    in.fm1 = 0.0731f, in.n = 0.5f, in.a = 0.07f, in.maxfreq = 2000;
    s.Set(in);
    s.host.Buffer(GATE)[100] = 0.0f;
    const std::vector<float> out = s.Render(1);
    EXPECT_EQ(0.0f, out[100]);
    for (int j = 0; j < 100; ++j) ASSERT_EQ(out[j], out[101 + j]) << j;
}

TEST(SumtoneAccuracy, WellConditionedSettingsStayWithin2e6OfTheDirectSum) {
    struct Spacing {
        float fm1, detune, maxfreq;
    } spacings[] = {{0.1f, 0, 2000},   {0.1f, 0, 300}, {0.0731f, 0.37f, 2000}, {0.137f, 0, 500},
                    {-0.05f, 0, 2000}, {-0.1f, 0, 30}, {-0.0313f, -0.2f, 100}};
    const float fcs[] = {0.5f, 0.37f, 0.62f};
    double worst = 0;
    int settings = 0;
    for (float a : {0.0f, 0.01f, 0.03f, 0.05f, 0.07f, 0.09f})
        for (float n : {0.0f, 0.1f, 0.5f, 2.0f, 6.0f})
            for (int16_t mode : {1, 2}) {
                const Spacing& sp = spacings[settings % 7];
                Inputs in;
                in.fc = fcs[settings++ % 3], in.fm1 = sp.fm1, in.detune = sp.detune;
                in.maxfreq = sp.maxfreq, in.n = n, in.a = a, in.mode = mode;
                // The series the band limit allows, worked out partial by partial.
                const long double f = PitchHz(in.fc), maxf = 10.0L * sp.maxfreq;
                const long double spacing = 10 * (f * sp.fm1 + static_cast<long double>(sp.detune));
                const int requested = static_cast<int>(std::lround(10 * static_cast<double>(n)));
                int first = 0;
                while (first <= requested && std::fabs(f + first * spacing) > maxf) ++first;
                int count = 0;
                while (first + count < requested && std::fabs(f + (first + count + 1) * spacing) <= maxf) ++count;
                const std::vector<float> got = RenderSettled(in, 1);
                if (first > requested) {
                    EXPECT_EQ(std::vector<float>(256, 0.0f), got);
                    continue;
                }
                const double error = WorstError(got, SeriesSamples(f + first * spacing, spacing, count,
                                                                   10 * static_cast<long double>(a), mode == 1, 256));
                EXPECT_LT(error, 2e-6) << "a " << a << " N " << n << " mode " << mode << " fc " << in.fc;
                worst = std::fmax(worst, error);
            }
    std::printf("well-conditioned sweep: %d settings, worst absolute error %.3g\n", settings, worst);
}

TEST(SumtoneAccuracy, NearUnitRatioAndZeroSpacingAngleStaysCloseToTheTrueSum) {
    // "a" 0.1 is a ratio of 1.0000000149; the spacing angle is exactly 0 at
    // every restart, stays 0 without spacing, creeps with a tiny one, and
    // comes back to about 0 every 100 samples with 441 Hz at 44100 Hz.
    struct Spacing {
        float detune;
        long double hz;
    } spacings[] = {{0, 0},
                    {0.000001f, 10 * static_cast<long double>(0.000001f)},
                    {0.001f, 10 * static_cast<long double>(0.001f)},
                    {44.1f, 10 * static_cast<long double>(44.1f)}};
    const float ratios[] = {0.1f, std::nextafter(0.1f, 0.0f), std::nextafter(0.1f, 1.0f), 0.09999f, 0.10001f, 0.0999f};
    double worst = 0;
    for (float a : ratios)
        for (const Spacing& sp : spacings)
            for (float n : {0.0f, 0.1f, 0.5f, 6.0f, 100.0f})
                for (int16_t mode : {1, 2}) {
                    Inputs in;
                    in.detune = sp.detune, in.maxfreq = 1e9f, in.n = n, in.a = a, in.mode = mode;
                    const int count = static_cast<int>(std::lround(10 * static_cast<double>(n)));
                    const std::vector<float> got = RenderSettled(in, 1);
                    const double error = WorstError(
                        got, SeriesSamples(440, sp.hz, count, 10 * static_cast<long double>(a), mode == 1, 256));
                    EXPECT_LT(error, 2e-6) << "a " << a << " detune " << sp.detune << " N " << n << " mode " << mode;
                    worst = std::fmax(worst, error);
                }
    std::printf("near a = 1, spacing angle near 0: worst absolute error %.3g\n", worst);
}
