// vxhost play against a private JACK server: what a JACK client records from
// its outputs is the offline render, sample for sample, from some start on;
// and the ways playing ends (its length, Ctrl-C, a period it cannot serve, no
// server at all) each end it cleanly with the right status.
#include <gtest/gtest.h>

#if VX_HAVE_JACK_TESTS

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <thread>

#include "jack_support.h"
#include "tool_support.h"

namespace {

// An envelope opening and closing on a tone, and the envelope itself: two
// channels that start silent. Its blocks are longer than the server's
// periods, which must not change a sample.
const char* const kPatch = R"({
  "sample_rate": 48000, "block_size": 1024, "length": 1.0,
  "modules": {
    "gate": { "utility": "steps", "points": "0.05:1, 0.6:0" },
    "osc":  { "plugin": "sumtone",
              "pins": { "fc": 0.5, "fm1": 0.1, "a": 0.05, "maxfreq": 800, "gate": "0:1" } },
    "env":  { "plugin": "ramplet", "pins": { "Attack": 0.1, "Sustain": 0.6, "Release": 0.15 } },
    "vca":  { "utility": "multiply" }
  },
  "wires": [
    { "from": "gate.out", "to": "env.Gate" },
    { "from": "osc.output", "to": "vca.in1" },
    { "from": "env.Signal Out", "to": "vca.in2" }
  ],
  "output": ["vca.out", "env.Signal Out"]
})";

class PlayTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        WriteFile("note.json", kPatch);
        m_server = std::make_unique<JackServer>(Scratch("jackd.log"));
        ASSERT_TRUE(m_server->Running()) << m_server->Why();
    }
    void TearDown() override {
        m_server.reset();
        ToolTest::TearDown();
    }

    std::unique_ptr<JackServer> m_server;
};

// The number before " xrun" in vxhost's closing report; -1 without one.
long ReportedXruns(const std::string& out) {
    const size_t at = out.find(" xrun");
    if (at == std::string::npos) return -1;
    size_t start = at;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(out[start - 1]))) --start;
    return start == at ? -1 : std::strtol(out.c_str() + start, nullptr, 10);
}

long FirstSound(const std::vector<float>& samples) {
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f) return static_cast<long>(i);
    return -1;
}

// The channels of `reference.wav`, the patch rendered offline.
std::vector<std::vector<float>> Reference(const std::string& path) {
    const Wav reference = ReadWav(path);
    std::vector<std::vector<float>> channels(static_cast<size_t>(reference.channels));
    for (size_t i = 0; i < reference.samples.size(); ++i) channels[i % channels.size()].push_back(reference.samples[i]);
    return channels;
}

// The recording holds the reference whole from some start on, with silence
// before it and after it: nothing lost, repeated or changed. A recording that
// begins with the first sound lacks the render's silent start; there the
// start is negative.
void ExpectRenderFromSomeStartOn(const std::vector<std::vector<float>>& captured,
                                 const std::vector<std::vector<float>>& expected) {
    ASSERT_EQ(captured.size(), expected.size());
    const long first_sound = FirstSound(expected[0]);
    ASSERT_GE(first_sound, 0) << "the render sounds";
    const long heard_from = FirstSound(captured[0]);
    ASSERT_GE(heard_from, 0) << "the tone is heard";
    const long start = heard_from - first_sound;
    const auto skipped = static_cast<size_t>(std::max(0L, -start));  // silent in the render
    const auto before = static_cast<size_t>(std::max(0L, start));
    const size_t length = expected[0].size() - skipped;
    ASSERT_LE(before + length, captured[0].size()) << "the whole patch is heard";
    for (size_t c = 0; c < expected.size(); ++c) {
        const std::vector<float> heard(captured[c].begin() + static_cast<long>(before),
                                       captured[c].begin() + static_cast<long>(before + length));
        const std::vector<float> rendered(expected[c].begin() + static_cast<long>(skipped), expected[c].end());
        EXPECT_EQ(heard, rendered) << "channel " << c + 1;
        for (size_t i = 0; i < before; ++i) ASSERT_EQ(captured[c][i], 0.0f) << "before, " << i;
        // Playing stops at the length, mid-period, with silence after it.
        for (size_t i = before + length; i < captured[c].size(); ++i)
            ASSERT_EQ(captured[c][i], 0.0f) << "after the end, " << i;
    }
}

const char* const kPlayIntoCapture =
    "play note.json --client-name vxtest --connect capture:in_1 --connect capture:in_2";

}  // namespace

TEST_F(PlayTest, WhatReachesAnotherClientIsTheOfflineRender) {
    const CommandResult rendered = Vxhost("patch note.json -o reference.wav");
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    const std::vector<std::vector<float>> expected = Reference(Scratch("reference.wav"));
    ASSERT_EQ(expected.size(), 2u);
    ASSERT_EQ(expected[0].size(), 48000u);
    ASSERT_GT(FirstSound(expected[0]), 0) << "the render starts silent";

    // Freewheeling, the server runs every cycle to its end before the next:
    // the comparison holds however busy the machine is.
    Capture capture(2, 3.0, true);
    ASSERT_TRUE(capture.Open());
    ASSERT_TRUE(capture.Freewheel(true));
    const CommandResult played = Vxhost(kPlayIntoCapture);
    capture.Freewheel(false);
    capture.Stop();
    ASSERT_EQ(played.status, 0) << played.err;
    EXPECT_NE(played.out.find("vxtest:out_1 -> capture:in_1"), std::string::npos) << played.out;
    EXPECT_NE(played.out.find("vxtest:out_2 -> capture:in_2"), std::string::npos) << played.out;
    EXPECT_NE(played.out.find("played 1.00 s: 0 xruns, DSP load"), std::string::npos) << played.out;
    ExpectRenderFromSomeStartOn(capture.Samples(), expected);
}

TEST_F(PlayTest, InRealTimeWithoutXrunsWhatReachesAnotherClientIsTheOfflineRender) {
    const CommandResult rendered = Vxhost("patch note.json -o reference.wav");
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    const std::vector<std::vector<float>> expected = Reference(Scratch("reference.wav"));

    // The dummy backend keeps real time; on a busy machine a cycle comes late
    // and the recording has a gap that is not the player's doing. Only a run
    // without xruns on either side is compared.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        Capture capture(2, 30.0);
        ASSERT_TRUE(capture.Open());
        const CommandResult played = Vxhost(kPlayIntoCapture);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        capture.Stop();
        ASSERT_EQ(played.status, 0) << played.err;
        const long xruns = ReportedXruns(played.out);
        ASSERT_GE(xruns, 0) << "the report counts xruns: " << played.out;
        if (xruns > 0 || capture.Xruns() > 0) {
            std::printf("attempt %d had xruns (vxhost %ld, capture %d)\n", attempt, xruns, capture.Xruns());
            continue;
        }
        ExpectRenderFromSomeStartOn(capture.Samples(), expected);
        return;
    }
    GTEST_SKIP() << "every attempt had xruns: the machine is too busy for a real-time comparison (the "
                    "freewheeling one still ran)";
}

TEST_F(PlayTest, CtrlCEndsPlayingWithTheReportAndTheSignalsStatus) {
    Background play(m_folder, {"play", "note.json", "--seconds", "60", "--no-connect"});
    ASSERT_TRUE(WaitForText(Scratch(".bg-out"), "playing note.json", 30.0)) << play.Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    play.Signal(SIGINT);
    EXPECT_EQ(play.Wait(30.0), 130) << play.Err();
    EXPECT_NE(play.Out().find("played "), std::string::npos) << play.Out();
    EXPECT_NE(play.Out().find("DSP load"), std::string::npos) << play.Out();
}

TEST_F(PlayTest, APeriodLongerThanThePatchsBlocksStopsPlayingInsteadOfOverrunningIt) {
    Capture capture(1, 1.0);
    ASSERT_TRUE(capture.Open());
    Background play(m_folder, {"play", "note.json", "--seconds", "60", "--no-connect"});
    ASSERT_TRUE(WaitForText(Scratch(".bg-out"), "playing note.json", 30.0)) << play.Err();
    ASSERT_EQ(jack_set_buffer_size(capture.Client(), 1024), 0);
    EXPECT_EQ(play.Wait(30.0), 1);
    EXPECT_NE(play.Err().find("vxhost: the JACK server's period grew to 1024 frames"), std::string::npos) << play.Err();
}

TEST_F(ToolTest, PlayWithoutAServerSaysHowToStartOneAndStartsNone) {
    const std::string name = "vxtest-none-" + std::to_string(::getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    WriteFile("note.json", kPatch);
    const CommandResult played = Vxhost("play note.json");
    EXPECT_EQ(played.status, 1);
    EXPECT_EQ(played.err,
              "vxhost: no JACK server is running; start one first (jackd -d alsa for a sound card, or jackd -d dummy "
              "to play without one)\n");
    // A mistake in what to play is told first, server or not.
    const CommandResult notes = Vxhost("play note.json --midi-in");
    EXPECT_EQ(notes.status, 1);
    EXPECT_NE(notes.err.find("vxhost: note.json: --midi-in plays notes on a patch that maps them"), std::string::npos)
        << notes.err;
    jack_status_t status{};
    jack_client_t* client = jack_client_open("probe", JackNoStartServer, &status);
    EXPECT_EQ(client, nullptr) << "a server was started";
    if (client != nullptr) jack_client_close(client);
}

#if VX_PLAY_READS_MIDI

namespace {

// Two voices of an oscillator under an envelope, played by notes.
const char* const kVoicePatch = R"({
  "sample_rate": 48000,
  "block_size": 256,
  "voices": 2,
  "notes": { "gate": "env.Gate", "pitch": "osc.fc", "velocity": "vca.in3" },
  "modules": {
    "osc": { "plugin": "sumtone", "pins": { "fm1": 0.1, "N": 10, "a": 0.08, "maxfreq": 300 } },
    "env": { "plugin": "ramplet", "pins": { "Attack": 0, "Release": 0.2 } },
    "vca": { "utility": "multiply", "inputs": 3 }
  },
  "wires": [
    { "from": "env.Signal Out", "to": "osc.gate" },
    { "from": "osc.output", "to": "vca.in1" },
    { "from": "env.Signal Out", "to": "vca.in2" }
  ],
  "output": "vca.out"
})";

// One track at 96 pulses a quarter and 120 beats a minute: a chord of three
// notes at 0.25 s, released a quarter of a second later.
std::string ChordSong() {
    const unsigned char track[] = {
        0x30, 0x90, 60,   100, 0x00, 0x90, 64, 100, 0x00, 0x90, 67, 100,  // three notes at 48 pulses
        0x30, 0x80, 60,   0,   0x00, 0x80, 64, 0,   0x00, 0x80, 67, 0,    // off 48 pulses later
        0x00, 0xFF, 0x2F, 0x00};
    std::string bytes = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk";
    bytes += std::string("\0\0\0", 3) + static_cast<char>(sizeof track);
    bytes.append(reinterpret_cast<const char*>(track), sizeof track);
    return bytes;
}

}  // namespace

TEST_F(PlayTest, ASongPlayedOnAnInstrumentIsItsOfflineRender) {
    WriteFile("voices.json", kVoicePatch);
    WriteFile("chord.mid", ChordSong());
    const CommandResult rendered = Vxhost("patch voices.json --midi chord.mid -o reference.wav");
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    const std::vector<std::vector<float>> expected = Reference(Scratch("reference.wav"));
    ASSERT_EQ(expected.size(), 1u);

    Capture capture(1, 4.0, true);
    ASSERT_TRUE(capture.Open());
    ASSERT_TRUE(capture.Freewheel(true));
    const CommandResult played =
        Vxhost("play voices.json --midi chord.mid --client-name vxtest --connect capture:in_1");
    capture.Freewheel(false);
    capture.Stop();
    ASSERT_EQ(played.status, 0) << played.err;
    // Three notes on two voices: the third steals the first.
    EXPECT_NE(played.out.find("3 notes on 2 voices, 1 stolen"), std::string::npos) << played.out;
    ExpectRenderFromSomeStartOn(capture.Samples(), expected);
}

TEST_F(PlayTest, NotesFromAKeyboardPlayTheInstrument) {
    WriteFile("voices.json", kVoicePatch);
    MidiSender keyboard(false);
    ASSERT_TRUE(keyboard.Open());
    Capture capture(1, 60.0);
    ASSERT_TRUE(capture.Open());
    Background play(m_folder, {"play", "voices.json", "--midi-in", "--seconds", "30", "--client-name", "vxtest",
                               "--connect", "capture:in_1"});
    ASSERT_TRUE(WaitForText(Scratch(".bg-out"), "playing voices.json", 30.0)) << play.Err();
    ASSERT_TRUE(keyboard.ConnectTo("vxtest:midi_in"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    keyboard.Send(0x90, 69, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    play.Signal(SIGINT);
    EXPECT_EQ(play.Wait(30.0), 130) << play.Err();
    capture.Stop();
    EXPECT_NE(play.Out().find("1 note on 2 voices"), std::string::npos) << play.Out();
    EXPECT_GE(FirstSound(capture.Samples()[0]), 0) << "the note is heard";
}

#endif

#else

TEST(Play, NeedsTheNativeVxhostWithJack) { GTEST_SKIP() << "vxhost play is built natively with JACK only"; }

#endif
