// How tests talk to the probe plug-in: commands sent with OP_HOST_MESSAGE
// (value = command, index = argument, ptr = in/out record) and a log in the
// library's static storage that records what the framework called.
#ifndef VX_TESTS_PROBEPROTOCOL_H
#define VX_TESTS_PROBEPROTOCOL_H

#include <stdint.h>

enum ProbeCommand {
    PROBE_GET_LOG = 1,               // ptr: ProbeLog** receives the log's address
    PROBE_SET_LAYOUT = 2,            // index: a ProbeLayout, before OP_OPEN
    PROBE_ADD_EVENT = 3,             // ptr: ProbeArgs {clock, type=value, int_value=pin, int_value2=which}
    PROBE_ADD_CALL_EVENT = 4,        // ptr: ProbeArgs {clock, which: 0 plain routine, 1 virtual Spare1}
    PROBE_GET_VALUE = 5,             // index: pin; ptr: float* receives GetValue()
    PROBE_TRANSMIT_VALUE = 6,        // ptr: ProbeArgs {clock, pin, value}
    PROBE_QUERY_FLAG = 7,            // index: pin; ptr: int32_t* receives QueryHostFlag()
    PROBE_TRANSMIT_STATUS = 8,       // ptr: ProbeArgs {clock, pin, value = state}
    PROBE_SET_ROUTINE = 9,           // index: a ProbeRoutine
    PROBE_GET_PIN = 10,              // index: pin; ptr: ProbePinInfo* receives the pin's members
    PROBE_GET_ROUTINE_WORD = 11,     // index: a ProbeRoutine; ptr: intptr_t* receives its entry word
    PROBE_REFUSE_NEXT_INSTANCE = 12  // the free store has no room for the next probe makeModule creates
};

enum ProbeLayout {
    LAYOUT_BASIC = 0,        // In, Out (audio), Choice (enum), Flag (bool), Level (float), Count (int)
    LAYOUT_AUTODUPLICATE,    // A, then B with IO_AUTODUPLICATE
    LAYOUT_UI_ONLY_FIRST,    // U (UI only), then A
    LAYOUT_UI_SHARED_FIRST,  // U (UI and DSP shared), then A
    LAYOUT_THREE,            // A, B, C
    LAYOUT_NO_VARIABLES,     // one variable-less pin of each type code 0..9 and -1
    LAYOUT_FLAG_RULE,        // pins passing the flag rule each way, then one breaking it
    LAYOUT_NONE              // no pins at all
};

enum ProbeRoutine { ROUTINE_EMPTY = 0, ROUTINE_ADD_ONE = 1, ROUTINE_CONSTANT = 2 };

enum ProbeLogKind {
    LOG_PIN_STATUS = 1,  // a = pin, b = state seen during the notification
    LOG_DATA = 2,        // a = time stamp, b = data, c = data2
    LOG_RESTART = 3,
    LOG_RESTART_VALUE = 4,  // a = value
    LOG_CALL_PLAIN = 5,
    LOG_CALL_VIRTUAL = 6,
    LOG_CLOSE = 7,
    LOG_DESTROYED = 8,
    LOG_PIN_QUERY = 9,      // a = index asked
    LOG_PROCESS = 10,       // a = buffer_offset, b = sample_frames, c = routine
    LOG_HOST_MESSAGE = 11,  // a = value, b = index
    LOG_OPEN = 12
};

typedef struct ProbeArgs {
    uint32_t clock;
    int32_t pin;
    int32_t value;
    int32_t which;
} ProbeArgs;

typedef struct ProbePinInfo {
    int32_t pin_index;
    int32_t status;
    int32_t datatype;
    void* value_ptr;
    void* module;
} ProbePinInfo;

typedef struct ProbeLogEntry {
    int32_t kind;
    int32_t a;
    int32_t b;
    int32_t c;
} ProbeLogEntry;

enum { PROBE_LOG_CAPACITY = 4096 };

typedef struct ProbeLog {
    int32_t count;
    ProbeLogEntry entries[PROBE_LOG_CAPACITY];
} ProbeLog;

#endif
