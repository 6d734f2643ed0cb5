/* A host written in plain C: it creates, opens, processes, sends an event to
 * and closes an instance through the record alone, with no C++ on its side.
 * Called from test_c_host.cpp with the two exported functions. */
#include <stddef.h>
#include <string.h>

#include "VXHostAbi.h"
#include "c_host_loop.h"

enum { PINS = 6, FRAMES = 64 };

typedef struct CHost {
    uint32_t clock;
    int calls;
    int foreign_records;
    int status_changes_seen;
    VXPluginRecord* record;
    float buffers[PINS][FRAMES];
} CHost;

static VXIntPtr VX_CDECL c_host_callback(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value,
                                         void* ptr, float opt) {
    CHost* host = (CHost*)record->host_data;
    (void)value;
    (void)ptr;
    (void)opt;
    host->calls++;
    if (host->record != NULL && record != host->record) host->foreign_records++;
    switch (opcode) {
        case HC_SAMPLE_CLOCK:
            return (VXIntPtr)host->clock;
        case HC_PIN_COUNT:
            return PINS;
        case HC_PIN_BUFFER:
            return (index >= 0 && index < PINS) ? (VXIntPtr)host->buffers[index] : 0;
        case HC_BUFFER_CLOCK:
            return 0;
        default:
            return 0;
    }
}

int c_host_run(VXGetModulePropertiesFunction get_properties, VXMakeModuleFunction make_module, CHostResult* result) {
    static CHost host;
    VXModuleProperties properties;
    VXPinProperties pin;
    VXEvent event;
    int32_t i;
    int block;

    memset(&host, 0, sizeof host);
    memset(result, 0, sizeof *result);
    memset(&properties, 0, sizeof properties);
    if (get_properties(0, &properties) != 1 || properties.sdk_version != VX_SDK_VERSION) return 1;

    host.record = make_module(0, 1, c_host_callback, &host);
    if (host.record == NULL || host.record->magic != VX_PLUGIN_MAGIC) return 2;

    host.record->dispatcher(host.record, OP_SAMPLE_RATE, 0, 0, NULL, 48000.0f);
    host.record->dispatcher(host.record, OP_BLOCK_SIZE, 0, FRAMES, NULL, 0.0f);
    host.record->dispatcher(host.record, OP_OPEN, 0, 0, NULL, 0.0f);
    for (i = 0; i < PINS; ++i) {
        memset(&pin, 0, sizeof pin);
        if (host.record->dispatcher(host.record, OP_GET_PIN_PROPERTIES, i, 0, &pin, 0.0f) != 1) return 3;
        if (pin.datatype == DT_FSAMPLE && pin.variable_address != NULL) {
            float* buffer = host.buffers[i];
            memcpy(pin.variable_address, &buffer, sizeof buffer);
        }
    }

    /* Many calls through the plain function pointer: a callee that took its
     * object from a register or cleaned the stack itself would not survive. */
    for (block = 0; block < 1000; ++block) {
        for (i = 0; i < FRAMES; ++i) host.buffers[0][i] = (float)(block + i);
        host.clock = (uint32_t)(block * FRAMES);
        host.record->process_function(host.record->object, 0, FRAMES / 2);
        host.clock += FRAMES / 2;
        host.record->process_function(host.record->object, FRAMES / 2, FRAMES / 2);
    }
    for (i = 0; i < FRAMES; ++i) result->output[i] = host.buffers[1][i];

    memset(&event, 0, sizeof event);
    event.time_stamp = host.clock;
    event.event_type = ET_PIN_STATUS;
    event.int_value = ST_RUN;
    event.ptr_value = 0;
    host.record->event_function(host.record->object, &event);

    result->close_answer = (int32_t)host.record->dispatcher(host.record, OP_CLOSE, 0, 0, NULL, 0.0f);
    result->host_calls = host.calls;
    result->foreign_records = host.foreign_records;
    return 0;
}
