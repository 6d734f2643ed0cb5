// Contract checks of the framework, all through one door.
//
// A broken invariant is reported through the platform's own assertion
// facility (glibc's on Linux, the C runtime's on Windows) and ends the
// process. The expression text, source path and line are fixed texts that
// hosts and their logs know, so they are passed in explicitly rather than
// taken from wherever the check happens to sit in this tree.
#ifndef VX_SDK2_VXASSERT_H
#define VX_SDK2_VXASSERT_H

namespace vx {

[[noreturn]] void AssertionFailed(const char* expression, const char* source, unsigned line, const char* function);

}  // namespace vx

// VX_CHECK(condition, "expression text", "source path", line)
#define VX_CHECK(condition, expression, source, line) \
    ((condition) ? static_cast<void>(0) : ::vx::AssertionFailed(expression, source, line, __func__))

#define VX_MODULE_BASE_SOURCE "../../vx_sdk2/VXModule_base"
#define VX_PIN_SOURCE "../../vx_sdk2/VXPin"
#define VX_GUI_BASE_SOURCE "../../vx_sdk2/VXGUI_base"

#endif  // VX_SDK2_VXASSERT_H
