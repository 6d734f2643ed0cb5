#include "JackPlayer.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <ctime>
#include <thread>

#include "HostError.h"

namespace vxhost {

namespace {

// Room for the messages of one period; a keyboard sends a few, and a
// controller sweep some dozens. Beyond this they are dropped and counted.
constexpr size_t kMidiRoom = 1024;

// The server's own messages would repeat ours less clearly; failures are
// reported by the player in one line each.
void Silent(const char*) {}

uint64_t NowNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void RaiseTo(std::atomic<uint64_t>& peak, uint64_t value) {
    uint64_t seen = peak.load(std::memory_order_relaxed);
    while (value > seen && !peak.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {}
}

// System-exclusive messages and running-status fragments are not passed on.
bool Passable(const jack_midi_event_t& e, jack_nframes_t frames) {
    return e.size >= 1 && e.size <= 3 && e.buffer[0] >= 0x80 && e.buffer[0] != 0xF0 && e.buffer[0] != 0xF7 &&
           e.time < frames;
}

}  // namespace

JackPlayer::JackPlayer(const std::string& client_name) {
    jack_set_error_function(&Silent);
    jack_set_info_function(&Silent);
    jack_status_t status{};
    m_client = jack_client_open(client_name.c_str(), JackNoStartServer, &status);
    if (m_client == nullptr) {
        if ((status & JackServerFailed) != 0)
            throw HostError(
                "no JACK server is running; start one first (jackd -d alsa for a sound card, or jackd -d dummy "
                "to play without one)");
        if ((status & JackVersionError) != 0) throw HostError("the JACK server speaks another protocol version");
        if ((status & JackNameNotUnique) != 0) throw HostError("the JACK client name " + client_name + " is taken");
        throw HostError("cannot open a JACK client (status 0x" + [&] {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(status));
            return std::string(hex);
        }() + ")");
    }
    jack_on_info_shutdown(m_client, &OnShutdown, this);
}

JackPlayer::~JackPlayer() {
    Stop();
    if (m_client != nullptr) jack_client_close(m_client);
}

std::string JackPlayer::ClientName() const { return jack_get_client_name(m_client); }

double JackPlayer::SampleRate() const { return static_cast<double>(jack_get_sample_rate(m_client)); }

int32_t JackPlayer::PeriodFrames() const { return static_cast<int32_t>(jack_get_buffer_size(m_client)); }

void JackPlayer::Activate(BlockSource& source, PlayerOptions options) {
    if (m_active) throw HostError("the player is already active");
    if (source.MaxFrames() < PeriodFrames())
        throw HostError("the source renders at most " + std::to_string(source.MaxFrames()) +
                        " frames at a time, less than the server's period of " + std::to_string(PeriodFrames()));
    m_source = &source;
    m_options = std::move(options);
    const int32_t channels = source.Channels();
    for (int32_t c = 0; c < channels; ++c) {
        const std::string name = "out_" + std::to_string(c + 1);
        jack_port_t* port = jack_port_register(m_client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (port == nullptr) throw HostError("cannot register the JACK port " + name);
        m_outputs.push_back(port);
    }
    if (m_options.midi_input) {
        m_midi_port = jack_port_register(m_client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (m_midi_port == nullptr) throw HostError("cannot register the JACK port midi_in");
    }
    m_buffers.assign(static_cast<size_t>(channels), nullptr);
    m_live.resize(kMidiRoom);
    m_midi.resize(kMidiRoom);
    m_nanoseconds_per_frame = 1.0e9 / SampleRate();
    jack_set_process_callback(m_client, &OnProcess, this);
    jack_set_xrun_callback(m_client, &OnXrun, this);
    jack_set_buffer_size_callback(m_client, &OnBufferSize, this);
    if (jack_activate(m_client) != 0) throw HostError("cannot activate the JACK client");
    m_active = true;
}

std::vector<std::string> JackPlayer::Connect(const std::vector<std::string>& ports, bool to_system) {
    std::vector<std::string> made;
    auto connect = [&](const char* from, const char* to) {
        const int result = jack_connect(m_client, from, to);
        if (result != 0 && result != EEXIST) throw HostError(std::string("cannot connect ") + from + " to " + to);
        made.push_back(std::string(from) + " -> " + to);
    };
    if (ports.size() > m_outputs.size())
        throw HostError(std::to_string(ports.size()) + " ports to connect to, but only " +
                        std::to_string(m_outputs.size()) + " output" + (m_outputs.size() == 1 ? "" : "s"));
    for (size_t i = 0; i < ports.size(); ++i) {
        jack_port_t* target = jack_port_by_name(m_client, ports[i].c_str());
        if (target == nullptr) throw HostError("no JACK port " + ports[i]);
        if ((jack_port_flags(target) & JackPortIsInput) == 0)
            throw HostError("the JACK port " + ports[i] + " is not an input");
        connect(jack_port_name(m_outputs[i]), ports[i].c_str());
    }
    if (!ports.empty() || !to_system) return made;

    if (const char** playback =
            jack_get_ports(m_client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput)) {
        size_t count = 0;
        while (playback[count] != nullptr) ++count;
        if (m_outputs.size() == 1) {
            for (size_t i = 0; i < std::min<size_t>(count, 2); ++i) connect(jack_port_name(m_outputs[0]), playback[i]);
        } else {
            for (size_t i = 0; i < std::min(count, m_outputs.size()); ++i)
                connect(jack_port_name(m_outputs[i]), playback[i]);
        }
        jack_free(playback);
    }
    if (m_midi_port != nullptr) {
        if (const char** sources =
                jack_get_ports(m_client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsPhysical | JackPortIsOutput)) {
            for (size_t i = 0; sources[i] != nullptr; ++i) connect(sources[i], jack_port_name(m_midi_port));
            jack_free(sources);
        }
    }
    return made;
}

void JackPlayer::Start() {
    if (!m_active) throw HostError("the player is not active");
    // A connection reaches the server's graph at the start of a cycle; two
    // whole cycles later it has surely been in force for one.
    const uint64_t first = m_cycles.load(std::memory_order_acquire);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_cycles.load(std::memory_order_acquire) < first + 2 && std::chrono::steady_clock::now() < give_up &&
           m_failure.load() == kNone)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    m_playing.store(true, std::memory_order_release);
}

PlayStatus JackPlayer::Poll() {
    PlayStatus status;
    status.frames = m_frames.load(std::memory_order_acquire);
    status.periods = m_periods.load(std::memory_order_relaxed);
    status.xruns = m_xruns.load(std::memory_order_relaxed);
    const uint64_t busy = m_busy_ns.load(std::memory_order_relaxed);
    const uint64_t span = m_period_ns.load(std::memory_order_relaxed);
    status.mean_load = span > 0 ? static_cast<double>(busy) / static_cast<double>(span) : 0.0;
    status.peak_load = static_cast<double>(m_peak_ppm.load(std::memory_order_relaxed)) * 1.0e-6;
    status.recent_peak_load = static_cast<double>(m_recent_ppm.exchange(0, std::memory_order_relaxed)) * 1.0e-6;
    status.server_load = m_client != nullptr ? static_cast<double>(jack_cpu_load(m_client)) / 100.0 : 0.0;
    status.midi_dropped = m_midi_dropped.load(std::memory_order_relaxed);
    status.finished = m_finished.load(std::memory_order_acquire);
    switch (m_failure.load(std::memory_order_acquire)) {
        case kServerGone:
            status.failure = "the JACK server stopped";
            break;
        case kPeriodGrew:
            status.failure = "the JACK server's period grew to " + std::to_string(m_new_period.load()) +
                             " frames, more than the " + std::to_string(m_source->MaxFrames()) +
                             " the patch was built for; start vxhost play again";
            break;
        case kSourceFailed:
            status.failure = std::string("the patch failed while playing: ") + m_source_error;
            break;
        default:
            break;
    }
    return status;
}

void JackPlayer::Stop() {
    if (!m_active) return;
    m_active = false;
    if (m_failure.load() != kServerGone) jack_deactivate(m_client);
}

int JackPlayer::OnProcess(jack_nframes_t frames, void* self) {
    static_cast<JackPlayer*>(self)->Process(frames);
    return 0;
}

int JackPlayer::OnXrun(void* self) {
    auto* player = static_cast<JackPlayer*>(self);
    if (player->m_playing.load(std::memory_order_relaxed) && !player->m_finished.load(std::memory_order_relaxed))
        player->m_xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int JackPlayer::OnBufferSize(jack_nframes_t frames, void* self) {
    auto* player = static_cast<JackPlayer*>(self);
    // The engine was built for at most one period of its block size; a longer
    // period would overrun it, so playing stops (the callback checks too).
    if (player->m_source != nullptr && frames > static_cast<jack_nframes_t>(player->m_source->MaxFrames())) {
        player->m_new_period.store(frames);
        player->m_failure.store(kPeriodGrew);
    }
    return 0;
}

void JackPlayer::OnShutdown(jack_status_t, const char*, void* self) {
    static_cast<JackPlayer*>(self)->m_failure.store(kServerGone);
}

// The process callback: the audio thread.
void JackPlayer::Process(jack_nframes_t frames) {
    const uint64_t started = NowNanoseconds();
    for (size_t c = 0; c < m_outputs.size(); ++c)
        m_buffers[c] = static_cast<float*>(jack_port_get_buffer(m_outputs[c], frames));
    m_cycles.fetch_add(1, std::memory_order_release);

    const bool fits = frames <= static_cast<jack_nframes_t>(m_source->MaxFrames());
    if (!fits && m_failure.load(std::memory_order_relaxed) == kNone) {
        m_new_period.store(frames);
        m_failure.store(kPeriodGrew);
    }
    if (!fits || !m_playing.load(std::memory_order_acquire) || m_finished.load(std::memory_order_relaxed) ||
        m_failure.load(std::memory_order_relaxed) != kNone) {
        for (float* buffer : m_buffers) std::memset(buffer, 0, frames * sizeof(float));
        return;
    }

    const uint64_t played = m_frames.load(std::memory_order_relaxed);
    const int32_t midi_count = GatherMidi(frames, played);
    try {
        m_source->Render(static_cast<int32_t>(frames), m_midi.data(), midi_count, m_buffers.data());
    } catch (const std::exception& e) {
        // An exception must not leave JACK's thread, which would end the
        // process; playing stops and the main thread reports why.
        std::snprintf(m_source_error, sizeof m_source_error, "%s", e.what());
        m_failure.store(kSourceFailed, std::memory_order_release);
        for (float* buffer : m_buffers) std::memset(buffer, 0, frames * sizeof(float));
        return;
    }

    uint64_t now_played = played + frames;
    const uint64_t length = m_options.length_frames;
    if (length > 0 && now_played >= length) {
        const auto keep = static_cast<size_t>(length - played);
        for (float* buffer : m_buffers) std::memset(buffer + keep, 0, (frames - keep) * sizeof(float));
        now_played = length;
        m_finished.store(true, std::memory_order_release);
    }

    const uint64_t busy = NowNanoseconds() - started;
    const auto span = static_cast<uint64_t>(static_cast<double>(frames) * m_nanoseconds_per_frame);
    m_busy_ns.fetch_add(busy, std::memory_order_relaxed);
    m_period_ns.fetch_add(span, std::memory_order_relaxed);
    const uint64_t ppm = span > 0 ? busy * 1000000u / span : 0;
    RaiseTo(m_peak_ppm, ppm);
    RaiseTo(m_recent_ppm, ppm);
    m_periods.fetch_add(1, std::memory_order_relaxed);
    m_frames.store(now_played, std::memory_order_release);
}

// The period's messages in frame order: the ones scheduled for it merged with
// the ones that arrived at the MIDI input, which JACK hands over in order.
int32_t JackPlayer::GatherMidi(jack_nframes_t frames, uint64_t played) {
    size_t live = 0;
    uint64_t dropped = 0;
    if (m_midi_port != nullptr) {
        void* buffer = jack_port_get_buffer(m_midi_port, frames);
        const uint32_t events = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < events; ++i) {
            jack_midi_event_t e{};
            if (jack_midi_event_get(&e, buffer, i) != 0 || !Passable(e, frames)) continue;
            if (live == m_live.size()) {
                ++dropped;
                continue;
            }
            MidiMessage& m = m_live[live++];
            m.frame = static_cast<int32_t>(e.time);
            m.size = static_cast<uint8_t>(e.size);
            std::memset(m.bytes, 0, sizeof m.bytes);
            std::memcpy(m.bytes, e.buffer, e.size);
        }
    }

    const std::vector<ScheduledMidi>& schedule = m_options.schedule;
    const uint64_t end = played + frames;
    auto due = [&] { return m_next_scheduled < schedule.size() && schedule[m_next_scheduled].frame < end; };
    // A message scheduled before this period (none is, when the schedule is
    // in order) plays at its first frame rather than never.
    auto offset = [&](const ScheduledMidi& s) { return static_cast<int32_t>(s.frame > played ? s.frame - played : 0); };
    size_t count = 0;
    size_t l = 0;
    while (l < live || due()) {
        const bool take_scheduled = due() && (l == live || offset(schedule[m_next_scheduled]) <= m_live[l].frame);
        MidiMessage next;
        if (take_scheduled) {
            const ScheduledMidi& s = schedule[m_next_scheduled++];
            next = s.message;
            next.frame = offset(s);
        } else {
            next = m_live[l++];
        }
        if (count == m_midi.size()) {
            ++dropped;
            continue;
        }
        m_midi[count++] = next;
    }
    if (dropped > 0) m_midi_dropped.fetch_add(dropped, std::memory_order_relaxed);
    return static_cast<int32_t>(count);
}

}  // namespace vxhost
