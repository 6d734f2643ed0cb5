#include "ValidatorAllocations.h"

namespace vxhost {

namespace {

AllocationCounter g_counter = nullptr;

}  // namespace

void InstallAllocationCounter(AllocationCounter counter) { g_counter = counter; }

AllocationCounter InstalledAllocationCounter() { return g_counter; }

}  // namespace vxhost
