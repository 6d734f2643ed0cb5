#include "VXAssert.h"

// The facility's reporting function is wanted whatever the build type.
#undef NDEBUG
#include <assert.h>
#include <cstdlib>

namespace vx {

void AssertionFailed(const char* expression, const char* source, unsigned line, const char* function) {
#if defined(_WIN32)
    (void)function;
    _assert(expression, source, line);
#else
    __assert_fail(expression, source, line, function);
#endif
    std::abort();  // not reached; keeps [[noreturn]] honest on every runtime
}

}  // namespace vx
