// Counting the allocations a plug-in makes where it must not. A program that
// can see every allocation of the process (vxhost and the validator tests on
// Linux interpose the allocator) installs a counter here; without one, the
// real-time check reports itself skipped.
#ifndef VXHOST_VALIDATORALLOCATIONS_H
#define VXHOST_VALIDATORALLOCATIONS_H

#include <cstdint>

namespace vxhost {

// Allocations plus releases made by the whole process so far.
using AllocationCounter = uint64_t (*)();

void InstallAllocationCounter(AllocationCounter counter);
AllocationCounter InstalledAllocationCounter();  // null when none

}  // namespace vxhost

#endif  // VXHOST_VALIDATORALLOCATIONS_H
