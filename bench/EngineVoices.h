// Many voices through the host engine's normal path: each voice a sumtone
// shaped by a ramplet through a multiplier, its gate and pitch from step
// sources, all voices into one mixer. The plug-in nodes time their own
// processing calls, so that what the engine costs around them (buffers,
// events, sleep handling, the host's own modules) can be told apart.
#ifndef VX_BENCH_ENGINEVOICES_H
#define VX_BENCH_ENGINEVOICES_H

#include <cstdint>
#include <memory>
#include <vector>

#include "Engine.h"
#include "PluginLibrary.h"

namespace vxbench {

enum class VoiceScene {
    Random,    // notes start and end at random, voices sleep between them
    Sounding,  // every voice holds a note for the whole run
    Asleep,    // every voice played one short note and has gone to sleep
};

constexpr int32_t kEngineVoices = 64;
constexpr double kEngineSampleRate = 48000.0;

// Where the time of one block went, in nanoseconds, with the cost of the
// clock reads taken out.
struct BlockTimes {
    double run_ns = 0.0;     // the whole Engine::Run
    double plugin_ns = 0.0;  // inside the plug-ins' processing calls
    double timer_ns = 0.0;   // what reading the clock added to the block
    uint64_t plugin_calls = 0;
};

class VoiceBank {
public:
    // Loads both plug-ins; throws std::runtime_error when one cannot be.
    VoiceBank(VoiceScene scene, int32_t block_size, uint64_t seed = 1);
    ~VoiceBank();

    // One block of the engine, timed.
    BlockTimes Next();
    // The note schedule has no block left: Restart builds the patch anew.
    bool Exhausted() const;
    void Restart() { Build(); }
    // Voices whose oscillator was processed in the last block (an envelope
    // holding its sustain sleeps while the note sounds).
    int32_t AwakeVoices() const;
    // Voices whose oscillator and envelope both sleep.
    int32_t SleepingVoices() const;

private:
    void Build();

    VoiceScene m_scene;
    int32_t m_block_size;
    uint64_t m_seed;
    uint64_t m_length = 0;  // samples the note schedule covers
    std::shared_ptr<const vxhost::PluginLibrary> m_sumtone;
    std::shared_ptr<const vxhost::PluginLibrary> m_ramplet;
    std::unique_ptr<vxhost::Engine> m_engine;
    std::vector<vxhost::NodeId> m_oscillators;
    std::vector<vxhost::NodeId> m_envelopes;
    struct Clock;
    std::unique_ptr<Clock> m_clock;
};

// The cost of one read of the clock the voices are timed with, measured once.
double ClockReadNs();

}  // namespace vxbench

#endif  // VX_BENCH_ENGINEVOICES_H
