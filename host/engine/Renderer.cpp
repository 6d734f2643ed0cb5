#include "Renderer.h"

#include <algorithm>

#include "HostError.h"

namespace vxhost {

void Render(Engine& engine, const std::vector<PinRef>& outputs, uint64_t frames, const BlockSink& sink,
            const ProgressReport& progress) {
    engine.Start();
    std::vector<const float*> channels(outputs.size());
    uint64_t done = 0;
    while (done < frames) {
        const auto n =
            static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(engine.BlockSize()), frames - done));
        engine.Run(n);
        for (size_t i = 0; i < outputs.size(); ++i) channels[i] = engine.Output(outputs[i]);
        sink(channels, n);
        done += static_cast<uint64_t>(n);
        if (progress && !progress(done, frames)) throw HostError("interrupted");
    }
}

std::vector<std::vector<float>> RenderToMemory(Engine& engine, const std::vector<PinRef>& outputs, uint64_t frames,
                                               const ProgressReport& progress) {
    std::vector<std::vector<float>> result(outputs.size());
    for (auto& channel : result) channel.reserve(static_cast<size_t>(frames));
    Render(
        engine, outputs, frames,
        [&](const std::vector<const float*>& channels, int32_t n) {
            for (size_t i = 0; i < channels.size(); ++i)
                result[i].insert(result[i].end(), channels[i], channels[i] + n);
        },
        progress);
    return result;
}

}  // namespace vxhost
