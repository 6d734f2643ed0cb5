#include "EngineBlockSource.h"

#include <algorithm>
#include <cstring>

#include "HostError.h"

namespace vxhost {

EngineBlockSource::EngineBlockSource(std::unique_ptr<Engine> engine, std::vector<PinRef> outputs)
    : m_engine(std::move(engine)), m_outputs(std::move(outputs)) {
    if (!m_engine) throw HostError("a block source needs an engine");
    m_engine->Start();
}

void EngineBlockSource::Render(int32_t frames, const MidiMessage*, int32_t, float* const* out) {
    int32_t done = 0;
    while (done < frames) {
        const int32_t n = std::min(frames - done, m_engine->BlockSize());
        m_engine->Run(n);
        for (size_t c = 0; c < m_outputs.size(); ++c)
            std::memcpy(out[c] + done, m_engine->Output(m_outputs[c]), static_cast<size_t>(n) * sizeof(float));
        done += n;
    }
}

}  // namespace vxhost
