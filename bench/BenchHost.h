// A host for timing one plug-in instance: it drives the instance through
// the driver as a real host does (makeModule, sample rate, block size, open,
// buffer addresses written into the pins' variables, processing calls and
// stream-state events through the proxy), but only answers what a module
// asks while it runs and counts the calls, without recording or allocating
// anything, so that the time measured is the plug-in's.
#ifndef VX_BENCH_BENCHHOST_H
#define VX_BENCH_BENCHHOST_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PluginDescription.h"
#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "SettingValue.h"
#include "StreamAnswers.h"
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

class BenchHost final : private vxhost::PluginInstance::Hooks {
public:
    // Opens one instance of the library's module with buffers of
    // `block_frames` samples, which is also the block size it is told.
    BenchHost(const vxhost::PluginLibrary& library, int32_t block_frames, float sample_rate = 44100.0f) {
        if (!m_instance.Create(library)) throw std::runtime_error("makeModule returned null");
        // Pin descriptions can be read before open; the count answers HC_PIN_COUNT.
        m_pins = vxhost::ReadPinDescriptions(m_instance.Record());
        m_signals = std::make_unique<Buffers>(static_cast<int32_t>(m_pins.size()), block_frames);
        m_instance.Open(sample_rate, block_frames);
        for (const vxhost::PinDescription& pin : m_pins) {
            if (pin.raw.datatype == DT_FSAMPLE)
                vxhost::PluginInstance::WriteBufferAddress(pin.raw.variable_address, (*m_signals)[pin.number]);
        }
        ResetCounts();
    }
    ~BenchHost() { m_instance.Close(); }
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    Buffers& Signals() { return *m_signals; }
    float* Buffer(int32_t pin) { return (*m_signals)[pin]; }
    int32_t Frames() const { return m_signals->Frames(); }

    // A choice (DT_ENUM) or switch (DT_BOOL) pin, written as a host does.
    void SetSetting(int32_t pin, int32_t value) {
        const VXPinProperties& p = m_pins.at(static_cast<size_t>(pin)).raw;
        if (p.variable_address == nullptr || !vxhost::SettingValueFits(p.datatype, value))
            throw std::runtime_error("the setting cannot hold this value");
        vxhost::WriteSettingValue(p.variable_address, p.datatype, value);
    }

    // A stream-state event for `pin`, delivered at the next sample to process.
    void Notify(int32_t pin, int32_t state) {
        m_clock = m_block_clock + static_cast<uint32_t>(m_position);
        m_instance.NotifyPin(pin, state, m_clock);
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
        m_instance.Process(m_position, frames);
        m_position += frames;
    }
    // Position in the buffers of the next call's first sample.
    int32_t Position() const { return m_position; }

    // Calls the instance made to the host since the last reset.
    uint64_t HostCalls() const { return m_host_calls; }
    uint64_t SleepRequests() const { return m_sleep_requests; }
    void ResetCounts() { m_host_calls = m_sleep_requests = 0; }

private:
    VXIntPtr Answer(VXPluginRecord*, int32_t opcode, int32_t index, int32_t, void*, float) override {
        ++m_host_calls;
        VXIntPtr answer = 0;
        const auto buffer_of = [this](int32_t pin) { return (*m_signals)[pin]; };
        if (vxhost::AnswerStreamQuery(opcode, index, {m_clock, m_block_clock, m_signals->Pins()}, buffer_of, answer))
            return answer;
        switch (opcode) {
            case HC_SLEEP:
                ++m_sleep_requests;
                return 0;
            case HC_PROCESS_CHANGED:
                m_instance.RoutineChanged();
                return 0;
            default:
                return 0;
        }
    }

    vxhost::PluginInstance m_instance{*this};
    std::vector<vxhost::PinDescription> m_pins;
    std::unique_ptr<Buffers> m_signals;
    uint32_t m_block_clock = 0;
    uint32_t m_clock = 0;
    int32_t m_position = 0;
    uint64_t m_host_calls = 0;
    uint64_t m_sleep_requests = 0;
};

}  // namespace vxbench

#endif  // VX_BENCH_BENCHHOST_H
