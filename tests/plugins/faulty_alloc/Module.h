// Allocates a scratch vector in every processing call.
#ifndef VX_TESTS_FAULTY_ALLOC_MODULE_H
#define VX_TESTS_FAULTY_ALLOC_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::AllocatesInProcess> {
public:
    using FaultyModule::FaultyModule;
};

#endif
