// Ignores buffer_offset: every call reads and writes from the buffers' start.
#ifndef VX_TESTS_FAULTY_OFFSET_MODULE_H
#define VX_TESTS_FAULTY_OFFSET_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::IgnoresOffset> {
public:
    using FaultyModule::FaultyModule;
};

#endif
