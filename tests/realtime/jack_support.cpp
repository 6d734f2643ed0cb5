// Built with the real-time tests everywhere; it has something to do only
// where they run (the native build with JACK).
#if VX_HAVE_JACK_TESTS

#include "jack_support.h"

#include <fcntl.h>
#include <jack/midiport.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point After(double seconds) {
    return Clock::now() + std::chrono::microseconds(static_cast<int64_t>(seconds * 1.0e6));
}

void Silent(const char*) {}

// Ends a child and collects it: politely first, then for sure.
void End(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto give_up = After(5.0);
    while (Clock::now() < give_up) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// In the child: dies with the test program, and writes to `log`.
void BecomeChild(const std::string& log) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
}

}  // namespace

JackServer::JackServer(const std::string& log_path, int period) {
    static int count = 0;
    m_name = "vxtest-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    jack_set_error_function(&Silent);
    jack_set_info_function(&Silent);
    const std::string period_text = std::to_string(period);
    m_pid = fork();
    if (m_pid == 0) {
        BecomeChild(log_path);
        execlp("jackd", "jackd", "--no-realtime", "-n", m_name.c_str(), "-d", "dummy", "-r", "48000", "-p",
               period_text.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (m_pid < 0) {
        m_why = "cannot fork";
        return;
    }
    // A loaded machine may take a while to bring the server up.
    const auto give_up = After(30.0);
    while (Clock::now() < give_up) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            m_why = "jackd ended at once: " + ReadText(log_path);
            return;
        }
        jack_status_t status{};
        if (jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status)) {
            jack_client_close(probe);
            m_running = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_why = "jackd did not accept clients within 30 s: " + ReadText(log_path);
}

JackServer::~JackServer() { End(m_pid); }

Capture::Capture(int channels, double max_seconds, bool from_first_sound)
    : m_channels(channels),
      m_from_first_sound(from_first_sound),
      m_samples(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(max_seconds * 48000.0))) {}

Capture::~Capture() {
    Stop();
    if (m_client != nullptr) jack_client_close(m_client);
}

bool Capture::Open() {
    jack_status_t status{};
    m_client = jack_client_open("capture", static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
    if (m_client == nullptr) return false;
    for (int c = 0; c < m_channels; ++c)
        m_ports.push_back(jack_port_register(m_client, ("in_" + std::to_string(c + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                             JackPortIsInput, 0));
    jack_set_process_callback(m_client, &OnProcess, this);
    jack_set_xrun_callback(m_client, &OnXrun, this);
    return jack_activate(m_client) == 0;
}

void Capture::Stop() {
    if (m_client != nullptr) jack_deactivate(m_client);
}

std::vector<std::vector<float>> Capture::Samples() const {
    std::vector<std::vector<float>> out = m_samples;
    for (auto& channel : out) channel.resize(m_frames.load());
    return out;
}

int Capture::OnProcess(jack_nframes_t frames, void* self) {
    auto* capture = static_cast<Capture*>(self);
    if (capture->m_from_first_sound && !capture->m_heard) {
        for (int c = 0; c < capture->m_channels; ++c) {
            const auto* in =
                static_cast<const float*>(jack_port_get_buffer(capture->m_ports[static_cast<size_t>(c)], frames));
            for (jack_nframes_t i = 0; i < frames; ++i) capture->m_heard = capture->m_heard || in[i] != 0.0f;
        }
        if (!capture->m_heard) return 0;
    }
    const size_t done = capture->m_frames.load(std::memory_order_relaxed);
    const size_t room = capture->m_samples[0].size() - done;
    const size_t n = std::min<size_t>(frames, room);
    for (int c = 0; c < capture->m_channels; ++c) {
        const auto* in =
            static_cast<const float*>(jack_port_get_buffer(capture->m_ports[static_cast<size_t>(c)], frames));
        std::copy(in, in + n, capture->m_samples[static_cast<size_t>(c)].begin() + static_cast<std::ptrdiff_t>(done));
    }
    capture->m_frames.store(done + n, std::memory_order_release);
    return 0;
}

int Capture::OnXrun(void* self) {
    ++static_cast<Capture*>(self)->m_xruns;
    return 0;
}

MidiSender::~MidiSender() {
    if (m_client != nullptr) jack_client_close(m_client);
}

bool MidiSender::Open() {
    jack_status_t status{};
    m_client = jack_client_open("sender", JackNoStartServer, &status);
    if (m_client == nullptr) return false;
    m_port = jack_port_register(m_client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(m_client, &OnProcess, this);
    return m_port != nullptr && jack_activate(m_client) == 0;
}

bool MidiSender::ConnectTo(const std::string& port) const {
    return jack_connect(m_client, jack_port_name(m_port), port.c_str()) == 0;
}

void MidiSender::Send(unsigned char status, unsigned char data1, unsigned char data2) {
    m_pending.store(0x1000000u | static_cast<uint32_t>(status) << 16 | static_cast<uint32_t>(data1) << 8 | data2);
}

int MidiSender::OnProcess(jack_nframes_t frames, void* self) {
    auto* sender = static_cast<MidiSender*>(self);
    void* buffer = jack_port_get_buffer(sender->m_port, frames);
    jack_midi_clear_buffer(buffer);
    if (sender->m_every_period) {
        const jack_midi_data_t note[] = {0x91, 64, 90};
        const jack_midi_data_t exclusive[] = {0xF0, 0x7E, 0xF7};
        jack_midi_event_write(buffer, 100, note, sizeof note);
        jack_midi_event_write(buffer, 120, exclusive, sizeof exclusive);
    }
    if (const uint32_t pending = sender->m_pending.exchange(0)) {
        const jack_midi_data_t message[] = {static_cast<jack_midi_data_t>(pending >> 16),
                                            static_cast<jack_midi_data_t>(pending >> 8),
                                            static_cast<jack_midi_data_t>(pending)};
        jack_midi_event_write(buffer, 0, message, sizeof message);
    }
    return 0;
}

Background::Background(const std::string& folder, const std::vector<std::string>& args) : m_folder(folder) {
    std::vector<char*> argv;
    std::string tool = VXHOST_TOOL;
    argv.push_back(&tool[0]);
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const std::string out = folder + "/.bg-out";
    const std::string err = folder + "/.bg-err";
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (chdir(folder.c_str()) != 0) _exit(127);
        const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
}

Background::~Background() {
    if (m_status < 0) End(m_pid);
}

void Background::Signal(int number) const {
    if (m_pid > 0 && m_status < 0) kill(m_pid, number);
}

int Background::Wait(double seconds) {
    if (m_status >= 0 || m_pid <= 0) return m_status;
    const auto give_up = After(seconds);
    while (Clock::now() < give_up) {
        int raw = 0;
        if (waitpid(m_pid, &raw, WNOHANG) == m_pid) {
            m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return m_status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::string Background::Out() const { return ReadText(m_folder + "/.bg-out"); }

std::string Background::Err() const { return ReadText(m_folder + "/.bg-err"); }

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitForText(const std::string& path, const std::string& text, double seconds) {
    const auto give_up = After(seconds);
    do {
        if (ReadText(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < give_up);
    return false;
}

#endif
