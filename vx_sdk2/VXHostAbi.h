/*
 * The host-facing binary interface in one place: every record, code and
 * opcode that crosses the boundary between the host and a plug-in library.
 *
 * On 32-bit x86 every record is a sequence of little-endian 32-bit words and
 * every function uses the cdecl convention (arguments on the stack, removed
 * by the caller); the static_asserts below pin each offset. On 64-bit targets
 * the records keep the same field order in natural C layout: pointers and
 * pointer-sized fields are 64 bits wide, 32-bit fields stay 32 bits, and the
 * results of the dispatcher and of the host callback are pointer-sized so
 * that addresses travelling as results survive.
 *
 * Plain C so that a host written in C can include it.
 */
#ifndef VX_SDK2_VXHOSTABI_H
#define VX_SDK2_VXHOSTABI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_MSC_VER)
#define VX_CDECL __cdecl
#elif defined(__i386__)
#define VX_CDECL __attribute__((cdecl))
#else
#define VX_CDECL
#endif

#ifdef __cplusplus
#define VX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
class VXModule_base;
typedef VXModule_base VXModuleObject;
extern "C" {
#else
#define VX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
typedef struct VXModuleObject VXModuleObject; /* opaque to a C host */
#endif

/* Result of the dispatcher and of the host callback: int32 on the 32-bit
 * targets, pointer-sized elsewhere. */
typedef intptr_t VXIntPtr;

enum { VX_SDK_VERSION = 2190 };

/* ---- Module properties: filled by getModuleProperties ------------------ */

typedef struct VXModuleProperties {
    const char* id;           /* written by the plug-in: module identifier */
    const char* name;         /* written by the plug-in: display name */
    const char* about;        /* written by the plug-in: about text */
    int32_t host_reserved[2]; /* the host's; never written by the plug-in */
    int32_t sdk_version;      /* written by the plug-in: always VX_SDK_VERSION */
} VXModuleProperties;

/* ---- Events: handed to the host with HC_ADD_EVENT, delivered back through
 *      the record's event_function between processing calls --------------- */

enum {
    ET_PIN_STATUS = 0, /* pin ptr_value takes stream state int_value */
    ET_DATA = 2,       /* OnDataEvent(time_stamp, int_value, (int16)int_value2) */
    ET_UNUSED6 = 6,    /* accepted, no action */
    ET_CALL = 21       /* ptr_value: entry word of a member routine to call */
};

typedef struct VXEvent {
    uint32_t time_stamp; /* sample clock at which the event takes effect */
    int32_t event_type;  /* ET_* */
    int32_t int_value;   /* ET_PIN_STATUS: the new stream state */
    int32_t int_value2;  /* ET_DATA: low 16 bits, signed */
    intptr_t ptr_value;  /* ET_PIN_STATUS: pin number; ET_CALL: entry word */
    intptr_t reserved;   /* 0 in every event the framework builds */
} VXEvent;

/* ---- The per-instance record that makeModule returns ------------------- */

struct VXPluginRecord;

/* Host to module: opcodes OP_*. Reads record->object. */
typedef VXIntPtr(VX_CDECL* VXDispatcherFunction)(struct VXPluginRecord* record, int32_t opcode, int32_t index,
                                                 int32_t value, void* ptr, float opt);
/* Host to module: render sample_frames samples from buffer_offset on. Called
 * with the record's object value, never concurrently with the other entries. */
typedef void(VX_CDECL* VXProcessFunction)(VXModuleObject* object, int32_t buffer_offset, int32_t sample_frames);
/* Host to module: one event, when the host's clock equals its time stamp. */
typedef void(VX_CDECL* VXEventFunction)(VXModuleObject* object, VXEvent* e);
/* Module to host: opcodes HC_*. The module always passes its own record and
 * opt 0.0. A null callback is tolerated: the call is skipped, the result 0. */
typedef VXIntPtr(VX_CDECL* vxaudioMasterCallback)(struct VXPluginRecord* record, int32_t opcode, int32_t index,
                                                  int32_t value, void* ptr, float opt);

enum { VX_PLUGIN_MAGIC = 0x5658507B /* "VXP{" */, VX_PLUGIN_RECORD_VERSION = 1 };

typedef struct VXPluginRecord {
    int32_t magic;                      /* VX_PLUGIN_MAGIC; constant */
    int32_t version;                    /* 1; constant */
    void* host_data;                    /* makeModule's fourth argument; never read by the plug-in */
    VXModuleObject* object;             /* the instance; first argument of process and event entries */
    int32_t reserved1;                  /* 0 */
    VXDispatcherFunction dispatcher;    /* constant */
    VXProcessFunction process_function; /* rewritten on every change of the processing routine */
    VXEventFunction event_function;     /* constant */
    int32_t reserved2[4];               /* 0 */
    float sample_rate;                  /* 44100.0 until OP_SAMPLE_RATE */
    int32_t block_size;                 /* 1024 until OP_BLOCK_SIZE */
} VXPluginRecord;

/* ---- Host-callback opcodes (module to host) ----------------------------- */

enum {
    HC_PIN_STATUS = 0,      /* index pin, value stream state, ptr clock */
    HC_PIN_QUERY = 1,       /* index pin; non-zero result means true */
    HC_SAMPLE_CLOCK = 3,    /* result: the current sample clock (uint32) */
    HC_PIN_VALUE = 4,       /* index pin, value the value, ptr clock */
    HC_PIN_BUFFER = 7,      /* index pin; result: address of its sample buffer */
    HC_BUFFER_CLOCK = 8,    /* index pin; result: clock of that buffer's element 0 */
    HC_SLEEP = 10,          /* the output has settled: stop calling the processing routine */
    HC_PIN_COUNT = 14,      /* result: number of host pins, 0 or less means none */
    HC_ADD_EVENT = 19,      /* ptr: a VXEvent that lives only during the call */
    HC_PROCESS_CHANGED = 22 /* the record's process_function was rewritten */
};

/* ---- Dispatcher opcodes (host to module) -------------------------------- */

enum {
    OP_OPEN = 0,
    OP_CLOSE = 1,               /* destroys the instance; result 1 */
    OP_SAMPLE_RATE = 2,         /* opt: the rate */
    OP_BLOCK_SIZE = 3,          /* value: the size */
    OP_GET_PIN_PROPERTIES = 6,  /* index pin, ptr VXPinProperties*; result 0 or 1 */
    OP_NOT_FOR_MODULES_7 = 7,   /* a broken host invariant */
    OP_RESTART = 8,             /* index > 0 also calls RestartValue(index) */
    OP_NOT_FOR_MODULES_10 = 10, /* a broken host invariant */
    OP_HOST_MESSAGE = 12,       /* OnHostMessage(value, index, ptr) */
    OP_GET_PROCESS_POINTER = 13 /* result: address of the library's VXProcessPointerInfo */
};

/* One record with static storage per library, rewritten on every
 * OP_GET_PROCESS_POINTER request. */
typedef struct VXProcessPointerInfo {
    int32_t format; /* 1 */
    int32_t size;   /* byte size of the member routine at address */
    void* address;  /* the requesting instance's current member routine */
    int32_t tag;    /* 1002 */
} VXProcessPointerInfo;

/* ---- Pin descriptions ---------------------------------------------------- */

enum { DR_IN = 0, DR_OUT = 1, DR_PARAMETER = 3 };

enum { DT_ENUM = 0, DT_BOOL = 4, DT_FSAMPLE = 5, DT_FLOAT = 6, DT_INT = 8 };

enum {
    IO_AUTODUPLICATE = 0x8,
    IO_PRIVATE = 0x100,
    IO_UI_COMMUNICATION = 0x400,
    IO_UI_DSP_SHARED = 0x8000,
    IO_PATCH_STORE = 0x10000
};

enum { ST_STATIC = 0, ST_ONE_OFF = 1, ST_RUN = 2 };

typedef struct VXPinProperties {
    void* variable_address;     /* the module member holding the value; 0: the pin's own storage */
    int32_t direction;          /* DR_* */
    int32_t datatype;           /* DT_* */
    const char* name;           /* display name */
    const char* default_value;  /* default as text; null for outputs */
    const char* datatype_extra; /* DT_ENUM: "label=value,..."; else null */
    int32_t flags;              /* IO_* */
    int32_t spare;              /* never written by the framework */
} VXPinProperties;

/* ---- The two exported functions ------------------------------------------ */

typedef int32_t(VX_CDECL* VXGetModulePropertiesFunction)(int32_t index, VXModuleProperties* properties);
typedef VXPluginRecord*(VX_CDECL* VXMakeModuleFunction)(int32_t index, int32_t profile, vxaudioMasterCallback callback,
                                                        void* host_data);

/* ---- The 32-bit layout, word by word ------------------------------------- */

#if INTPTR_MAX == INT32_MAX
VX_STATIC_ASSERT(sizeof(VXIntPtr) == 4, "results are int32 on 32-bit targets");

VX_STATIC_ASSERT(offsetof(VXModuleProperties, id) == 0, "id");
VX_STATIC_ASSERT(offsetof(VXModuleProperties, name) == 4, "name");
VX_STATIC_ASSERT(offsetof(VXModuleProperties, about) == 8, "about");
VX_STATIC_ASSERT(offsetof(VXModuleProperties, host_reserved) == 12, "host_reserved");
VX_STATIC_ASSERT(offsetof(VXModuleProperties, sdk_version) == 20, "sdk_version");
VX_STATIC_ASSERT(sizeof(VXModuleProperties) == 24, "VXModuleProperties size");

VX_STATIC_ASSERT(offsetof(VXPluginRecord, magic) == 0, "magic");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, version) == 4, "version");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, host_data) == 8, "host_data");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, object) == 12, "object");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, reserved1) == 16, "reserved1");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, dispatcher) == 20, "dispatcher");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, process_function) == 24, "process_function");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, event_function) == 28, "event_function");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, reserved2) == 32, "reserved2");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, sample_rate) == 48, "sample_rate");
VX_STATIC_ASSERT(offsetof(VXPluginRecord, block_size) == 52, "block_size");
VX_STATIC_ASSERT(sizeof(VXPluginRecord) == 56, "VXPluginRecord is 14 words");

VX_STATIC_ASSERT(offsetof(VXEvent, time_stamp) == 0, "time_stamp");
VX_STATIC_ASSERT(offsetof(VXEvent, event_type) == 4, "event_type");
VX_STATIC_ASSERT(offsetof(VXEvent, int_value) == 8, "int_value");
VX_STATIC_ASSERT(offsetof(VXEvent, int_value2) == 12, "int_value2");
VX_STATIC_ASSERT(offsetof(VXEvent, ptr_value) == 16, "ptr_value");
VX_STATIC_ASSERT(offsetof(VXEvent, reserved) == 20, "reserved");
VX_STATIC_ASSERT(sizeof(VXEvent) == 24, "VXEvent is 6 words");

VX_STATIC_ASSERT(offsetof(VXProcessPointerInfo, format) == 0, "format");
VX_STATIC_ASSERT(offsetof(VXProcessPointerInfo, size) == 4, "size");
VX_STATIC_ASSERT(offsetof(VXProcessPointerInfo, address) == 8, "address");
VX_STATIC_ASSERT(offsetof(VXProcessPointerInfo, tag) == 12, "tag");
VX_STATIC_ASSERT(sizeof(VXProcessPointerInfo) == 16, "VXProcessPointerInfo size");

VX_STATIC_ASSERT(offsetof(VXPinProperties, variable_address) == 0, "variable_address");
VX_STATIC_ASSERT(offsetof(VXPinProperties, direction) == 4, "direction");
VX_STATIC_ASSERT(offsetof(VXPinProperties, datatype) == 8, "datatype");
VX_STATIC_ASSERT(offsetof(VXPinProperties, name) == 12, "name");
VX_STATIC_ASSERT(offsetof(VXPinProperties, default_value) == 16, "default_value");
VX_STATIC_ASSERT(offsetof(VXPinProperties, datatype_extra) == 20, "datatype_extra");
VX_STATIC_ASSERT(offsetof(VXPinProperties, flags) == 24, "flags");
VX_STATIC_ASSERT(offsetof(VXPinProperties, spare) == 28, "spare");
VX_STATIC_ASSERT(sizeof(VXPinProperties) == 32, "VXPinProperties is 8 words");
#endif

/* ==== GUI side ============================================================
 * A plug-in's user-interface object talks to the host through a record and a
 * callback of its own. Its opcodes form a numbering apart from the module
 * side's OP_* and HC_* codes; the two never mix. */

#ifdef __cplusplus
class VXGUI_base;
typedef VXGUI_base VXGuiObject;
#else
typedef struct VXGuiObject VXGuiObject;       /* opaque to a C host */
#endif

struct VXGuiRecord;

/* Host to GUI object: opcodes GOP_*. Reads record->object. */
typedef VXIntPtr(VX_CDECL* VXGuiDispatcherFunction)(struct VXGuiRecord* record, int32_t opcode, int32_t index,
                                                    int32_t value, void* ptr, float opt);
/* GUI object to host: opcodes GHC_*. The GUI object always passes its own
 * record. Unlike the module side, a GUI object cannot work without it: a
 * host call with a null callback is a broken contract. */
typedef VXIntPtr(VX_CDECL* vxguiMasterCallback)(struct VXGuiRecord* record, int32_t opcode, int32_t index,
                                                int32_t value, void* ptr, float opt);

enum { VX_GUI_MAGIC = 0x5658504D /* "VXPM" */, VX_GUI_RECORD_VERSION = 1 };

typedef struct VXGuiRecord {
    int32_t magic;                      /* VX_GUI_MAGIC; constant */
    int32_t version;                    /* 1; constant */
    VXGuiDispatcherFunction dispatcher; /* constant */
    intptr_t host_data;                 /* the constructor's word, pointer-sized; never read by the plug-in */
    VXGuiObject* object;                /* the GUI object that embeds this record */
    int32_t reserved[5];                /* 0 */
} VXGuiRecord;

/* GUI dispatcher opcodes (host to GUI object). Any opcode above
 * GOP_LAST, compared as unsigned, is ignored with result 0. Only the
 * argument shapes of the numbered ones are fixed. */
enum {
    GOP_OPEN = 0,       /* Open(index == 1) */
    GOP_CLOSE = 1,      /* Close, then destroys the object; result 1 */
    GOP_OPCODE2 = 2,    /* index, ptr */
    GOP_OPCODE3 = 3,    /* ptr, opt and the pair (index, value) */
    GOP_OPCODE4 = 4,    /* as GOP_OPCODE3 */
    GOP_OPCODE5 = 5,    /* as GOP_OPCODE3 */
    GOP_OPCODE6 = 6,    /* value, index, ptr */
    GOP_PIN_UPDATE = 7, /* index: the pin */
    GOP_OPCODE8 = 8,    /* ptr */
    GOP_OPCODE9 = 9,    /* ptr */
    GOP_OPCODE10 = 10,  /* result 0 or 1 */
    GOP_OPCODE11 = 11,  /* index */
    GOP_OPCODE12 = 12,  /* index */
    GOP_LAST = GOP_OPCODE12
};

/* GUI callback opcodes (GUI object to host). index is the pin wherever a pin
 * is concerned. */
enum {
    GHC_WRITE_PIN_TEXT = 6,       /* ptr: the zero-terminated text, valid during the call */
    GHC_READ_PIN_TEXT = 7,        /* result: address of the host's zero-terminated text */
    GHC_REQUEST_8 = 8,            /* index, value, ptr */
    GHC_READ_PIN_VALUE = 14,      /* ptr: a 32-bit word for the host to write the value into */
    GHC_WRITE_PIN_VALUE = 15,     /* value: an integer value; opt: a float value */
    GHC_READ_PIN_TEXT_SIZED = 17, /* ptr null: result n; then value n, ptr a 2 x n byte buffer */
    GHC_REQUEST_18 = 18,          /* ptr */
    GHC_REQUEST_19 = 19,          /* ptr */
    GHC_QUERY_20 = 20             /* ptr; non-zero result means true */
};

VX_STATIC_ASSERT(sizeof(((VXGuiRecord*)0)->host_data) == sizeof(((VXPluginRecord*)0)->host_data),
                 "both records carry host data of pointer size");
#if INTPTR_MAX == INT32_MAX
VX_STATIC_ASSERT(offsetof(VXGuiRecord, magic) == 0, "gui magic");
VX_STATIC_ASSERT(offsetof(VXGuiRecord, version) == 4, "gui version");
VX_STATIC_ASSERT(offsetof(VXGuiRecord, dispatcher) == 8, "gui dispatcher");
VX_STATIC_ASSERT(offsetof(VXGuiRecord, host_data) == 12, "gui host_data");
VX_STATIC_ASSERT(offsetof(VXGuiRecord, object) == 16, "gui object");
VX_STATIC_ASSERT(offsetof(VXGuiRecord, reserved) == 20, "gui reserved");
VX_STATIC_ASSERT(sizeof(VXGuiRecord) == 40, "VXGuiRecord is 10 words");
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VX_SDK2_VXHOSTABI_H */
