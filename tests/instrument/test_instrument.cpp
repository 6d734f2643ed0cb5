// The instrument as a driver sees it: notes become gate, pitch and velocity
// at their exact samples, the pedal holds them, voices are given and stolen
// in a fixed order, sleeping voices stay asleep, and the period cut changes
// nothing.
#include <gtest/gtest.h>

#include <random>

#include "PluginNode.h"
#include "ValidatorAllocations.h"
#include "instrument_support.h"

using vxhost::Instrument;
using vxhost::TimedMidiMessage;

namespace {

class InstrumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RealPluginsBuilt()) GTEST_SKIP() << "needs the ramplet and sumtone plug-ins";
    }
};

TEST_F(InstrumentTest, NotesSetPitchVelocityAndGateAtTheirSample) {
    auto instrument = MakeInstrument(VoiceTemplate(4));
    // A chord whose notes fall inside a period, then a note after the first
    // is released: it takes a voice never used before.
    const Take take =
        Play(*instrument, {On(1000, 57, 127), On(1000, 60, 64), On(1000, 93, 1), Off(3000, 57), On(3001, 69, 100)},
             6000, 256);
    const struct {
        size_t voice;
        float pitch;
        float velocity;
    } expected[] = {
        {0, 0.4f, 1.0f}, {1, PitchOf(60), 64.0f / 127.0f}, {2, 0.7f, 1.0f / 127.0f}, {3, 0.5f, 100.0f / 127.0f}};
    for (const auto& e : expected) {
        const size_t at = e.voice == 3 ? 3001 : 1000;
        EXPECT_EQ(take.gate[e.voice][at - 1], 0.0f) << "voice " << e.voice;
        EXPECT_EQ(take.gate[e.voice][at], 1.0f) << "voice " << e.voice;
        EXPECT_FLOAT_EQ(take.pitch[e.voice][at], e.pitch) << "voice " << e.voice;
        EXPECT_EQ(take.velocity[e.voice][at], e.velocity) << "voice " << e.voice;
    }
    EXPECT_EQ(take.gate[0][2999], 1.0f);
    EXPECT_EQ(take.gate[0][3000], 0.0f);
    EXPECT_EQ(instrument->NotesPlayed(), 4u);
    EXPECT_EQ(instrument->VoicesStolen(), 0u);

    // Silence up to the chord, sound from its sample on.
    for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(take.mix[i], 0.0f) << "sample " << i;
    float peak = 0.0f;
    for (size_t i = 1000; i < 1400; ++i) peak = std::max(peak, std::fabs(take.mix[i]));
    EXPECT_GT(peak, 0.01f);
}

TEST_F(InstrumentTest, PitchWheelBendsHeldNotesOverTheStatedRange) {
    vxhost::PatchDescription d = VoiceTemplate(2);
    d.notes.bend_range = 12.0;
    auto instrument = MakeInstrument(d);
    const Take take =
        Play(*instrument, {On(0, 60), Bend(1000, 16383), Off(2000, 60), Bend(3000, 0), On(4000, 62), Bend(5000, 8192)},
             6000, 256);
    EXPECT_FLOAT_EQ(take.pitch[0][999], PitchOf(60));
    EXPECT_FLOAT_EQ(take.pitch[0][1000], PitchOf(60, 12.0 * 8191.0 / 8192.0));
    // A released note keeps the pitch it had; the next note starts bent.
    EXPECT_FLOAT_EQ(take.pitch[0][3500], PitchOf(60, 12.0 * 8191.0 / 8192.0));
    EXPECT_FLOAT_EQ(take.pitch[1][4000], PitchOf(62, -12.0));
    EXPECT_FLOAT_EQ(take.pitch[1][5000], PitchOf(62));
}

TEST_F(InstrumentTest, SustainPedalHoldsReleasedKeysUntilItLifts) {
    auto instrument = MakeInstrument(VoiceTemplate(4));
    const Take take = Play(*instrument,
                           {On(0, 60), Pedal(500, true), Off(1000, 60), On(1200, 64), Off(1300, 64), On(1400, 67),
                            Pedal(2000, false), Off(2500, 67)},
                           3000, 256);
    for (size_t v : {0u, 1u}) {
        EXPECT_EQ(take.gate[v][1999], 1.0f) << "voice " << v << " is held by the pedal";
        EXPECT_EQ(take.gate[v][2000], 0.0f) << "voice " << v << " is released when the pedal lifts";
    }
    // A key still down when the pedal lifts sounds on until it is released.
    EXPECT_EQ(take.gate[2][2499], 1.0f);
    EXPECT_EQ(take.gate[2][2500], 0.0f);
}

TEST_F(InstrumentTest, VoicesGoUnusedFirstThenOldestReleasedThenOldestHeld) {
    auto instrument = MakeInstrument(VoiceTemplate(3));
    const Take take = Play(*instrument,
                           {On(0, 60), On(100, 62), On(200, 64),  // every voice used
                            Off(300, 62), Off(400, 60),           // voice 2 released first, then voice 1
                            On(500, 65),                          // -> voice 2
                            On(600, 67),                          // -> voice 1
                            On(700, 69),                          // all held: steals voice 3, the oldest
                            Off(800, 64),                         // its old note is gone: nothing happens
                            Message(900, 0xB0, 123, 0)},          // all notes off
                           1200, 256);
    EXPECT_EQ(take.pitch[1][500], PitchOf(65));
    EXPECT_EQ(take.pitch[0][600], PitchOf(67));
    // The stolen voice closes its gate for one sample so that its envelope
    // starts again, and plays the new note from the next.
    EXPECT_EQ(take.gate[2][699], 1.0f);
    EXPECT_EQ(take.gate[2][700], 0.0f);
    EXPECT_EQ(take.gate[2][701], 1.0f);
    EXPECT_EQ(take.pitch[2][701], PitchOf(69));
    EXPECT_EQ(take.gate[2][850], 1.0f);
    for (size_t v = 0; v < 3; ++v) {
        EXPECT_EQ(take.gate[v][899], 1.0f) << "voice " << v;
        EXPECT_EQ(take.gate[v][900], 0.0f) << "voice " << v;
    }
    EXPECT_EQ(instrument->NotesPlayed(), 6u);
    EXPECT_EQ(instrument->VoicesStolen(), 1u);
}

TEST_F(InstrumentTest, AKeyStruckAgainAtTheSampleItIsReleasedRetriggersItsVoice) {
    auto instrument = MakeInstrument(VoiceTemplate(1));
    const Take take = Play(*instrument, {On(0, 60), Off(1000, 60), On(1000, 60)}, 1200, 256);
    EXPECT_EQ(take.gate[0][1000], 0.0f);
    EXPECT_EQ(take.gate[0][1001], 1.0f);
    EXPECT_EQ(instrument->VoicesStolen(), 0u);
}

// Processing calls of every plug-in of each voice so far.
std::vector<uint64_t> VoiceCalls(const Instrument& instrument) {
    std::vector<uint64_t> calls;
    for (int32_t v = 0; v < instrument.Voices(); ++v) {
        uint64_t sum = 0;
        for (vxhost::NodeId id : instrument.VoiceNodes(v)) {
            const vxhost::Node& node = instrument.GetEngine().At(id);
            if (dynamic_cast<const vxhost::PluginNode*>(&node) != nullptr) sum += node.ProcessCalls();
        }
        calls.push_back(sum);
    }
    return calls;
}

TEST_F(InstrumentTest, SleepingVoicesAreNotCalledUntilANoteWakesOne) {
    auto instrument = MakeInstrument(VoiceTemplate(4));
    std::vector<std::vector<uint64_t>> calls;
    // A chord on every voice, released one note after the other.
    const std::vector<TimedMidiMessage> song = {On(0, 60),      On(0, 64),     On(0, 67),     On(0, 71),
                                                Off(2400, 67),  Off(2500, 60), Off(2600, 71), Off(2700, 64),
                                                Bend(24000, 0), On(36000, 72), Off(36100, 72)};
    vxhost::RenderTimeline(*instrument, song, 48000, 256,
                           [&](const float* const*, int32_t) { calls.push_back(VoiceCalls(*instrument)); });
    const auto at = [&](uint64_t sample) { return calls[sample / 256]; };
    // Every voice has settled and sleeps well before a third of a second,
    // and the pitch wheel wakes none of them.
    EXPECT_EQ(at(16000), at(35000));
    // The next note wakes the voice it is given (the one released first),
    // and only that one.
    const std::vector<uint64_t> before = at(35000);
    const std::vector<uint64_t> after = at(47999);
    EXPECT_GT(after[2], before[2]);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[3], before[3]);
    EXPECT_EQ(at(47999), at(40000)) << "and it sleeps again once released";
}

TEST_F(InstrumentTest, TheSameSongGivesTheSameSamplesWhateverThePeriods) {
    const std::vector<TimedMidiMessage> song = {
        On(10, 60),     On(10, 64),         On(10, 67),       Bend(3000, 10000), Pedal(5000, true),
        Off(6000, 60),  Off(6000, 64),      Off(6000, 67),    On(7001, 62),      On(7001, 65),
        On(7002, 69),   Pedal(9000, false), Bend(9500, 8192), Off(12000, 62),    On(12000, 62),
        Off(14000, 65), Off(14000, 69),     Off(15000, 62),   On(15500, 48),     Message(18000, 0xB0, 123, 0)};
    auto reference = MakeInstrument(VoiceTemplate(4));
    const std::vector<float> expected = Play(*reference, song, 24000, 256).mix;

    // Periods of random length, some longer than a block of the patch.
    auto cut = MakeInstrument(VoiceTemplate(4));
    std::mt19937 random(7);
    std::vector<float> mix;
    std::vector<float> buffer(2000);
    float* out[] = {buffer.data()};
    size_t next = 0;
    while (mix.size() < expected.size()) {
        const int32_t n = static_cast<int32_t>(std::min<size_t>(1 + random() % 700, expected.size() - mix.size()));
        std::vector<vxhost::MidiMessage> midi;
        for (; next < song.size() && song[next].sample < mix.size() + static_cast<size_t>(n); ++next) {
            vxhost::MidiMessage m = song[next].message;
            m.frame = static_cast<int32_t>(song[next].sample - mix.size());
            midi.push_back(m);
        }
        cut->Render(n, midi.data(), static_cast<int32_t>(midi.size()), out);
        mix.insert(mix.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(mix, expected);

    // A patch run in smaller blocks plays the same song the same way.
    auto small = MakeInstrument(VoiceTemplate(4, 64));
    EXPECT_EQ(Play(*small, song, 24000, 64).mix, expected);
}

TEST_F(InstrumentTest, RenderNeitherAllocatesNorReleasesMemory) {
    const vxhost::AllocationCounter count = vxhost::InstalledAllocationCounter();
    if (count == nullptr) GTEST_SKIP() << "no allocation counting on this platform";
    auto instrument = MakeInstrument(VoiceTemplate(4));
    std::vector<float> buffer(256);
    float* out[] = {buffer.data()};
    std::vector<vxhost::MidiMessage> period;
    // Chords, stolen voices, the pedal, the wheel and all notes off, every
    // message at its own frame of a period.
    const int bytes[][3] = {{0x90, 60, 100}, {0x90, 64, 90},  {0x90, 67, 80},  {0x90, 71, 70}, {0x90, 74, 60},
                            {0xB0, 64, 127}, {0x80, 60, 0},   {0xE0, 0, 0x60}, {0x80, 64, 0},  {0xB0, 64, 0},
                            {0x90, 48, 127}, {0xE0, 0, 0x40}, {0x80, 67, 0},   {0xB0, 123, 0}, {0x90, 50, 1}};
    for (size_t i = 0; i < std::size(bytes); ++i) {
        vxhost::MidiMessage m{};
        m.frame = static_cast<int32_t>(i * 16);
        m.size = 3;
        for (int b = 0; b < 3; ++b) m.bytes[b] = static_cast<uint8_t>(bytes[i][b]);
        period.push_back(m);
    }
    instrument->Render(256, period.data(), static_cast<int32_t>(period.size()), out);  // the first touch of each buffer
    const uint64_t before = count();
    for (int i = 0; i < 200; ++i) {
        const bool busy = i % 20 == 0;
        instrument->Render(256, busy ? period.data() : nullptr, busy ? static_cast<int32_t>(period.size()) : 0, out);
    }
    EXPECT_EQ(count() - before, 0u);
    EXPECT_GT(instrument->VoicesStolen(), 0u);
}

TEST_F(InstrumentTest, ANoteMappingMustNameFreeAudioInputsOfTheVoice) {
    const struct {
        const char* gate;
        const char* message;
    } cases[] = {
        {"env.Gait", "module \"env\" (ramplet) has no pin \"Gait\""},
        {"filter.in", "unknown module \"filter\""},
        {"env.Signal Out", "notes cannot drive env.Signal Out: it is not an audio input"},
        {"env.Attack", "notes drive env.Attack, which the patch gives a source too"},
        {"osc.gate", "notes drive osc.gate, which a wire feeds too"},
        {"vca.in3", "notes drive vca.in3 twice"},
    };
    for (const auto& c : cases) {
        vxhost::PatchDescription d = VoiceTemplate(2);
        d.notes.gate = c.gate;
        d.notes.gate_where = {7, 12};
        d.notes.velocity_where = {7, 12};  // where a second mapping of one pin is reported
        try {
            MakeInstrument(d);
            ADD_FAILURE() << c.gate << " was taken";
        } catch (const vxhost::PatchError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_EQ(e.Where().line, 7u) << c.gate;
            EXPECT_EQ(e.Where().column, 12u) << c.gate;
        }
    }
    vxhost::PatchDescription silent = VoiceTemplate(2);
    silent.has_notes = false;
    EXPECT_THROW(MakeInstrument(silent), vxhost::PatchError);
}

}  // namespace
