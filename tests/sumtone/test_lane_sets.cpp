// Every lane set of the sample loop (one sample at a time, SSE2, and AVX2
// where the processor has it) renders the bits of the plain loop, one sample
// after another with every step in its defined order, and leaves the same
// phases and frequency cache behind: for inputs in the sound range, steady
// and moving, and for inputs far outside it, call after call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "ClosedFormFallbacks.h"
#include "PartialCount.h"
#include "SampleLanes.h"
#include "SampleLoop.h"
#include "SummationMath.h"

namespace {

using namespace sumtone;

// The loop as the oscillator defines it, sample by sample, from the shared
// stages: the count checked or worked out afresh at every sample, every
// polynomial on one sample, the phases advanced and wrapped as they go.
void RenderPlainly(LoopState& st, const LoopBuffers& in, bool one_sided, int32_t frames) {
    const double max_freq = 10.0 * static_cast<double>(in.maxfreq[0]);
    const int32_t requested = RequestedCount(in.n[0], max_freq);
    int32_t n = -1;
    for (int32_t j = 0; j < frames; ++j) {
        PartialSeries series{-1, 0.0};
        double spacing = 0.0;
        if (in.gate[j] != 0.0f) {
            if (in.fc[j] != st.cached_fc) {
                st.cached_fc = in.fc[j];
                st.cached_freq = PitchToFrequency(in.fc[j]);
            }
            const double f = st.cached_freq;
            spacing = 10.0 * (std::fabs(f) * static_cast<double>(in.fm1[j]) + static_cast<double>(in.detune[j]));
            if (!std::isfinite(f) || !std::isfinite(spacing)) {
                series = {-1, f};
            } else if (CountStillFits(n, f, spacing, max_freq, requested)) {
                series = {n, f};
            } else {
                series = CountAfresh(f, spacing, max_freq, requested);
            }
            n = series.count;
        }
        if (series.count < 0) {
            in.out[j] = 0.0f;
            st.phase = 0.0;
            st.spacing_phase = 0.0;
            continue;
        }
        const double multiple = ReduceSpacingMultiple(n, st.spacing_phase);
        const SeriesAngles<double> t = AngleSums(st.phase, st.spacing_phase, multiple);
        const double a = GuardRatio(10.0 * static_cast<double>(in.a[j]));
        const double power = PowerBySquaring(a, n);
        const double numerator = one_sided ? OneSidedNumerator(t, a, power) : TwoSidedNumerator(t, a, power);
        const double denominator = SpacingDenominator(a, t.spacing.cosine);
        double value = ClosedFormSample(a, numerator, denominator, power);
        if (denominator < kNearSingularDistance) value = NearSingularSample(one_sided, a, n, t);
        if (!std::isfinite(value)) value = TopPartialsSample(one_sided, a, power, t);
        in.out[j] = std::isfinite(value) ? ToSample(value) : 0.0f;
        st.phase = WrapPhase(st.phase + series.lowest * st.phase_scale);
        st.spacing_phase = WrapPhase(st.spacing_phase + spacing * st.phase_scale);
    }
}

template <class T>
uint64_t Bits(T x) {
    uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof x);
    return bits;
}

enum Input { FC, FM1, N, A, GATE, DETUNE, MAXFREQ, INPUTS };

// Draws the value of one input at one sample of a call.
using Draw = std::function<float(std::mt19937& rng, int input, int32_t j)>;

float Uniform(std::mt19937& rng, float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
bool Chance(std::mt19937& rng, double p) { return std::bernoulli_distribution(p)(rng); }

constexpr std::pair<LaneSet, const char*> kLaneSets[] = {
    {LaneSet::kScalar, "scalar"}, {LaneSet::kSse2, "SSE2"}, {LaneSet::kAvx2, "AVX2"}, {LaneSet::kAvx512, "AVX-512"}};

// Calls of random sizes (across chunk boundaries and lane tails) with a
// random mode, rendered plainly and by every lane set from the same state;
// reports the first sample or state whose bits differ.
void ExpectEveryLaneSetPlain(const char* regime, uint32_t seed, double phase_scale, const Draw& draw) {
    std::mt19937 rng(seed);
    struct Run {
        LaneSet lanes;
        const char* name;
        LoopState state;
    };
    const LoopState start{phase_scale, 0.0, 0.0, -20.0, -20.0f};
    std::vector<Run> runs;
    for (auto [lanes, name] : kLaneSets)
        if (CanRun(lanes)) runs.push_back({lanes, name, start});
    LoopState plain = start;
    std::vector<float> inputs[INPUTS];
    for (int32_t call = 0; call < 40; ++call) {
        const int32_t frames = std::uniform_int_distribution<int32_t>(1, 300)(rng);
        for (int input = FC; input < INPUTS; ++input) {
            inputs[input].resize(static_cast<size_t>(frames));
            for (int32_t j = 0; j < frames; ++j) inputs[input][static_cast<size_t>(j)] = draw(rng, input, j);
        }
        const bool one_sided = Chance(rng, 0.5);
        std::vector<float> expected(static_cast<size_t>(frames)), got(static_cast<size_t>(frames));
        const auto buffers = [&](std::vector<float>& out) {
            return LoopBuffers{inputs[FC].data(),   inputs[FM1].data(),    inputs[N].data(),       inputs[A].data(),
                               inputs[GATE].data(), inputs[DETUNE].data(), inputs[MAXFREQ].data(), out.data()};
        };
        RenderPlainly(plain, buffers(expected), one_sided, frames);
        for (Run& run : runs) {
            std::fill(got.begin(), got.end(), -7.0f);
            RenderSeries(run.lanes, run.state, buffers(got), one_sided, frames);
            for (int32_t j = 0; j < frames; ++j) {
                const size_t k = static_cast<size_t>(j);
                ASSERT_EQ(Bits(expected[k]), Bits(got[k]))
                    << regime << " seed " << seed << " " << run.name << " call " << call << " sample " << j << ": "
                    << expected[k] << " plainly, " << got[k];
            }
            ASSERT_EQ(Bits(plain.phase), Bits(run.state.phase)) << regime << " " << run.name << " call " << call;
            ASSERT_EQ(Bits(plain.spacing_phase), Bits(run.state.spacing_phase)) << regime << " " << run.name;
            ASSERT_EQ(Bits(plain.cached_freq), Bits(run.state.cached_freq)) << regime << " " << run.name;
            ASSERT_EQ(Bits(plain.cached_fc), Bits(run.state.cached_fc)) << regime << " " << run.name;
        }
    }
}

constexpr double kScale44k = 2.0 / 44100.0;

// Values that no setting of the controls produces, and the edges of the
// ranges the loop treats apart.
float Hostile(std::mt19937& rng) {
    static const float kValues[] = {NAN,
                                    INFINITY,
                                    -INFINITY,
                                    0.0f,
                                    -0.0f,
                                    1e30f,
                                    -1e30f,
                                    1e10f,
                                    -1e10f,
                                    3e9f,
                                    0.1f,
                                    std::nextafter(0.1f, 1.0f),
                                    std::nextafter(0.1f, 0.0f),
                                    -0.1f,
                                    0.2f,
                                    1e-7f,
                                    -1e-7f,
                                    std::numeric_limits<float>::denorm_min(),
                                    std::numeric_limits<float>::max(),
                                    2.5f,
                                    -2.5f,
                                    200.0f};
    return kValues[std::uniform_int_distribution<size_t>(0, std::size(kValues) - 1)(rng)];
}

}  // namespace

TEST(SumtoneLaneSets, SteadyNotesWithOccasionalChangesMatchThePlainLoop) {
    // Held values, each input moving now and then, the gate closing now and
    // then: long steady runs broken at random places.
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 values(seed * 7919u);
        float held[INPUTS] = {0.5f, 0.1f, 1.0f, 0.05f, 1.0f, 0.0f, 2000.0f};
        ExpectEveryLaneSetPlain("steady", seed, kScale44k, [&](std::mt19937& rng, int input, int32_t) {
            if (Chance(rng, 0.01)) {
                switch (input) {
                    case FC:
                        held[FC] = Uniform(values, 0.3f, 0.75f);
                        break;
                    case FM1:
                        held[FM1] = Chance(values, 0.5) ? 0.1f : Uniform(values, -0.15f, 0.15f);
                        break;
                    case A:
                        held[A] = Uniform(values, 0.0f, 0.099f);
                        break;
                    case GATE:
                        return 0.0f;
                    case DETUNE:
                        held[DETUNE] = Chance(values, 0.5) ? 0.0f : Uniform(values, -20.0f, 20.0f);
                        break;
                    default:
                        held[input] = input == N ? Uniform(values, 0.0f, 10.0f) : Uniform(values, 10.0f, 2000.0f);
                }
            }
            return held[input];
        });
    }
}

TEST(SumtoneLaneSets, InputsMovingEverySampleMatchThePlainLoop) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        ExpectEveryLaneSetPlain("moving", seed, kScale44k, [](std::mt19937& rng, int input, int32_t j) {
            switch (input) {
                case FC:
                    return 0.45f + 0.0003f * static_cast<float>(j) + Uniform(rng, 0.0f, 0.001f);
                case FM1:
                    return Uniform(rng, -0.2f, 0.2f);
                case N:
                    return Uniform(rng, -0.2f, 12.0f);
                case A:
                    return Uniform(rng, -0.1f, 0.12f);
                case GATE:
                    return Chance(rng, 0.03) ? 0.0f : Uniform(rng, -1.0f, 1.0f);
                case DETUNE:
                    return Uniform(rng, -30.0f, 30.0f);
                default:
                    return Uniform(rng, 1.0f, 2500.0f);
            }
        });
    }
}

TEST(SumtoneLaneSets, PhasesLandingExactlyOnTheWrapPointsMatchThePlainLoop) {
    // A power-of-two sample rate and spacings that are exact in binary: the
    // phases and nβ hit ±1 and the halves exactly, where the wraps and the
    // reduction of nβ decide by a single comparison.
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        ExpectEveryLaneSetPlain("exact phases", seed, 2.0 / 1024.0, [](std::mt19937& rng, int input, int32_t) {
            static const float kDetunes[] = {0.0f, 0.5f, 1.25f, 6.25f, 12.5f, 25.0f, -12.5f};
            switch (input) {
                case FC:
                    return 0.5f;
                case FM1:
                    return 0.0f;
                case N:
                    return static_cast<float>(std::uniform_int_distribution<int>(0, 9)(rng)) / 10.0f;
                case A:
                    return Uniform(rng, 0.0f, 0.09f);
                case GATE:
                    return Chance(rng, 0.02) ? 0.0f : 1.0f;
                case DETUNE:
                    return kDetunes[std::uniform_int_distribution<size_t>(0, 6)(rng)];
                default:
                    return 1e6f;
            }
        });
    }
}

TEST(SumtoneLaneSets, RatiosNearOneAtPhaseRestartsTakeTheSameFallbacks) {
    // "a" 0.1 and its neighbours, no or a tiny spacing, gates restarting the
    // phases: the closed form's denominator falls below its guard.
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        ExpectEveryLaneSetPlain("near a = 1", seed, kScale44k, [](std::mt19937& rng, int input, int32_t) {
            switch (input) {
                case FC:
                    return Uniform(rng, 0.45f, 0.55f);
                case FM1:
                    return Chance(rng, 0.8) ? 0.0f : 0.1f;
                case N:
                    return Chance(rng, 0.5) ? 0.5f : 100.0f;
                case A:
                    return Chance(rng, 0.7) ? 0.1f : std::nextafter(0.1f, Chance(rng, 0.5) ? 0.0f : 1.0f);
                case GATE:
                    return Chance(rng, 0.05) ? 0.0f : 1.0f;
                case DETUNE:
                    return Chance(rng, 0.5) ? 0.0f : 1e-6f;
                default:
                    return 1e9f;
            }
        });
    }
}

TEST(SumtoneLaneSets, InputsFarOutsideTheSoundRangeMatchThePlainLoop) {
    // Non-finite and huge values, counts beyond any partial, ratios whose
    // power overflows, frequencies past the sample rate, and a host without
    // a sample rate, each mixed into ordinary values.
    const double scales[] = {kScale44k, 2.0 / 1760.0, 2.0 / 0.0, 2.0 / 3.0};
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const double scale = scales[seed % 4];
        ExpectEveryLaneSetPlain("hostile", seed, scale, [](std::mt19937& rng, int input, int32_t) {
            if (Chance(rng, 0.3)) return Hostile(rng);
            const float ordinary[INPUTS] = {0.5f, 0.1f, 1.0f, 0.05f, 1.0f, 0.0f, 2000.0f};
            return Chance(rng, 0.5) ? ordinary[input] : Uniform(rng, -0.3f, 0.3f) * (input == MAXFREQ ? 1e4f : 1.0f);
        });
    }
}

TEST(SumtoneLaneSets, MovingPitchKeepsTheFrequencyCacheOfThePlainLoop) {
    // "fc" moving at every sample, broken by stretches of what makes the
    // cache matter: one value held, zeros of either sign (equal, with other
    // bits), the cache's start value -20, NaN; and gates closing, at chunk
    // starts too.
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        enum { kMoving, kHeld, kZeros, kStartValue, kNan } stretch = kMoving;
        float held = 0.5f;
        ExpectEveryLaneSetPlain("moving pitch", seed, kScale44k, [&](std::mt19937& rng, int input, int32_t j) {
            switch (input) {
                case FC:
                    if (Chance(rng, 0.03)) {
                        stretch = static_cast<decltype(stretch)>(std::uniform_int_distribution<int>(0, 4)(rng));
                    }
                    switch (stretch) {
                        case kHeld:
                            return held;
                        case kZeros:
                            return Chance(rng, 0.5) ? 0.0f : -0.0f;
                        case kStartValue:
                            return -20.0f;
                        case kNan:
                            return Chance(rng, 0.5) ? NAN : 0.5f;
                        default:
                            held = 0.45f + 0.0001f * static_cast<float>(j % 97) + Uniform(rng, 0.0f, 0.01f);
                            return held;
                    }
                case FM1:
                    return 0.1f;
                case N:
                    return 1.0f;
                case A:
                    return 0.05f;
                case GATE:
                    return (j % 64 == 0 && Chance(rng, 0.3)) || Chance(rng, 0.005) ? 0.0f : 1.0f;
                case DETUNE:
                    return Chance(rng, 0.9) ? 0.0f : Uniform(rng, -5.0f, 5.0f);
                default:
                    return 2000.0f;
            }
        });
    }
}

TEST(SumtoneLaneSets, MovingSpacingAtTheBandEdgeMatchesThePlainLoop) {
    // 440 Hz and spacings exact in binary around 440 Hz, with "maxfreq"
    // putting the top partial of the count exactly on the limit, just
    // inside or just outside it: every sample's count check decides by a
    // single comparison, and the count changes often.
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        ExpectEveryLaneSetPlain("band edge", seed, kScale44k, [](std::mt19937& rng, int input, int32_t j) {
            static const float kDetunes[] = {43.75f, 44.0f, 44.0f, 44.0f, 44.25f, 22.0f, -44.0f};
            switch (input) {
                case FC:
                    return 0.5f;
                case FM1:
                    return 0.0f;
                case N:
                    return Chance(rng, 0.5) ? 0.4f : 2.0f;
                case A:
                    return j % 16 < 8 ? 0.05f : 0.07f;
                case GATE:
                    return 1.0f;
                case DETUNE:
                    return kDetunes[std::uniform_int_distribution<size_t>(0, 6)(rng)];
                default: {
                    // maxf = 440·(k + 1): partial k exactly on the limit.
                    const float edge = 44.0f * static_cast<float>(std::uniform_int_distribution<int>(1, 8)(rng));
                    const int side = std::uniform_int_distribution<int>(-1, 1)(rng);
                    return side == 0 ? edge : std::nextafter(edge, side < 0 ? 0.0f : 1e9f);
                }
            }
        });
    }
}

TEST(SumtoneLaneSets, FrequenciesInLanesAreThoseOfTheDeterministicExponential) {
    // Pitches across the whole range the lanes take, their limits, and
    // every kind of float beyond them, which the lanes hand back to the
    // one-sample form.
    std::mt19937 rng(17);
    std::vector<float> pitches;
    for (float fc = -1.0f; fc <= 2.0f; fc += 0.000731f) pitches.push_back(fc);
    for (float edge : {kLanePitchLimit, -kLanePitchLimit}) {
        float f = std::nextafter(std::nextafter(edge, INFINITY), INFINITY);
        for (int k = 0; k < 5; ++k, f = std::nextafter(f, -INFINITY)) {
            for (int copies = 0; copies < 12; ++copies) pitches.push_back(f);
        }
    }
    for (int k = 0; k < 200000; ++k) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        pitches.push_back(Chance(rng, 0.5) ? f : Uniform(rng, -110.0f, 110.0f));
    }
    for (int k = 0; k < 1000; ++k) pitches.push_back(Hostile(rng));
    std::shuffle(pitches.begin(), pitches.end(), rng);

    for (auto [lanes, name] : kLaneSets) {
        if (lanes == LaneSet::kScalar || !CanRun(lanes)) continue;
        SampleChunk c;
        // Whole chunks of values within the lanes' limit, and chunks with
        // values beyond it.
        std::stable_partition(pitches.begin(), pitches.end(),
                              [](float fc) { return std::fabs(fc) <= kLanePitchLimit; });
        for (size_t from = 0; from < pitches.size(); from += kChunkSamples) {
            c.size = static_cast<int32_t>(std::min<size_t>(kChunkSamples, pitches.size() - from));
            c.padded_size = (c.size + kWidestLanes - 1) / kWidestLanes * kWidestLanes;
            PitchesToFrequencies(lanes, c, pitches.data() + from);
            for (int32_t i = 0; i < c.size; ++i) {
                const float fc = pitches[from + static_cast<size_t>(i)];
                ASSERT_EQ(Bits(PitchToFrequency(fc)), Bits(c.lowest[i])) << name << " fc " << fc;
            }
        }
    }
}

namespace {

// Compares the frequencies of the pitches, chunk by chunk, in every lane set
// that works them out in lanes, with those of the one-sample form; counts the
// pitches whose bits differ in any set, printing the first few.
int64_t FrequencyMismatches(const std::vector<float>& pitches) {
    int64_t mismatches = 0;
    SampleChunk c;
    for (size_t from = 0; from < pitches.size(); from += kChunkSamples) {
        c.size = static_cast<int32_t>(std::min<size_t>(kChunkSamples, pitches.size() - from));
        c.padded_size = (c.size + kWidestLanes - 1) / kWidestLanes * kWidestLanes;
        double expected[kChunkSamples];
        for (int32_t i = 0; i < c.size; ++i) expected[i] = PitchToFrequency(pitches[from + static_cast<size_t>(i)]);
        for (auto [lanes, name] : kLaneSets) {
            if (lanes == LaneSet::kScalar || !CanRun(lanes)) continue;
            PitchesToFrequencies(lanes, c, pitches.data() + from);
            for (int32_t i = 0; i < c.size; ++i) {
                if (Bits(expected[i]) == Bits(c.lowest[i])) continue;
                if (++mismatches <= 5) {
                    ADD_FAILURE() << name << " fc " << std::hexfloat << pitches[from + static_cast<size_t>(i)] << ": "
                                  << c.lowest[i] << ", one at a time " << expected[i];
                }
            }
        }
    }
    return mismatches;
}

// Every stride-th float from -kLanePitchLimit to kLanePitchLimit.
std::vector<float> PitchesWithinLimit(uint32_t stride) {
    std::vector<float> pitches;
    uint32_t limit;
    std::memcpy(&limit, &kLanePitchLimit, sizeof limit);
    for (uint32_t sign : {0u, 0x80000000u}) {
        for (uint32_t bits = 0; bits <= limit; bits += stride) {
            const uint32_t signed_bits = bits | sign;
            float fc;
            std::memcpy(&fc, &signed_bits, sizeof fc);
            pitches.push_back(fc);
        }
    }
    return pitches;
}

}  // namespace

TEST(SumtoneLaneSets, FrequenciesInLanesMatchWhereTheReducedArgumentAlmostVanishes) {
    // The fused lanes drop error terms and take the fast two-sum on the
    // grounds that the result bits stay those of the exponential. The
    // argument reduction leaves the least, and its error terms weigh the
    // most, where 10·fc - 5 is nearly a multiple of 1/128: the floats
    // nearest to 0.5 + k/1280 for every k in range, and their neighbours.
    std::vector<float> pitches;
    const int32_t most = static_cast<int32_t>(1280.0f * (kLanePitchLimit - 0.5f));
    for (int32_t k = -most; k <= most; ++k) {
        float fc = static_cast<float>(0.5 + k / 1280.0);
        for (int step = 0; step < 3; ++step) fc = std::nextafter(fc, -INFINITY);
        for (int step = 0; step < 7; ++step, fc = std::nextafter(fc, INFINITY)) pitches.push_back(fc);
    }
    // And an even sweep of the whole range.
    const std::vector<float> sweep = PitchesWithinLimit(4099);
    pitches.insert(pitches.end(), sweep.begin(), sweep.end());
    EXPECT_EQ(FrequencyMismatches(pitches), 0);
}

// Every float within the lanes' limit, about 2.2 billion of them: two
// minutes of processor time or more. Run it after any change to the lanes'
// exponential with
//   sumtone_tests --gtest_also_run_disabled_tests --gtest_filter='*EveryPitch*'
TEST(SumtoneLaneSets, DISABLED_FrequenciesInLanesMatchForEveryPitchWithinTheLimit) {
    uint32_t limit;
    std::memcpy(&limit, &kLanePitchLimit, sizeof limit);
    // A slice of the floats at a time, to keep the memory small.
    int64_t mismatches = 0;
    for (uint32_t first = 0; first < 1024; ++first) {
        std::vector<float> pitches;
        for (uint32_t sign : {0u, 0x80000000u}) {
            for (uint64_t bits = first; bits <= limit; bits += 1024) {
                const uint32_t signed_bits = static_cast<uint32_t>(bits) | sign;
                float fc;
                std::memcpy(&fc, &signed_bits, sizeof fc);
                pitches.push_back(fc);
            }
        }
        mismatches += FrequencyMismatches(pitches);
    }
    EXPECT_EQ(mismatches, 0);
}
