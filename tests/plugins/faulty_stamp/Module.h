// Stamps its announcements from the start of the host's buffer, before the call's first sample.
#ifndef VX_TESTS_FAULTY_STAMP_MODULE_H
#define VX_TESTS_FAULTY_STAMP_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::StampsInThePast> {
public:
    using FaultyModule::FaultyModule;
};

#endif
