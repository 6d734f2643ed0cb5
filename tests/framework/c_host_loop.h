#ifndef VX_TESTS_C_HOST_LOOP_H
#define VX_TESTS_C_HOST_LOOP_H

#include "VXHostAbi.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CHostResult {
    float output[64];
    int32_t close_answer;
    int host_calls;
    int foreign_records;
} CHostResult;

/* 0 on success, else the step that failed. */
int c_host_run(VXGetModulePropertiesFunction get_properties, VXMakeModuleFunction make_module, CHostResult* result);

#ifdef __cplusplus
}
#endif

#endif
