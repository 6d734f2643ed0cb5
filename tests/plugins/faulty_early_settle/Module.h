// Announces its output as settled while it still moves.
#ifndef VX_TESTS_FAULTY_EARLY_SETTLE_MODULE_H
#define VX_TESTS_FAULTY_EARLY_SETTLE_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::SettlesEarly> {
public:
    using FaultyModule::FaultyModule;
};

#endif
