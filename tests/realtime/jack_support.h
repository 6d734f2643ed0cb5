// A private JACK server per test (the dummy backend runs in real time
// without a sound card), a capture client that records what reaches its
// input ports, and vxhost run in the background.
#ifndef VX_TESTS_REALTIME_JACK_SUPPORT_H
#define VX_TESTS_REALTIME_JACK_SUPPORT_H

#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <string>
#include <vector>

// Starts `jackd --no-realtime -n <unique name> -d dummy -r 48000 -p 256`
// and points this process (and so every program it starts) at it through
// JACK_DEFAULT_SERVER. The server is ended in the destructor, and also when
// the test program dies, so none is left behind.
class JackServer {
public:
    explicit JackServer(const std::string& log_path, int period = 256);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Whether the server accepts clients; `why` says what went wrong if not.
    bool Running() const { return m_running; }
    const std::string& Why() const { return m_why; }
    const std::string& Name() const { return m_name; }

private:
    pid_t m_pid = -1;
    bool m_running = false;
    std::string m_why;
    std::string m_name;
};

// A JACK client "capture" with input ports in_1.. that records every sample
// arriving there into room reserved up front, and counts the server's xruns.
// With `from_first_sound` it keeps nothing before the first period in which
// any channel is not silent: a freewheeling server runs cycles as fast as it
// can, and the silence before the player starts would fill any room.
class Capture {
public:
    Capture(int channels, double max_seconds, bool from_first_sound = false);
    ~Capture();
    bool Open();  // false when no server answered
    void Stop();  // deactivates: the recording is complete afterwards
    // In freewheel mode the server runs each cycle only when every client has
    // finished the one before, as fast as it can: no xruns, exact data.
    bool Freewheel(bool on) { return jack_set_freewheel(m_client, on ? 1 : 0) == 0; }
    jack_client_t* Client() const { return m_client; }
    std::string Port(int channel) const { return "capture:in_" + std::to_string(channel + 1); }
    // Frames recorded per channel, once stopped.
    std::vector<std::vector<float>> Samples() const;
    int Xruns() const { return m_xruns.load(); }

private:
    static int OnProcess(jack_nframes_t frames, void* self);
    static int OnXrun(void* self);

    int m_channels;
    bool m_from_first_sound;
    bool m_heard = false;
    jack_client_t* m_client = nullptr;
    std::vector<jack_port_t*> m_ports;
    std::vector<std::vector<float>> m_samples;
    std::atomic<size_t> m_frames{0};
    std::atomic<int> m_xruns{0};
};

// A client "sender" with a MIDI output. Every period it sends a note-on at
// frame 100 and a system-exclusive message at frame 120 when `every_period`,
// and otherwise what Send hands it, once, at the next period's first frame.
class MidiSender {
public:
    explicit MidiSender(bool every_period) : m_every_period(every_period) {}
    ~MidiSender();
    bool Open();
    bool ConnectTo(const std::string& port) const;
    void Send(unsigned char status, unsigned char data1, unsigned char data2);

private:
    static int OnProcess(jack_nframes_t frames, void* self);
    bool m_every_period;
    jack_client_t* m_client = nullptr;
    jack_port_t* m_port = nullptr;
    std::atomic<uint32_t> m_pending{0};  // status, data1, data2 and a "set" bit
};

// vxhost started in the background in `folder`, its output going to files.
class Background {
public:
    Background(const std::string& folder, const std::vector<std::string>& args);
    ~Background();  // kills a program still running
    void Signal(int number) const;
    // The exit status, or -1 when it did not end within `seconds`.
    int Wait(double seconds);
    std::string Out() const;
    std::string Err() const;

private:
    std::string m_folder;
    pid_t m_pid = -1;
    int m_status = -1;
};

std::string ReadText(const std::string& path);
// Waits until `path` contains `text`; false after `seconds`.
bool WaitForText(const std::string& path, const std::string& text, double seconds);

#endif
