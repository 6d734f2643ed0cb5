// Announces its output as settled but never asks to sleep.
#ifndef VX_TESTS_FAULTY_INSOMNIAC_MODULE_H
#define VX_TESTS_FAULTY_INSOMNIAC_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::NeverSleeps> {
public:
    using FaultyModule::FaultyModule;
};

#endif
