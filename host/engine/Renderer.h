// Runs a started engine for a number of samples and hands each block of the
// chosen outputs to a sink, reporting progress along the way.
#ifndef VXHOST_RENDERER_H
#define VXHOST_RENDERER_H

#include <cstdint>
#include <functional>
#include <vector>

#include "Engine.h"

namespace vxhost {

// One block: a pointer per output, `frames` samples each.
using BlockSink = std::function<void(const std::vector<const float*>& channels, int32_t frames)>;
// Samples done so far and in all; false stops the render (HostError "interrupted").
using ProgressReport = std::function<bool(uint64_t done, uint64_t total)>;

void Render(Engine& engine, const std::vector<PinRef>& outputs, uint64_t frames, const BlockSink& sink,
            const ProgressReport& progress = nullptr);

// The whole render in memory, one vector per output.
std::vector<std::vector<float>> RenderToMemory(Engine& engine, const std::vector<PinRef>& outputs, uint64_t frames,
                                               const ProgressReport& progress = nullptr);

}  // namespace vxhost

#endif  // VXHOST_RENDERER_H
