// Crashes on a negative input.
#ifndef VX_TESTS_FAULTY_CRASH_MODULE_H
#define VX_TESTS_FAULTY_CRASH_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::CrashesOnNegative> {
public:
    using FaultyModule::FaultyModule;
};

#endif
