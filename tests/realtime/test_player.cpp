// The player's process callback: the MIDI it hands a source (scheduled
// messages at their exact frames, merged in order with what arrives at its
// MIDI input), and a plain patch's source rendering without allocating.
#include <gtest/gtest.h>

#if VX_HAVE_JACK_TESTS

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "EngineBlockSource.h"
#include "HostError.h"
#include "JackPlayer.h"
#include "Patch.h"
#include "PluginSearch.h"
#include "TestPlugins.h"
#include "ValidatorAllocations.h"
#include "jack_support.h"
#include "tool_support.h"

using namespace vxhost;

namespace {

// Keeps every message with the frame it was heard at (from the first frame
// rendered), in room reserved up front, and plays silence.
class MidiRecorder final : public BlockSource {
public:
    struct Heard {
        uint64_t frame;
        MidiMessage message;
    };

    int32_t Channels() const override { return 1; }
    int32_t MaxFrames() const override { return 256; }
    void Render(int32_t frames, const MidiMessage* midi, int32_t count, float* const* out) override {
        for (int32_t i = 0; i < count; ++i) {
            if (midi[i].frame < 0 || midi[i].frame >= frames || (i > 0 && midi[i].frame < midi[i - 1].frame))
                ++disorder;
            if (heard_count < heard.size())
                heard[heard_count++] = {clock + static_cast<uint64_t>(midi[i].frame), midi[i]};
        }
        std::memset(out[0], 0, static_cast<size_t>(frames) * sizeof(float));
        clock += static_cast<uint64_t>(frames);
    }

    std::array<Heard, 4096> heard{};
    size_t heard_count = 0;
    uint64_t clock = 0;
    int disorder = 0;
};

MidiMessage Note(uint8_t key) { return MidiMessage{0, 3, {0x90, key, 100}}; }

class PlayerTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        m_server = std::make_unique<JackServer>(Scratch("jackd.log"));
        ASSERT_TRUE(m_server->Running()) << m_server->Why();
    }
    void TearDown() override {
        m_server.reset();
        ToolTest::TearDown();
    }
    std::unique_ptr<JackServer> m_server;
};

}  // namespace

TEST_F(PlayerTest, ScheduledMessagesArriveAtTheirFramesMergedWithTheMidiInput) {
    MidiSender sender(true);
    ASSERT_TRUE(sender.Open());
    MidiRecorder source;
    // Both edges of a period, two messages on one frame, and the last frame.
    const std::vector<uint64_t> frames = {0, 99, 100, 255, 256, 1000, 1000, 4095};
    PlayerOptions options;
    options.midi_input = true;
    options.length_frames = 4096;
    for (size_t i = 0; i < frames.size(); ++i)
        options.schedule.push_back({frames[i], Note(static_cast<uint8_t>(40 + i))});
    {
        JackPlayer player("vxplayer");
        ASSERT_EQ(player.PeriodFrames(), 256);
        player.Activate(source, options);
        player.Connect({}, false);
        ASSERT_TRUE(sender.ConnectTo("vxplayer:midi_in"));
        player.Start();
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!player.Poll().finished && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const PlayStatus status = player.Poll();
        ASSERT_TRUE(status.finished);
        EXPECT_EQ(status.frames, 4096u);
        EXPECT_EQ(status.periods, 16u);
        EXPECT_EQ(status.midi_dropped, 0u);
        player.Stop();
    }
    EXPECT_EQ(source.clock, 4096u);
    EXPECT_EQ(source.disorder, 0) << "messages within their period and in frame order";

    std::vector<uint64_t> scheduled_at;
    size_t live = 0;
    for (size_t i = 0; i < source.heard_count; ++i) {
        const MidiRecorder::Heard& h = source.heard[i];
        if (h.message.bytes[0] == 0x90) {
            EXPECT_EQ(h.message.bytes[1], 40 + scheduled_at.size()) << "in schedule order";
            scheduled_at.push_back(h.frame);
        } else {
            EXPECT_EQ(h.message.bytes[0], 0x91) << "system-exclusive messages are not passed on";
            EXPECT_EQ(h.frame % 256, 100u);
            ++live;
        }
    }
    EXPECT_EQ(scheduled_at, frames);
    // The sender's messages may need a period or two to reach the player
    // after the connection; after that, one every period.
    EXPECT_GE(live, 10u);
}

namespace {

// Fails in its third period, the way a patch does when a step gives a
// setting a value it cannot hold.
class FailingSource final : public BlockSource {
public:
    int32_t Channels() const override { return 1; }
    int32_t MaxFrames() const override { return 256; }
    void Render(int32_t frames, const MidiMessage*, int32_t, float* const* out) override {
        if (++m_periods == 3) throw HostError("osc.Mode: value out of range");
        for (int32_t i = 0; i < frames; ++i) out[0][i] = 0.5f;
    }

private:
    int m_periods = 0;
};

}  // namespace

TEST_F(PlayerTest, ASourceThatFailsStopsPlayingWithItsReasonInsteadOfEndingTheProcess) {
    FailingSource source;
    JackPlayer player("vxplayer");
    player.Activate(source, PlayerOptions{});
    player.Start();
    PlayStatus status;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((status = player.Poll()).failure.empty() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(status.failure, "the patch failed while playing: osc.Mode: value out of range");
    EXPECT_EQ(status.frames, 512u) << "the periods before the failure";
    player.Stop();
}

TEST(EngineSourceRendering, AllocatesNothingOnceStarted) {
    const AllocationCounter count = InstalledAllocationCounter();
    if (count == nullptr) GTEST_SKIP() << "the allocator is not counted here";
    for (const char* name : {"ramplet", "sumtone"})
        if (!std::ifstream(BuiltPluginPath(name)).good()) GTEST_SKIP() << "needs the ramplet and sumtone plug-ins";
    PatchDescription description;
    description.sample_rate = 48000.0;
    description.block_size = 256;
    description.length_seconds = 1.0;
    const auto entry = [](const char* name, const char* plugin, const char* utility = "", const char* source = "") {
        ModuleEntry module;
        module.name = name;
        module.plugin = plugin;
        module.utility = utility;
        module.source = source;
        return module;
    };
    const ModuleEntry gate = entry("gate", "", "steps", "0.01:1, 0.3:0, 0.4:1, 0.6:0");
    const ModuleEntry osc = entry("osc", "sumtone");
    const ModuleEntry env = entry("env", "ramplet");
    const ModuleEntry vca = entry("vca", "", "multiply");
    description.modules = {gate, osc, env, vca};
    for (const auto& [pin, source] : std::vector<std::pair<const char*, const char*>>{
             {"fc", "0:0.5, 0.2:0.6"}, {"gate", "0:1"}, {"maxfreq", "900"}, {"fm1", "0.1"}, {"a", "0.05"}}) {
        PinSetting setting;
        setting.module = "osc";
        setting.pin = pin;
        setting.source = source;
        description.settings.push_back(setting);
    }
    description.wires = {
        {"gate.out", "env.Gate", {}, {}}, {"osc.output", "vca.in1", {}, {}}, {"env.Signal Out", "vca.in2", {}, {}}};
    description.outputs = {{"vca.out", {}}};
    BuiltPatch patch =
        BuildPatch(description, &LoadPlugin, [](const std::string&, double) { return std::vector<float>{}; });
    EngineBlockSource source(std::move(patch.engine), patch.outputs);
    std::vector<float> samples(256);
    float* const out[] = {samples.data()};
    const uint64_t before = count();
    for (int period = 0; period < 188; ++period) source.Render(256, nullptr, 0, out);
    EXPECT_EQ(count() - before, 0u) << "allocations or releases while rendering a second";
}

#endif
