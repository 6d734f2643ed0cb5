// Changes its processing routine without telling the host.
#ifndef VX_TESTS_FAULTY_SILENT_SWITCH_MODULE_H
#define VX_TESTS_FAULTY_SILENT_SWITCH_MODULE_H

#include "../faulty_common/FaultyModule.h"

class Module : public FaultyModule<Fault::SwitchesSilently> {
public:
    using FaultyModule::FaultyModule;
};

#endif
