// The host's floating-point state belongs to the host.
//
// Hosts set MXCSR as they like (flush-to-zero, denormals-are-zero, another
// rounding mode); the plug-ins' results must not depend on it. Each entry
// point therefore runs the plug-in with the default SSE state (round to
// nearest, no flushing, exceptions masked) and gives the host its own state
// back on return, sticky flags included. The plug-ins do their arithmetic in
// SSE registers only (-mfpmath=sse on the 32-bit targets, no long double, no
// x87 library routines), so the x87 control word and register stack are never
// touched.
#ifndef VX_SDK2_VXFPENVIRONMENT_H
#define VX_SDK2_VXFPENVIRONMENT_H

#include <xmmintrin.h>

namespace vx {

class FpEnvironmentGuard {
public:
    static constexpr unsigned kDefaultMxcsr = 0x1F80;

    FpEnvironmentGuard() : m_host_mxcsr(_mm_getcsr()) {
        if (m_host_mxcsr != kDefaultMxcsr) _mm_setcsr(kDefaultMxcsr);
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
