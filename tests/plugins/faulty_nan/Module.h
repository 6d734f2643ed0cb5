// Writes a NaN where its glide arrives.
#ifndef VX_TESTS_FAULTY_NAN_MODULE_H
#define VX_TESTS_FAULTY_NAN_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::WritesNaN> {
public:
    using FaultyModule::FaultyModule;
};

#endif
