// The demo's patch: two voices, each a sumtone oscillator shaped by a
// ramplet envelope through a multiplier, mixed into one output.
#ifndef VXHOST_TOOL_DEMOPATCH_H
#define VXHOST_TOOL_DEMOPATCH_H

namespace vxhost {

extern const char* const kDemoPatch;

}  // namespace vxhost

#endif  // VXHOST_TOOL_DEMOPATCH_H
