#include "ValidatorAllocations.h"

#include "PluginLibrary.h"

namespace vxhost {

namespace {

AllocationCounter g_counter = nullptr;

}  // namespace

void InstallAllocationCounter(AllocationCounter counter) { g_counter = counter; }

AllocationCounter InstalledAllocationCounter() { return g_counter; }

#if !defined(_WIN32)
bool CountAllocationsOf(const PluginLibrary&) { return g_counter != nullptr; }
#endif

}  // namespace vxhost
