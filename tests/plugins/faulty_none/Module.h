// The faulty plug-ins' module with no fault: the validator must pass it.
#ifndef VX_TESTS_FAULTY_NONE_MODULE_H
#define VX_TESTS_FAULTY_NONE_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::None> {
public:
    using FaultyModule::FaultyModule;
};

#endif
