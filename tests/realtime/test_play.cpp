// vxhost play against a private JACK server: what a JACK client records from
// its outputs is the offline render, sample for sample, from some start on;
// and the ways playing ends (its length, Ctrl-C, a period it cannot serve, no
// server at all) each end it cleanly with the right status.
#include <gtest/gtest.h>

#if VX_HAVE_JACK_TESTS

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

}  // namespace

TEST_F(PlayTest, WhatReachesAnotherClientIsTheOfflineRenderFromSomeStartOn) {
    const CommandResult rendered = Vxhost("patch note.json -o reference.wav");
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    const Wav reference = ReadWav(Scratch("reference.wav"));
    ASSERT_EQ(reference.channels, 2);
    std::vector<std::vector<float>> expected(2);
    for (size_t i = 0; i < reference.samples.size(); ++i) expected[i % 2].push_back(reference.samples[i]);
    ASSERT_EQ(expected[0].size(), 48000u);
    const long first_sound = FirstSound(expected[0]);
    ASSERT_GT(first_sound, 0) << "the render starts silent and then sounds";

    // The dummy backend keeps real time; on a busy machine a period can come
    // late, and then the recording has a gap that is not the player's fault.
    // Only a run without xruns on either side is compared.
    for (int attempt = 1; attempt <= 4; ++attempt) {
        Capture capture(2, 30.0);
        ASSERT_TRUE(capture.Open());
        const CommandResult played =
            Vxhost("play note.json --client-name vxtest --connect capture:in_1 --connect capture:in_2");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        capture.Stop();
        ASSERT_EQ(played.status, 0) << played.err;
        EXPECT_NE(played.out.find("vxtest:out_1 -> capture:in_1"), std::string::npos) << played.out;
        EXPECT_NE(played.out.find("vxtest:out_2 -> capture:in_2"), std::string::npos) << played.out;
        EXPECT_NE(played.out.find("played 1.00 s"), std::string::npos) << played.out;
        const long xruns = ReportedXruns(played.out);
        ASSERT_GE(xruns, 0) << "the report counts xruns: " << played.out;
        if (xruns > 0 || capture.Xruns() > 0) {
            std::printf("attempt %d had xruns (vxhost %ld, capture %d); playing again\n", attempt, xruns,
                        capture.Xruns());
            continue;
        }

        const std::vector<std::vector<float>> captured = capture.Samples();
        const long start = FirstSound(captured[0]) - first_sound;
        ASSERT_GE(start, 0) << "the tone is heard";
        ASSERT_LE(static_cast<size_t>(start) + expected[0].size(), captured[0].size()) << "the whole patch is heard";
        for (size_t c = 0; c < 2; ++c) {
            const auto begin = captured[c].begin() + start;
            const std::vector<float> heard(begin, begin + static_cast<long>(expected[c].size()));
            EXPECT_EQ(heard, expected[c]) << "channel " << c + 1;
            for (long i = 0; i < start; ++i) ASSERT_EQ(captured[c][static_cast<size_t>(i)], 0.0f) << "before, " << i;
            // Playing stops at the length, mid-period, with silence after it.
            for (size_t i = static_cast<size_t>(start) + expected[c].size(); i < captured[c].size(); ++i)
                ASSERT_EQ(captured[c][i], 0.0f) << "after the end, " << i;
        }
        return;
    }
    GTEST_SKIP() << "every attempt had xruns: the machine is too busy to compare a real-time recording";
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
    jack_status_t status{};
    jack_client_t* client = jack_client_open("probe", JackNoStartServer, &status);
    EXPECT_EQ(client, nullptr) << "a server was started";
    if (client != nullptr) jack_client_close(client);
}

#else

TEST(Play, NeedsTheNativeVxhostWithJack) { GTEST_SKIP() << "vxhost play is built natively with JACK only"; }

#endif
