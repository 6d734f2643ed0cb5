// How engine tests steer the tracer plug-in (OP_HOST_MESSAGE: value =
// command, index = argument, ptr = record) and read what it saw. Each
// instance keeps its own log, so instances of one library stay apart.
#ifndef VX_TESTS_TRACERPROTOCOL_H
#define VX_TESTS_TRACERPROTOCOL_H

#include <stdint.h>

enum TracerPin { TRACER_IN = 0, TRACER_CTL = 1, TRACER_OUT = 2, TRACER_CHOICE = 3, TRACER_OFFSET = 4 };

enum TracerCommand {
    TRACER_GET_LOG = 1,     // ptr: TracerLog** receives this instance's log
    TRACER_SCHEDULE = 2,    // ptr: TracerArgs {clock, interval, count}: ET_DATA events, one every interval samples
    TRACER_SET_SLEEPY = 3,  // index 1: ask to sleep on every processing call; 0: never
    TRACER_ANNOUNCE =
        4,  // ptr: TracerArgs {offset, state}: the next processing call announces Out at its clock + offset
    TRACER_SET_ROUTINE = 5  // index 0: Out = In + Offset; 1: Out = -1 (a second processing routine)
};

typedef struct TracerArgs {
    uint32_t clock;
    int32_t interval;
    int32_t count;
    int32_t offset;
    int32_t state;
} TracerArgs;

enum TracerLogKind {
    TRACE_PROCESS = 1,  // clock = SampleClock(), a = buffer_offset, b = sample_frames
    TRACE_STATUS = 2,   // clock, a = pin, b = state seen, c = Choice value at that moment
    TRACE_DATA = 3      // clock, a = time stamp, b = events still to come
};

typedef struct TracerEntry {
    int32_t kind;
    uint32_t clock;
    int32_t a;
    int32_t b;
    int32_t c;
} TracerEntry;

enum { TRACER_LOG_CAPACITY = 4096 };

typedef struct TracerLog {
    int32_t count;
    TracerEntry entries[TRACER_LOG_CAPACITY];
} TracerLog;

#endif
