#include "MidiFile.h"

#include <smf.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "HostError.h"

namespace vxhost {

namespace {

// Longer than anyone renders, short enough that sample counts stay exact.
constexpr double kMaxSample = 1099511627776.0;  // 2^40

// libsmf reports through GLib's log; while it reads, its first complaint is
// kept for the error message instead of being printed.
class QuietLog {
public:
    QuietLog() { m_previous = g_log_set_default_handler(&QuietLog::Keep, this); }
    ~QuietLog() { g_log_set_default_handler(m_previous, nullptr); }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;
    const std::string& First() const { return m_first; }

private:
    static void Keep(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
        auto* log = static_cast<QuietLog*>(self);
        if (log->m_first.empty() && message != nullptr) log->m_first = message;
    }
    GLogFunc m_previous = nullptr;
    std::string m_first;
};

struct SmfDeleter {
    void operator()(smf_t* smf) const { smf_delete(smf); }
};

std::string Reason(const std::string& logged) {
    // libsmf's own words, lower-cased at the start and without the final stop.
    std::string reason = logged;
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
    if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

uint32_t BigEndian(const char* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<unsigned char>(p[i]);
    return value;
}

// libsmf reads whatever part of a cut file it can; the chunk lengths tell
// whether the whole file is there. Empty when it is, else what is missing.
std::string MissingPart(const std::vector<char>& bytes) {
    const uint32_t header = BigEndian(&bytes[4], 4);
    if (header < 6) return "its header is too short";
    const uint32_t tracks = BigEndian(&bytes[10], 2);
    uint64_t at = 8 + static_cast<uint64_t>(header);
    uint32_t found = 0;
    while (found < tracks) {
        if (at + 8 > bytes.size())
            return "it holds " + std::to_string(found) + " of the " + std::to_string(tracks) + " tracks it announces";
        const uint64_t length = BigEndian(&bytes[at + 4], 4);
        if (at + 8 + length > bytes.size())
            return "a chunk announces " + std::to_string(length) + " bytes but only " +
                   std::to_string(bytes.size() - at - 8) + " follow";
        if (std::memcmp(&bytes[at], "MTrk", 4) == 0) ++found;
        at += 8 + length;
    }
    return "";
}

}  // namespace

std::vector<TimedMidiMessage> ReadMidiFile(const std::string& path, double sample_rate) {
    if (!std::isfinite(sample_rate) || sample_rate <= 0.0) throw HostError("a sample rate must be above 0 Hz");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HostError("cannot read MIDI file " + path + ": " + std::strerror(errno));
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw HostError("cannot read MIDI file " + path + ": " + std::strerror(errno));
    if (bytes.size() < 14 || std::memcmp(bytes.data(), "MThd", 4) != 0)
        throw HostError(path + " is not a standard MIDI file (it does not begin with an MThd header)");
    if (bytes.size() > 0x7fffffff) throw HostError(path + " is too large for a MIDI file");
    const std::string missing = MissingPart(bytes);
    if (!missing.empty()) throw HostError(path + " is a truncated MIDI file: " + missing);

    QuietLog log;
    std::unique_ptr<smf_t, SmfDeleter> smf(smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size())));
    if (!smf) {
        const std::string reason = Reason(log.First());
        throw HostError(path + " is a damaged or truncated MIDI file" + (reason.empty() ? "" : ": " + reason));
    }
    std::vector<TimedMidiMessage> timeline;
    for (smf_event_t* event = smf_get_next_event(smf.get()); event != nullptr; event = smf_get_next_event(smf.get())) {
        if (smf_event_is_metadata(event) || smf_event_is_sysex(event)) continue;
        const int length = event->midi_buffer_length;
        if (length < 1 || length > 3 || event->midi_buffer[0] < 0x80 || event->midi_buffer[0] >= 0xF0) continue;
        const double sample = event->time_seconds * sample_rate;
        if (!std::isfinite(sample) || sample < 0.0 || sample > kMaxSample)
            throw HostError(path + ": an event at " + std::to_string(event->time_seconds) +
                            " s lies beyond any render");
        TimedMidiMessage m{};
        m.sample = static_cast<uint64_t>(std::llround(sample));
        m.message.size = static_cast<uint8_t>(length);
        std::memcpy(m.message.bytes, event->midi_buffer, static_cast<size_t>(length));
        timeline.push_back(m);
    }
    return timeline;
}

void WriteMidiFile(const std::string& path, const std::vector<TimedMidiMessage>& song, double sample_rate) {
    if (!std::isfinite(sample_rate) || sample_rate <= 0.0) throw HostError("a sample rate must be above 0 Hz");
    QuietLog log;
    std::unique_ptr<smf_t, SmfDeleter> smf(smf_new());
    if (!smf || smf_set_ppqn(smf.get(), 960) != 0) throw HostError("cannot make a MIDI file: out of memory");
    smf_track_t* track = smf_track_new();
    if (track == nullptr) throw HostError("cannot make a MIDI file: out of memory");
    smf_add_track(smf.get(), track);
    for (const TimedMidiMessage& m : song) {
        if (m.message.size < 1 || m.message.size > 3) continue;
        unsigned char bytes[3];
        std::memcpy(bytes, m.message.bytes, m.message.size);
        smf_event_t* event = smf_event_new_from_pointer(bytes, m.message.size);
        if (event == nullptr) throw HostError("cannot write " + path + ": a message is no MIDI message");
        smf_track_add_event_seconds(track, event, static_cast<double>(m.sample) / sample_rate);
    }
    if (smf_save(smf.get(), path.c_str()) != 0) {
        const std::string reason = Reason(log.First());
        throw HostError("cannot write " + path + (reason.empty() ? "" : ": " + reason));
    }
}

}  // namespace vxhost
