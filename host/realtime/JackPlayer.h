// Plays a block source through a JACK server. The source runs in JACK's
// process callback, which only renders, copies to the port buffers, gathers
// the period's MIDI into preallocated room and updates counters: no
// allocation, lock or file access there. Everything the person sees (load,
// xruns, failures) is read from those counters on the main thread.
#ifndef VXHOST_JACK_PLAYER_H
#define VXHOST_JACK_PLAYER_H

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "BlockSource.h"

namespace vxhost {

// A message to play at a frame counted from the first frame played; the
// message's own `frame` is filled in per period.
struct ScheduledMidi {
    uint64_t frame;
    MidiMessage message;
};

struct PlayerOptions {
    bool midi_input = false;              // a JACK MIDI input port "midi_in"
    std::vector<ScheduledMidi> schedule;  // in frame order
    uint64_t length_frames = 0;           // silence after this many frames; 0 for no end
};

struct PlayStatus {
    uint64_t frames = 0;   // played so far
    uint64_t periods = 0;  // process callbacks that rendered
    uint64_t xruns = 0;    // reported by the server while playing
    // Time spent in the callback as a share of the period (0.25 = a quarter).
    double mean_load = 0.0;
    double peak_load = 0.0;
    double recent_peak_load = 0.0;  // since the previous Poll
    double server_load = 0.0;       // the server's own estimate, same scale
    uint64_t midi_dropped = 0;      // messages beyond the room of one period
    bool finished = false;          // the length was reached
    std::string failure;            // why playing stopped early, empty if it did not
};

class JackPlayer {
public:
    // Opens a client without ever starting a server: HostError with a line
    // saying how to start one when none runs.
    explicit JackPlayer(const std::string& client_name);
    ~JackPlayer();
    JackPlayer(const JackPlayer&) = delete;
    JackPlayer& operator=(const JackPlayer&) = delete;

    std::string ClientName() const;  // the server may have made the asked name unique
    double SampleRate() const;
    int32_t PeriodFrames() const;

    // Registers "out_1".. (one per channel) and, when asked, "midi_in", and
    // activates the client. The source stays silent until Start. `source`
    // must outlive the player's activity (Stop or destruction).
    void Activate(BlockSource& source, PlayerOptions options);
    // Connects out_i to ports[i] (HostError for a port that does not exist),
    // or with no ports given and `to_system`, to the system's playback ports
    // (a single output to the first two) and the system's MIDI sources to
    // midi_in. Returns the connections made, "from -> to".
    std::vector<std::string> Connect(const std::vector<std::string>& ports, bool to_system);
    // Lets the source play once the connections are in the server's graph,
    // so that its first sample is heard.
    void Start();
    PlayStatus Poll();
    void Stop();

private:
    enum Failure : int { kNone = 0, kServerGone = 1, kPeriodGrew = 2, kSourceFailed = 3 };

    static int OnProcess(jack_nframes_t frames, void* self);
    static int OnXrun(void* self);
    static int OnBufferSize(jack_nframes_t frames, void* self);
    static void OnShutdown(jack_status_t code, const char* reason, void* self);
    void Process(jack_nframes_t frames);
    int32_t GatherMidi(jack_nframes_t frames, uint64_t played);

    jack_client_t* m_client = nullptr;
    bool m_active = false;
    BlockSource* m_source = nullptr;
    PlayerOptions m_options;
    std::vector<jack_port_t*> m_outputs;
    jack_port_t* m_midi_port = nullptr;
    std::vector<float*> m_buffers;    // the period's port buffers, filled in the callback
    std::vector<MidiMessage> m_live;  // room for one period's live messages
    std::vector<MidiMessage> m_midi;  // the period's messages, merged
    size_t m_next_scheduled = 0;      // callback only
    double m_nanoseconds_per_frame = 0.0;

    std::atomic<bool> m_playing{false};
    std::atomic<uint64_t> m_cycles{0};  // every callback, playing or not
    std::atomic<uint64_t> m_frames{0};
    std::atomic<uint64_t> m_periods{0};
    std::atomic<uint64_t> m_xruns{0};
    std::atomic<uint64_t> m_busy_ns{0};    // summed over the periods played
    std::atomic<uint64_t> m_period_ns{0};  // the same periods' lengths
    std::atomic<uint64_t> m_peak_ppm{0};   // millionths of the period, worst so far
    std::atomic<uint64_t> m_recent_ppm{0};
    std::atomic<uint64_t> m_midi_dropped{0};
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_failure{kNone};
    std::atomic<uint32_t> m_new_period{0};
    // Why the source failed, written by the callback before m_failure says so.
    char m_source_error[256] = {0};
};

}  // namespace vxhost

#endif  // VXHOST_JACK_PLAYER_H
