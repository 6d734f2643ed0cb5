// The host's floating-point state belongs to the host.
//
// Hosts set MXCSR as they like (flush-to-zero, denormals-are-zero, another
// rounding mode); the plug-ins' results must not depend on it. Each entry
// point therefore runs the plug-in with the default SSE controls (round to
// nearest, no flushing, exceptions masked) and gives the host its own state
// back on return, sticky flags included. The plug-ins do their arithmetic in
// SSE registers only (-mfpmath=sse on the 32-bit targets, no long double, no
// x87 library routines), so the x87 control word and register stack are never
// touched.
//
// The sticky flags the host has gathered stay set while the plug-in runs:
// they steer no result, and clearing one is what makes a write of MXCSR
// expensive. On the x86-64 machines we measure on, a write that clears a
// flag costs tens of nanoseconds in a processing call, one that changes only
// control bits a few. Almost every host has its inexact flag set after its
// first rounded operation; writing the bare default on entry and the host's
// value on return would cost such a host about 60 ns per call. So a host
// with the default controls pays two reads and no write, one with other
// controls two cheap writes; only a flag that the plug-in raises and the
// host had clear costs a clearing write on return.
#ifndef VX_SDK2_VXFPENVIRONMENT_H
#define VX_SDK2_VXFPENVIRONMENT_H

#include <xmmintrin.h>

namespace vx {

class FpEnvironmentGuard {
public:
    static constexpr unsigned kDefaultMxcsr = 0x1F80;
    static constexpr unsigned kStickyFlags = 0x3F;

    FpEnvironmentGuard() : m_host_mxcsr(_mm_getcsr()) {
        const unsigned plugin_mxcsr = kDefaultMxcsr | (m_host_mxcsr & kStickyFlags);
        if (m_host_mxcsr != plugin_mxcsr) _mm_setcsr(plugin_mxcsr);
    }
    ~FpEnvironmentGuard() {
        if (_mm_getcsr() != m_host_mxcsr) _mm_setcsr(m_host_mxcsr);
    }
    FpEnvironmentGuard(const FpEnvironmentGuard&) = delete;
    FpEnvironmentGuard& operator=(const FpEnvironmentGuard&) = delete;

private:
    unsigned m_host_mxcsr;
};

}  // namespace vx

#endif  // VX_SDK2_VXFPENVIRONMENT_H
