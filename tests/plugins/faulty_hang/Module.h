// Hangs on an infinite input.
#ifndef VX_TESTS_FAULTY_HANG_MODULE_H
#define VX_TESTS_FAULTY_HANG_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::HangsOnInfinity> {
public:
    using FaultyModule::FaultyModule;
};

#endif
