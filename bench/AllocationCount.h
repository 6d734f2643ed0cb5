// Counts the free-store allocations of the whole process, plug-ins included:
// the benchmark program replaces the global operator new and exports it, so
// that the plug-in libraries it loads allocate through it too.
#ifndef VX_BENCH_ALLOCATIONCOUNT_H
#define VX_BENCH_ALLOCATIONCOUNT_H

#include <cstdint>

namespace vxbench {

uint64_t Allocations();

}  // namespace vxbench

#endif  // VX_BENCH_ALLOCATIONCOUNT_H
