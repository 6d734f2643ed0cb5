// What a real-time driver pulls audio from: one period at a time, together
// with the MIDI messages that arrived during that period. The offline
// renderer can drive the same interface, so a file played in real time and
// rendered offline go through one path.
#ifndef VXHOST_BLOCK_SOURCE_H
#define VXHOST_BLOCK_SOURCE_H

#include <cstdint>

namespace vxhost {

struct MidiMessage {
    int32_t frame;  // offset in the period: 0 <= frame < frames, never decreasing
    uint8_t size;   // 1 to 3 bytes; system-exclusive messages are not passed on
    uint8_t bytes[3];
};

class BlockSource {
public:
    virtual ~BlockSource() = default;
    virtual int32_t Channels() const = 0;
    // The most frames one Render call may ask for.
    virtual int32_t MaxFrames() const = 0;
    // Renders the next `frames` samples into out[channel][0..frames).
    // Runs on the audio thread: no allocation, no lock, no file access.
    virtual void Render(int32_t frames, const MidiMessage* midi, int32_t midi_count, float* const* out) = 0;
};

}  // namespace vxhost

#endif  // VXHOST_BLOCK_SOURCE_H
