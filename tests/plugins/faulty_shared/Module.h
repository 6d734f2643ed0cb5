// Keeps its glide level in one place for all its instances.
#ifndef VX_TESTS_FAULTY_SHARED_MODULE_H
#define VX_TESTS_FAULTY_SHARED_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::SharesState> {
public:
    using FaultyModule::FaultyModule;
};

#endif
