// Shared pieces of the engine tests: plug-ins from the build's folder, the
// tracer's per-instance log, and patches small enough to read at a glance.
#ifndef VX_TESTS_HOST_ENGINE_SUPPORT_H
#define VX_TESTS_HOST_ENGINE_SUPPORT_H

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CombinerNodes.h"
#include "Engine.h"
#include "PluginNode.h"
#include "SourceNodes.h"
#include "TestPlugins.h"
#include "plugins/tracer/TracerProtocol.h"

inline vxhost::PluginNode& AddTracer(vxhost::Engine& engine, const std::string& name) {
    return engine.Emplace<vxhost::PluginNode>(SharedPlugin("tracer"), name);
}

inline std::vector<TracerEntry> Trace(vxhost::PluginNode& node, int32_t kind) {
    TracerLog* log = nullptr;
    node.Dispatch(OP_HOST_MESSAGE, 0, TRACER_GET_LOG, &log);
    std::vector<TracerEntry> out;
    for (int32_t i = 0; i < log->count && i < TRACER_LOG_CAPACITY; ++i)
        if (log->entries[i].kind == kind) out.push_back(log->entries[i]);
    return out;
}

// Clocks at which processing calls began.
inline std::vector<uint32_t> CallStarts(vxhost::PluginNode& node) {
    std::vector<uint32_t> starts;
    for (const TracerEntry& e : Trace(node, TRACE_PROCESS)) starts.push_back(e.clock);
    return starts;
}

inline vxhost::PinRef Pin(vxhost::Engine& engine, const vxhost::Node& node, const std::string& name) {
    const int32_t pin = node.FindPin(name);
    if (pin < 0) throw std::runtime_error("no pin " + name + " on " + node.Name());
    return {engine.IdOf(node), pin};
}

inline void Connect(vxhost::Engine& engine, const vxhost::Node& from, const std::string& out, const vxhost::Node& to,
                    const std::string& in) {
    engine.Connect(Pin(engine, from, out), Pin(engine, to, in));
}

// Runs whole blocks and keeps what `ref` produced.
inline std::vector<float> RunAndCollect(vxhost::Engine& engine, vxhost::PinRef ref, int64_t frames) {
    std::vector<float> samples;
    while (static_cast<int64_t>(samples.size()) < frames) {
        const int32_t n =
            static_cast<int32_t>(std::min<int64_t>(engine.BlockSize(), frames - static_cast<int64_t>(samples.size())));
        engine.Run(n);
        const float* out = engine.Output(ref);
        samples.insert(samples.end(), out, out + n);
    }
    return samples;
}

#endif
