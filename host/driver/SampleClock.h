// The sample clock as a plug-in sees it, and where processing calls end.
//
// A host counts samples in 64 bits; the instance sees that count modulo
// 2^32 (plus an origin, so that a run can start just before the wrap). A
// stamp the instance hands back names the clock nearest to the present one,
// half the 32-bit range either side.
#ifndef VXHOST_SAMPLECLOCK_H
#define VXHOST_SAMPLECLOCK_H

#include <cstdint>

namespace vxhost {

// The clock the instance sees at run position `position`.
inline uint32_t ClockAt(uint32_t origin, int64_t position) {
    return static_cast<uint32_t>(static_cast<uint64_t>(origin) + static_cast<uint64_t>(position));
}

// How many samples `stamp` lies after `now` (negative: before it), both on
// the instance's 32-bit clock.
inline int64_t StampDistance(uint32_t stamp, uint32_t now) {
    const uint32_t ahead = stamp - now;
    return ahead < 0x80000000u ? static_cast<int64_t>(ahead)
                               : static_cast<int64_t>(ahead) - static_cast<int64_t>(0x100000000ll);
}

// The run position a stamp names, seen from run position `now`.
inline int64_t UnwrapStamp(uint32_t stamp, int64_t now, uint32_t origin = 0) {
    return now + StampDistance(stamp, ClockAt(origin, now));
}

// Where the processing call that starts `offset` samples into a block of
// `frames` ends, when the next event falls `next` samples into the block:
// there, if it falls after the call's first sample and inside the block;
// otherwise at the block's end. Every event then takes effect exactly at its
// sample, between two calls.
inline int32_t CallEnd(int32_t offset, int32_t frames, int64_t next) {
    return next > offset && next < frames ? static_cast<int32_t>(next) : frames;
}

}  // namespace vxhost

#endif  // VXHOST_SAMPLECLOCK_H
