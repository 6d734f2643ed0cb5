// A host for timing one plug-in instance: it plays the host's side exactly
// as a real host does (makeModule, sample rate, block size, open, buffer
// addresses written into the pins' variables, processing calls through the
// record, stream-state events through the record), but its callback only
// answers what a module asks while it runs and counts the calls, without
// recording or allocating anything, so that the time measured is the
// plug-in's.
#ifndef VX_BENCH_BENCHHOST_H
#define VX_BENCH_BENCHHOST_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PluginLibrary.h"
#include "VXHostAbi.h"

namespace vxbench {

// One sample buffer per pin, each `frames` long and 64-byte aligned, so that
// the plug-ins and the baselines work on memory laid out alike.
class Buffers {
public:
    Buffers(int32_t pins, int32_t frames)
        : m_pins(pins),
          m_frames(frames),
          m_stride(RoundUp(frames)),
          m_storage(static_cast<size_t>(pins) * m_stride + kAlignFloats, 0.0f) {
        const auto address = reinterpret_cast<uintptr_t>(m_storage.data());
        m_first = m_storage.data() + (kAlignFloats - (address / sizeof(float)) % kAlignFloats) % kAlignFloats;
    }

    int32_t Pins() const { return m_pins; }
    int32_t Frames() const { return m_frames; }
    float* operator[](int32_t pin) { return m_first + static_cast<size_t>(pin) * m_stride; }
    const float* operator[](int32_t pin) const { return m_first + static_cast<size_t>(pin) * m_stride; }
    void Fill(int32_t pin, float value) {
        float* p = (*this)[pin];
        for (int32_t i = 0; i < m_frames; ++i) p[i] = value;
    }

private:
    static constexpr size_t kAlignFloats = 64 / sizeof(float);
    static size_t RoundUp(int32_t frames) {
        return (static_cast<size_t>(frames) + kAlignFloats - 1) / kAlignFloats * kAlignFloats;
    }
    int32_t m_pins;
    int32_t m_frames;
    size_t m_stride;
    std::vector<float> m_storage;
    float* m_first;
};

inline std::string PluginPath(const std::string& name) {
    return std::string(VX_PLUGIN_DIR) + "/" + vxhost::PluginFileName(name);
}

class BenchHost {
public:
    // Opens one instance of the library's module with buffers of
    // `block_frames` samples, which is also the block size it is told.
    BenchHost(const vxhost::PluginLibrary& library, int32_t block_frames, float sample_rate = 44100.0f) {
        VXModuleProperties properties{};
        library.GetModuleProperties()(0, &properties);
        m_record = library.MakeModule()(0, 1, &BenchHost::Callback, this);
        if (m_record == nullptr) throw std::runtime_error("makeModule returned null");
        // Pin descriptions can be read before open; the count answers HC_PIN_COUNT.
        int32_t pins = 0;
        for (VXPinProperties p{}; Dispatch(OP_GET_PIN_PROPERTIES, pins, 0, &p) != 0; p = VXPinProperties{}) ++pins;
        m_signals = std::make_unique<Buffers>(pins, block_frames);
        Dispatch(OP_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
        Dispatch(OP_BLOCK_SIZE, 0, block_frames);
        Dispatch(OP_OPEN);
        for (int32_t pin = 0; pin < m_signals->Pins(); ++pin) {
            VXPinProperties p{};
            Dispatch(OP_GET_PIN_PROPERTIES, pin, 0, &p);
            m_variables.push_back(p.variable_address);
            m_datatypes.push_back(p.datatype);
            if (p.datatype == DT_FSAMPLE && p.variable_address != nullptr) {
                float* buffer = (*m_signals)[pin];
                std::memcpy(p.variable_address, &buffer, sizeof buffer);
            }
        }
        ResetCounts();
    }
    ~BenchHost() { Dispatch(OP_CLOSE); }
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    Buffers& Signals() { return *m_signals; }
    float* Buffer(int32_t pin) { return (*m_signals)[pin]; }
    int32_t Frames() const { return m_signals->Frames(); }

    // A choice (DT_ENUM) or switch (DT_BOOL) pin, written as a host does.
    void SetSetting(int32_t pin, int32_t value) {
        void* target = m_variables.at(static_cast<size_t>(pin));
        if (m_datatypes[static_cast<size_t>(pin)] == DT_ENUM) {
            const auto v = static_cast<int16_t>(value);
            std::memcpy(target, &v, sizeof v);
        } else {
            const bool v = value != 0;
            std::memcpy(target, &v, sizeof v);
        }
    }

    // A stream-state event for `pin`, delivered at the next sample to process.
    void Notify(int32_t pin, int32_t state) {
        m_clock = m_block_clock + static_cast<uint32_t>(m_position);
        VXEvent e{};
        e.time_stamp = m_clock;
        e.event_type = ET_PIN_STATUS;
        e.int_value = state;
        e.ptr_value = pin;
        m_record->event_function(m_record->object, &e);
    }

    // The next processing call of `frames` samples: the calls walk through
    // the buffers and a new block begins when they are used up. `frames`
    // must divide the block.
    void Next(int32_t frames) {
        if (m_position + frames > m_signals->Frames()) {
            m_block_clock += static_cast<uint32_t>(m_position);
            m_position = 0;
        }
        m_clock = m_block_clock + static_cast<uint32_t>(m_position);
        m_record->process_function(m_record->object, m_position, frames);
        m_position += frames;
    }
    // Position in the buffers of the next call's first sample.
    int32_t Position() const { return m_position; }

    // Calls the instance made to the host since the last reset.
    uint64_t HostCalls() const { return m_host_calls; }
    uint64_t SleepRequests() const { return m_sleep_requests; }
    void ResetCounts() { m_host_calls = m_sleep_requests = 0; }

private:
    VXIntPtr Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return m_record->dispatcher(m_record, opcode, index, value, ptr, opt);
    }

    static VXIntPtr VX_CDECL Callback(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t, void*, float) {
        auto* host = static_cast<BenchHost*>(record->host_data);
        ++host->m_host_calls;
        switch (opcode) {
            case HC_SAMPLE_CLOCK:
                return static_cast<VXIntPtr>(host->m_clock);
            case HC_PIN_COUNT:
                return host->m_signals->Pins();
            case HC_BUFFER_CLOCK:
                return static_cast<VXIntPtr>(host->m_block_clock);
            case HC_PIN_BUFFER:
                if (index < 0 || index >= host->m_signals->Pins()) return 0;
                return reinterpret_cast<VXIntPtr>((*host->m_signals)[index]);
            case HC_SLEEP:
                ++host->m_sleep_requests;
                return 0;
            default:
                return 0;
        }
    }

    VXPluginRecord* m_record = nullptr;
    std::unique_ptr<Buffers> m_signals;
    std::vector<void*> m_variables;
    std::vector<int32_t> m_datatypes;
    uint32_t m_block_clock = 0;
    uint32_t m_clock = 0;
    int32_t m_position = 0;
    uint64_t m_host_calls = 0;
    uint64_t m_sleep_requests = 0;
};

}  // namespace vxbench

#endif  // VX_BENCH_BENCHHOST_H
