// Keeps its glide level in its input buffer.
#ifndef VX_TESTS_FAULTY_WRITES_INPUT_MODULE_H
#define VX_TESTS_FAULTY_WRITES_INPUT_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::WritesInput> {
public:
    using FaultyModule::FaultyModule;
};

#endif
