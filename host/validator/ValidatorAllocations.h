// Counting the allocations a plug-in makes where it must not. A program that
// can see every allocation of the process (vxhost and the validator tests on
// Linux interpose the allocator) installs a counter here. On Windows, where
// a plug-in library brings its own calls into the C runtime and the system
// heap, the library's import table is pointed at counting functions instead.
// With neither, the real-time check reports itself skipped.
#ifndef VXHOST_VALIDATORALLOCATIONS_H
#define VXHOST_VALIDATORALLOCATIONS_H

#include <cstdint>

namespace vxhost {

// Allocations plus releases made by the whole process so far.
using AllocationCounter = uint64_t (*)();

void InstallAllocationCounter(AllocationCounter counter);
AllocationCounter InstalledAllocationCounter();  // null when none

class PluginLibrary;

// Makes sure the library's allocations reach the installed counter: on
// Windows by redirecting its imports of the allocation functions (once per
// library; the redirection lasts as long as the library stays loaded),
// elsewhere by the process-wide counter. False when they cannot be counted.
bool CountAllocationsOf(const PluginLibrary& library);

}  // namespace vxhost

#endif  // VXHOST_VALIDATORALLOCATIONS_H
