// A plain patch as a block source: the engine runs one period at a time and
// the chosen outputs are copied out, the same outputs an offline render
// writes. A plain patch has no MIDI inputs, so messages are ignored.
#ifndef VXHOST_ENGINE_BLOCK_SOURCE_H
#define VXHOST_ENGINE_BLOCK_SOURCE_H

#include <memory>
#include <vector>

#include "BlockSource.h"
#include "Engine.h"

namespace vxhost {

class EngineBlockSource final : public BlockSource {
public:
    // Starts the engine (opening every module), so that nothing is left to
    // allocate once Render runs on the audio thread.
    EngineBlockSource(std::unique_ptr<Engine> engine, std::vector<PinRef> outputs);

    int32_t Channels() const override { return static_cast<int32_t>(m_outputs.size()); }
    int32_t MaxFrames() const override { return m_engine->BlockSize(); }
    // A request longer than the engine's block is run in several blocks, so
    // even a caller that breaks the MaxFrames promise gets every sample.
    void Render(int32_t frames, const MidiMessage* midi, int32_t midi_count, float* const* out) override;

    const Engine& GetEngine() const { return *m_engine; }

private:
    std::unique_ptr<Engine> m_engine;
    std::vector<PinRef> m_outputs;
};

}  // namespace vxhost

#endif  // VXHOST_ENGINE_BLOCK_SOURCE_H
