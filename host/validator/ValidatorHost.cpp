#include "ValidatorHost.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SampleClock.h"
#include "SettingValue.h"
#include "StreamAnswers.h"
#include "ValidatorAllocations.h"

namespace vxhost {

namespace {

// Pre-filled into every output window: a quiet NaN with a payload no
// arithmetic produces, so a sample still holding it was never written.
constexpr uint32_t kUnwrittenMarker = 0x7FC0FEEDu;
// The guard zones around every buffer.
constexpr uint32_t kGuardPattern = 0x7FA5A5A5u;
// A module that keeps scheduling events for the sample it is at would stop
// the clock; past this many deliveries at one sample the check gives up.
constexpr int kMaxDeliveriesPerSample = 10000;

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float FromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const char* StateName(int32_t state) {
    switch (state) {
        case ST_STATIC:
            return "ST_STATIC";
        case ST_ONE_OFF:
            return "ST_ONE_OFF";
        case ST_RUN:
            return "ST_RUN";
        default:
            return "an unknown state";
    }
}

bool IsKnownOpcode(int32_t opcode) {
    switch (opcode) {
        case HC_PIN_STATUS:
        case HC_PIN_QUERY:
        case HC_SAMPLE_CLOCK:
        case HC_PIN_VALUE:
        case HC_PIN_BUFFER:
        case HC_BUFFER_CLOCK:
        case HC_SLEEP:
        case HC_PIN_COUNT:
        case HC_ADD_EVENT:
        case HC_PROCESS_CHANGED:
            return true;
        default:
            return false;
    }
}

}  // namespace

// Charges the instance being called the allocations made meanwhile outside
// the host's own answers.
class ValidatorHost::Scope {
public:
    Scope(ValidatorHost* host, CallKind kind) : m_host(host), m_previous(s_current), m_kind(kind) {
        s_current = this;
        if (Counted()) m_mark = InstalledAllocationCounter()();
    }
    ~Scope() {
        if (Counted()) Charge();
        s_current = m_previous;
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    // Around each host answer: what the host allocates is not the instance's.
    void PauseCounting() {
        if (Counted()) Charge();
    }
    void ResumeCounting() {
        if (Counted()) m_mark = InstalledAllocationCounter()();
    }
    static Scope* Current() { return s_current; }

private:
    bool Counted() const { return m_kind != CallKind::Dispatch && InstalledAllocationCounter() != nullptr; }
    void Charge() {
        const uint64_t now = InstalledAllocationCounter()();
        const uint64_t made = now - m_mark;
        m_mark = now;
        if (made == 0) return;
        if (m_host->m_allocations == 0) {
            m_host->m_first_allocation = (m_kind == CallKind::Process ? "in the processing call at sample "
                                                                      : "while an event was delivered at sample ") +
                                         std::to_string(m_host->m_now);
        }
        m_host->m_allocations += made;
    }

    ValidatorHost* m_host;
    Scope* m_previous;
    CallKind m_kind;
    uint64_t m_mark = 0;
    static Scope* s_current;
};

ValidatorHost::Scope* ValidatorHost::Scope::s_current = nullptr;

ValidatorHost::ValidatorHost(const PluginLibrary& library, CheckLog& log, const HostOptions& options)
    : m_library(library), m_log(log), m_options(options) {}

ValidatorHost::~ValidatorHost() { Close(); }

bool ValidatorHost::Create() {
    if (Record() != nullptr) return true;
    if (!m_instance.Create(m_library, 0, 1, !m_options.null_callback)) {
        m_log.Fail("makeModule(0, 1, ...) returned no instance");
        return false;
    }
    m_pins = ReadPinDescriptions(Record());
    m_input_states.assign(m_pins.size(), ST_STATIC);
    m_settings.assign(m_pins.size(), 0.0);
    for (const PinDescription& pin : m_pins) {
        m_settings[static_cast<size_t>(pin.number)] = pin.pin.default_value;
        if (pin.pin.kind != PinKind::Audio) continue;
        AudioBuffer buffer;
        buffer.pin = pin.number;
        buffer.output = pin.pin.direction == PinDirection::Output;
        buffer.storage.assign(static_cast<size_t>(m_options.block_size) + 2 * kGuard, FromBits(kGuardPattern));
        std::fill_n(buffer.Data(), m_options.block_size,
                    buffer.output ? 0.0f : static_cast<float>(pin.pin.default_value));
        buffer.expected = buffer.storage;
        m_buffers.push_back(std::move(buffer));
    }
    m_held.assign(m_buffers.size(), 0.0f);
    m_recorded.assign(m_buffers.size(), {});
    return true;
}

bool ValidatorHost::Open() {
    if (!Create()) return false;
    m_instance.Open(static_cast<float>(m_options.sample_rate), m_options.block_size);
    WriteVariables();
    return true;
}

void ValidatorHost::Close() { m_instance.Close(); }

VXIntPtr ValidatorHost::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    Scope scope(this, CallKind::Dispatch);
    return m_instance.Dispatch(opcode, index, value, ptr, opt);
}

std::vector<int32_t> ValidatorHost::OutputPins() const {
    std::vector<int32_t> pins;
    for (const AudioBuffer& b : m_buffers)
        if (b.output) pins.push_back(b.pin);
    return pins;
}

const std::vector<float>& ValidatorHost::Output(int32_t pin) const {
    static const std::vector<float> none;
    for (size_t i = 0; i < m_buffers.size(); ++i)
        if (m_buffers[i].pin == pin) return m_recorded[i];
    return none;
}

int64_t ValidatorHost::RealtimeAllocations() const {
    if (InstalledAllocationCounter() == nullptr) return -1;
    return static_cast<int64_t>(m_allocations);
}

ValidatorHost::AudioBuffer* ValidatorHost::BufferOf(int32_t pin) {
    for (AudioBuffer& b : m_buffers)
        if (b.pin == pin) return &b;
    return nullptr;
}

std::string ValidatorHost::PinName(int32_t pin) const {
    if (pin < 0 || pin >= static_cast<int32_t>(m_pins.size())) return "pin " + std::to_string(pin);
    return "'" + m_pins[static_cast<size_t>(pin)].pin.name + "'";
}

uint32_t ValidatorHost::ClockAt(int64_t position) const { return vxhost::ClockAt(m_options.clock_origin, position); }

int64_t ValidatorHost::FromStamp(uint32_t stamp) const { return UnwrapStamp(stamp, m_now, m_options.clock_origin); }

void ValidatorHost::WriteVariables() {
    for (const PinDescription& pin : m_pins) {
        void* target = pin.raw.variable_address;
        if (target == nullptr) continue;
        if (pin.pin.kind == PinKind::Audio) {
            PluginInstance::WriteBufferAddress(target, BufferOf(pin.number)->Data());
        } else if (pin.pin.kind == PinKind::Value) {
            WriteSetting(pin.number, m_settings[static_cast<size_t>(pin.number)]);
        }
    }
}

// Abuse writes values no setting holds: an integer that does not fit
// becomes 0, a float beyond float's range the infinity of its sign.
void ValidatorHost::WriteSetting(int32_t pin, double value) {
    m_settings[static_cast<size_t>(pin)] = value;
    const PinDescription& d = m_pins[static_cast<size_t>(pin)];
    void* target = d.raw.variable_address;
    if (target == nullptr) return;
    if (!SettingValueFits(d.pin.datatype, value)) {
        if (d.pin.datatype != DT_FLOAT)
            value = 0.0;
        else
            value = value < 0.0 ? -HUGE_VAL : HUGE_VAL;
    }
    WriteSettingValue(target, d.pin.datatype, value);
}

VXIntPtr ValidatorHost::Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float) {
    Scope* scope = Scope::Current();
    if (scope != nullptr) scope->PauseCounting();
    const VXIntPtr answer = AnswerChecked(record, opcode, index, value, ptr);
    if (scope != nullptr) scope->ResumeCounting();
    return answer;
}

VXIntPtr ValidatorHost::AnswerChecked(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr) {
    if (record != Record() && Record() != nullptr)
        m_log.Fail("foreign record", "called the host (opcode " + std::to_string(opcode) +
                                         ") with a record that is not the calling instance's own");
    if (!IsKnownOpcode(opcode)) {
        m_log.Fail("unknown opcode",
                   "called the host with opcode " + std::to_string(opcode) + ", which hosts do not know");
        return 0;
    }
    const bool known_pin = index >= 0 && index < static_cast<int32_t>(m_pins.size());
    const auto require_pin = [&](const char* what) {
        if (!known_pin)
            m_log.Fail(std::string("bad pin ") + what, std::string(what) + " for pin " + std::to_string(index) +
                                                           ", which does not exist (" + std::to_string(m_pins.size()) +
                                                           " pins)");
        return known_pin;
    };
    if (opcode == HC_PIN_BUFFER) require_pin("asked for the buffer");
    if (opcode == HC_BUFFER_CLOCK) require_pin("asked for the buffer clock");
    VXIntPtr answer = 0;
    const auto buffer_of = [this](int32_t pin) -> float* {
        AudioBuffer* buffer = BufferOf(pin);
        return buffer != nullptr ? buffer->Data() : nullptr;
    };
    const StreamPosition at{ClockAt(m_now), ClockAt(m_position), static_cast<int32_t>(m_pins.size())};
    if (AnswerStreamQuery(opcode, index, at, buffer_of, answer)) return answer;
    switch (opcode) {
        case HC_PIN_QUERY:
            require_pin("asked about");
            return 0;
        case HC_PIN_STATUS:
            Announce(index, value, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ptr)));
            return 0;
        case HC_PIN_VALUE: {
            if (!require_pin("sent a value")) return 0;
            const int64_t at = FromStamp(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ptr)));
            if (at < m_now)
                m_log.Fail("value stamp in the past", "sent a value of " + PinName(index) + " stamped at sample " +
                                                          std::to_string(at) + ", before the current sample " +
                                                          std::to_string(m_now));
            return 0;
        }
        case HC_SLEEP:
            if (m_in_process) {
                m_sleep_requested = true;
                m_sleep_requests.push_back({m_now, m_call_end, m_sequence++});
            }
            return 0;
        case HC_ADD_EVENT: {
            if (ptr == nullptr) {
                m_log.Fail("scheduled an event without an event record (HC_ADD_EVENT with a null pointer)");
                return 0;
            }
            VXEvent e;
            std::memcpy(&e, ptr, sizeof e);
            const int64_t at = FromStamp(e.time_stamp);
            if (at < m_now) {
                m_log.Fail("event in the past", "scheduled an event for sample " + std::to_string(at) +
                                                    ", before the current sample " + std::to_string(m_now));
                return 0;
            }
            m_queued.Push(at, e);
            return 0;
        }
        case HC_PROCESS_CHANGED:
            m_instance.RoutineChanged();
            return 0;
        default:
            return 0;
    }
}

void ValidatorHost::Announce(int32_t index, int32_t state, uint32_t stamp) {
    const bool output = index >= 0 && index < static_cast<int32_t>(m_pins.size()) &&
                        m_pins[static_cast<size_t>(index)].pin.direction == PinDirection::Output;
    if (!output) {
        m_log.Fail("announced input", "announced a stream state for " + PinName(index) + ", which is not an output");
        return;
    }
    if (state != ST_STATIC && state != ST_ONE_OFF && state != ST_RUN)
        m_log.Fail("unknown state", "announced stream state " + std::to_string(state) + " for " + PinName(index) +
                                        ", which is not a stream state");
    const int64_t at = FromStamp(stamp);
    const std::string what =
        "announced " + PinName(index) + " as " + StateName(state) + " stamped at sample " + std::to_string(at);
    if (at < m_now) {
        m_log.Fail("stamp in the past", what + ", before the current sample " + std::to_string(m_now) +
                                            (m_in_process ? " (the first sample of the processing call)" : ""));
    } else if (m_in_process && at >= m_call_end && m_call_end > m_now) {
        m_log.Fail("stamp after the call",
                   what + ", after the last sample " + std::to_string(m_call_end - 1) + " of the processing call");
    }
    m_announcements.push_back({index, state, at, m_sequence++});
}

void ValidatorHost::Start(const Scenario& scenario, const CutPolicy& cuts) {
    m_scenario = &scenario;
    m_cuts = cuts;
    m_cut_random = ValidatorRandom(cuts.seed);
    m_segment_cursor.assign(scenario.tracks.size(), 0);
    m_next_action = 0;
    m_position = 0;
    m_now = 0;
    for (size_t i = 0; i < m_buffers.size(); ++i) m_recorded[i].assign(static_cast<size_t>(scenario.length), 0.0f);
    // The start values hold from the first sample without a notification,
    // as a host's constant sources do.
    for (const InputTrack& track : scenario.tracks) {
        const PinDescription& pin = m_pins.at(static_cast<size_t>(track.pin));
        if (pin.pin.kind == PinKind::Value && !track.segments.empty()) WriteSetting(track.pin, track.segments[0].value);
    }
}

void ValidatorHost::Play(const Scenario& scenario, const CutPolicy& cuts) {
    Start(scenario, cuts);
    while (PlayBlock()) {}
}

void ValidatorHost::FillInputs(int32_t frames) {
    for (const InputTrack& track : m_scenario->tracks) {
        AudioBuffer* buffer = BufferOf(track.pin);
        if (buffer == nullptr || buffer->output || track.segments.empty()) continue;
        float* data = buffer->Data();
        // The segment in force at the block's first sample, then onwards.
        size_t s = 0;
        while (s + 1 < track.segments.size() && track.segments[s + 1].start <= static_cast<uint64_t>(m_position)) ++s;
        for (int32_t i = 0; i < frames; ++i) {
            const uint64_t clock = static_cast<uint64_t>(m_position + i);
            while (s + 1 < track.segments.size() && track.segments[s + 1].start <= clock) ++s;
            data[i] = m_scenario->Sample(track, track.segments[s], clock);
        }
        // A module reading past the block's end finds the guard pattern.
        buffer->expected = buffer->storage;
    }
}

std::vector<int32_t> ValidatorHost::CutsOfBlock(int32_t frames) {
    std::vector<int32_t> cuts;
    if (m_cuts.mode == CutMode::PerBlock) return cuts;
    const int32_t longest = m_cuts.longest_call > 0 ? m_cuts.longest_call : frames;
    int32_t at = 0;
    while (at < frames) {
        at += static_cast<int32_t>(m_cut_random.Between(1, std::max(1, longest)));
        if (at < frames) cuts.push_back(at);
    }
    return cuts;
}

void ValidatorHost::Notify(int32_t pin, int32_t state, int64_t now) {
    m_notifications.push_back({pin, state, now, m_sequence++});
    m_input_states[static_cast<size_t>(pin)] = state;
    m_asleep = false;
    VXEvent e{};
    e.event_type = ET_PIN_STATUS;
    e.int_value = state;
    e.ptr_value = pin;
    DeliverEvent(e, now);
    if (state == ST_ONE_OFF) m_input_states[static_cast<size_t>(pin)] = ST_STATIC;
}

void ValidatorHost::DeliverEvent(VXEvent e, int64_t now) {
    if (Record() == nullptr) return;
    m_now = now;
    e.time_stamp = ClockAt(now);
    Scope scope(this, CallKind::Event);
    m_instance.Deliver(e);
}

void ValidatorHost::DeliverDue(int64_t now) {
    int deliveries = 0;
    for (size_t t = 0; t < m_scenario->tracks.size(); ++t) {
        const InputTrack& track = m_scenario->tracks[t];
        size_t& cursor = m_segment_cursor[t];
        while (cursor + 1 < track.segments.size() && track.segments[cursor + 1].start <= static_cast<uint64_t>(now)) {
            const InputSegment& segment = track.segments[++cursor];
            const PinDescription& pin = m_pins[static_cast<size_t>(track.pin)];
            if (pin.pin.kind == PinKind::Value) WriteSetting(track.pin, segment.value);
            if (segment.notify) Notify(track.pin, segment.kind == SegmentKind::Held ? ST_ONE_OFF : ST_RUN, now);
        }
    }
    while (m_next_action < m_scenario->actions.size() &&
           m_scenario->actions[m_next_action].clock <= static_cast<uint64_t>(now)) {
        const HostAction& action = m_scenario->actions[m_next_action++];
        m_now = now;
        if (action.kind == HostAction::Kind::Restart) {
            Dispatch(OP_RESTART, action.index);
        } else if (action.event.event_type == ET_PIN_STATUS) {
            Notify(static_cast<int32_t>(action.event.ptr_value), action.event.int_value, now);
        } else {
            DeliverEvent(action.event, now);
        }
    }
    while (m_queued.DueBy(now)) {
        if (++deliveries > kMaxDeliveriesPerSample) {
            m_log.Fail("scheduled more than " + std::to_string(kMaxDeliveriesPerSample) + " events for sample " +
                       std::to_string(now));
            m_queued.Clear();
            break;
        }
        DeliverEvent(m_queued.Pop().item, now);
    }
}

bool ValidatorHost::PlayBlock() {
    if (m_scenario == nullptr || Record() == nullptr || m_position >= static_cast<int64_t>(m_scenario->length))
        return false;
    const int32_t frames = static_cast<int32_t>(
        std::min<int64_t>(m_options.block_size, static_cast<int64_t>(m_scenario->length) - m_position));
    FillInputs(frames);
    const std::vector<int32_t> cuts = CutsOfBlock(frames);
    size_t next_cut = 0;
    int32_t offset = 0;
    while (offset < frames) {
        const int64_t now = m_position + offset;
        DeliverDue(now);
        if (Record() == nullptr) return false;
        int64_t end = m_position + frames;
        for (size_t t = 0; t < m_scenario->tracks.size(); ++t) {
            const InputTrack& track = m_scenario->tracks[t];
            const size_t next = m_segment_cursor[t] + 1;
            if (next < track.segments.size())
                end = std::min<int64_t>(end, static_cast<int64_t>(track.segments[next].start));
        }
        if (m_next_action < m_scenario->actions.size())
            end = std::min<int64_t>(end, static_cast<int64_t>(m_scenario->actions[m_next_action].clock));
        if (!m_queued.Empty()) end = std::min<int64_t>(end, m_queued.Front().clock);
        while (next_cut < cuts.size() && cuts[next_cut] <= offset) ++next_cut;
        if (next_cut < cuts.size()) end = std::min<int64_t>(end, m_position + cuts[next_cut]);
        // At least one sample, even should something be due now still.
        const int32_t call_end = CallEnd(offset, frames, std::max<int64_t>(end, now + 1) - m_position);
        if (m_cuts.mode == CutMode::RandomWithEmpty && !m_asleep && m_cut_random.Chance(0.1)) RunCall(offset, 0);
        if (m_asleep) {
            PresentSettled(offset, call_end - offset);
        } else {
            RunCall(offset, call_end - offset);
        }
        Record(offset, call_end - offset);
        offset = call_end;
    }
    // A call of no samples just past the block's end, where a careless
    // module would read or write the sample after the last one.
    if (m_cuts.mode == CutMode::RandomWithEmpty && !m_asleep && m_cut_random.Chance(0.1)) RunCall(frames, 0);
    m_position += frames;
    m_now = m_position;
    return true;
}

void ValidatorHost::RunCall(int32_t offset, int32_t frames) {
    if (Record() == nullptr) return;
    if (m_instance.HasCallback() && m_instance.RoutineSilentlyChanged()) {
        m_log.Fail("silent routine change",
                   "changed its processing routine without telling the host (no HC_PROCESS_CHANGED)");
        m_instance.RoutineChanged();
    }
    for (AudioBuffer& b : m_buffers) {
        if (!b.output) continue;
        std::fill_n(b.Data() + offset, frames, FromBits(kUnwrittenMarker));
        b.expected = b.storage;
    }
    m_now = m_position + offset;
    m_call_end = m_now + frames;
    m_sleep_requested = false;
    m_in_process = true;
    {
        Scope scope(this, CallKind::Process);
        m_instance.Process(offset, frames);
    }
    m_in_process = false;
    ++m_process_calls;
    CheckWindow(offset, frames);
    if (m_sleep_requested && m_options.honour_sleep && (m_options.sleep_while_streaming || !AnyInputStreaming())) {
        m_asleep = true;
        for (size_t i = 0; i < m_buffers.size(); ++i) {
            if (!m_buffers[i].output) continue;
            const int64_t last = m_position + offset + frames - 1;
            m_held[i] = frames > 0 ? m_buffers[i].Data()[offset + frames - 1]
                                   : (last >= 0 ? m_recorded[i][static_cast<size_t>(last)] : 0.0f);
        }
    }
}

void ValidatorHost::CheckWindow(int32_t offset, int32_t frames) {
    const std::string call = "the processing call at sample " + std::to_string(m_position + offset) +
                             " (buffer_offset " + std::to_string(offset) + ", " + std::to_string(frames) + " samples)";
    for (AudioBuffer& b : m_buffers) {
        const size_t first = kGuard + static_cast<size_t>(offset);
        const size_t last = first + static_cast<size_t>(frames);
        if (b.output) {
            size_t unwritten = 0;
            int32_t first_unwritten = -1;
            for (size_t i = first; i < last; ++i) {
                if (Bits(b.storage[i]) != kUnwrittenMarker) continue;
                if (unwritten++ == 0) first_unwritten = static_cast<int32_t>(i - kGuard);
            }
            if (unwritten > 0)
                m_log.Fail("unwritten", call + " left " + std::to_string(unwritten) + " samples of output " +
                                            PinName(b.pin) + " unwritten, the first at buffer position " +
                                            std::to_string(first_unwritten));
        }
        for (size_t i = 0; i < b.storage.size(); ++i) {
            if (b.output && i >= first && i < last) continue;
            if (Bits(b.storage[i]) == Bits(b.expected[i])) continue;
            const long position = static_cast<long>(i) - static_cast<long>(kGuard);
            const std::string where = position < 0 || position >= m_options.block_size
                                          ? "outside the buffer (position " + std::to_string(position) + ")"
                                          : "at buffer position " + std::to_string(position);
            if (b.output) {
                m_log.Fail("outside window", call + " wrote output " + PinName(b.pin) + " " + where +
                                                 ", outside its window " + std::to_string(offset) + ".." +
                                                 std::to_string(offset + frames - 1));
            } else {
                m_log.Fail("wrote input", call + " wrote into the buffer of input " + PinName(b.pin) + " " + where);
            }
            // Put the host's samples back, so one stray write is reported once.
            for (size_t j = 0; j < b.storage.size(); ++j)
                if (!b.output || j < first || j >= last) b.storage[j] = b.expected[j];
            break;
        }
    }
}

void ValidatorHost::PresentSettled(int32_t offset, int32_t frames) {
    for (size_t i = 0; i < m_buffers.size(); ++i)
        if (m_buffers[i].output) std::fill_n(m_buffers[i].Data() + offset, frames, m_held[i]);
}

void ValidatorHost::Record(int32_t offset, int32_t frames) {
    for (size_t i = 0; i < m_buffers.size(); ++i) {
        if (!m_buffers[i].output) continue;
        std::copy_n(m_buffers[i].Data() + offset, frames, m_recorded[i].begin() + (m_position + offset));
    }
}

bool ValidatorHost::AnyInputStreaming() const {
    for (size_t i = 0; i < m_pins.size(); ++i)
        if (m_pins[i].pin.direction == PinDirection::Input && m_input_states[i] == ST_RUN) return true;
    return false;
}

}  // namespace vxhost
