// What the host sees: properties, pins, routines, announcements, sleep.
#include <climits>
#include <cstring>

#include "ramplet_host.h"

TEST(EnvelopeModule, DescribesItselfAndItsEightPins) {
    VXModuleProperties props{};
    ASSERT_EQ(Ramplet().GetModuleProperties()(0, &props), 1);
    EXPECT_STREQ(props.id, "Ramplet");
    EXPECT_STREQ(props.name, "Varnix Ramplet Module");
    EXPECT_STREQ(props.about, "by Brannoc");
    EXPECT_EQ(props.sdk_version, 2190);

    const struct {
        const char* name;
        int32_t direction, datatype;
        const char* default_value;
    } kPins[] = {
        {"Gate", DR_IN, DT_FSAMPLE, "1"},
        {"Attack", DR_IN, DT_FSAMPLE, "0"},
        {"Decay", DR_IN, DT_FSAMPLE, "5"},
        {"Sustain", DR_IN, DT_FSAMPLE, "7"},
        {"Release", DR_IN, DT_FSAMPLE, "4"},
        {"Overall Level", DR_IN, DT_FSAMPLE, "10"},
        {"Signal Out", DR_OUT, DT_FSAMPLE, nullptr},
        {"Reset Level on Trigger", DR_PARAMETER, DT_BOOL, "false"},
    };
    Envelope env;
    ASSERT_EQ(env.host.Pins().size(), 8u);
    for (int32_t n = 0; n < 8; ++n) {
        const VXPinProperties& p = env.host.Pins()[n].properties;
        EXPECT_STREQ(p.name, kPins[n].name);
        EXPECT_EQ(p.direction, kPins[n].direction) << n;
        EXPECT_EQ(p.datatype, kPins[n].datatype) << n;
        EXPECT_STREQ(p.default_value, kPins[n].default_value);
        EXPECT_EQ(p.datatype_extra, nullptr);
        EXPECT_EQ(p.flags, 0);
        EXPECT_NE(p.variable_address, nullptr);
    }
    for (int32_t index : {8, -1, INT32_MIN}) {
        VXPinProperties p;
        std::memset(&p, 0xA5, sizeof p);
        EXPECT_EQ(env.host.Dispatch(OP_GET_PIN_PROPERTIES, index, 0, &p), 0);
        unsigned char untouched[sizeof p];
        std::memset(untouched, 0xA5, sizeof untouched);
        EXPECT_EQ(std::memcmp(&p, untouched, sizeof p), 0) << index;
    }
}

// Open installs the normal routine and announces nothing; the output counts
// as settled, so an idle first call only installs the static routine.
TEST(EnvelopeModule, SleepsOneBlockAfterSettling) {
    vxhost::TestHost bare(Ramplet());
    bare.Open(44100.0f, 256);
    EXPECT_EQ(bare.ProcessChanges(), 1);
    EXPECT_TRUE(bare.CallsWith(HC_PIN_STATUS).empty());

    Envelope env(44100.0f, 1024);
    const Lines per_call[] = {{"static"}, {}, {}, {}, {"SLEEP"}, {"SLEEP"}};
    for (const Lines& expected : per_call) {
        env.Call(256);
        EXPECT_EQ(env.Traffic(), expected);
        env.Forget();
    }
    env.Notify(RELEASE, ST_ONE_OFF);
    EXPECT_EQ(env.Traffic(), (Lines{"normal", "RUN+0"}));
    EXPECT_FALSE(env.StaticRoutine());
}

TEST(EnvelopeModule, EveryNotificationWakesTheModule) {
    for (int32_t pin = GATE; pin <= RESET_ON_TRIGGER; ++pin) {
        for (int32_t state : {ST_STATIC, ST_ONE_OFF, ST_RUN}) {
            Envelope env;
            env.Call(8);
            env.Forget();
            env.host.Fill(GATE, 0.0f);
            env.Notify(pin, state);
            EXPECT_EQ(env.Traffic(), (Lines{"normal", "RUN+0"})) << pin << "/" << state;
        }
    }
}

// While any input streams, the output stays announced as moving and the
// module keeps being processed, even when it writes a constant.
TEST(EnvelopeModule, StreamingInputKeepsTheModuleAwake) {
    Envelope env;
    env.Notify(DECAY, ST_RUN);
    env.WatchGate();
    env.Gate({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0});
    EXPECT_EQ(env.Call(13),
              (Samples{0.25f, 0.5f, 0.75f, 1.0f, 0.875f, 0.75f, 0.625f, 0.5f, 0.5f, 0.5f, 0.25f, 0.0f, 0.0f}));
    env.host.Fill(GATE, 0.0f);
    EXPECT_EQ(env.Calls(8, 256), Samples(8 * 256, 0.0f));
    EXPECT_EQ(env.Traffic(), Lines{});
    env.Notify(DECAY, ST_ONE_OFF);
    env.Forget();
    env.Call(16);
    EXPECT_EQ(env.Traffic(), (Lines{"ONE_OFF+0", "static"}));
}

// A call that covers no sample reads and writes nothing, announces nothing
// and is not counted: the first real call still derives every value.
TEST(EnvelopeModule, CallsWithoutSamplesChangeNothing) {
    Envelope env;
    env.Notify(GATE, ST_RUN);
    env.Forget();
    env.host.Fill(OUT, 7.0f);
    env.host.Fill(GATE, 1.0f);
    env.host.Process(1000000, 0);
    env.host.Process(INT32_MAX, -5);
    env.host.Process(-1000, INT32_MIN);
    EXPECT_EQ(env.host.Buffer(OUT), Samples(256, 7.0f));
    EXPECT_EQ(env.Traffic(), Lines{});
    EXPECT_EQ(env.Call(5), (Samples{0.25f, 0.5f, 0.75f, 1.0f, 0.875f}));
}

// The countdown stops at its end: 2^31 samples of static calls do not wrap
// it round, and neither does a nonsense block size.
TEST(EnvelopeModule, HostIgnoringSleepForHoursStillGetsAskedToStop) {
    constexpr int32_t kFrames = 1 << 16;
    Envelope env(44100.0f, kFrames);
    env.Call(kFrames);
    env.Forget();
    const int64_t calls = (int64_t{1} << 31) / kFrames + 2;
    for (int64_t c = 0; c < calls; ++c) env.host.RunBlock(kFrames);
    EXPECT_EQ(env.host.SleepRequests(), calls);

    Envelope odd(44100.0f, 256);
    odd.host.Dispatch(OP_BLOCK_SIZE, 0, INT32_MIN);
    odd.Calls(3, 256);
    EXPECT_EQ(odd.Traffic(), (Lines{"static", "SLEEP", "SLEEP"}));
}
