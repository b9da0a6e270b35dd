// The operating-system layer's common ground: the path-buffer size, the trace
// word read from KA_DEBUGGING and the posting of operating-system errors.
// The layer's operations stand beside it, one concern a header: bosfile.h
// (files), bospath.h (paths, directories, configuration-file names),
// bosenv.h (environment, host, user, time), boslib.h (library search and
// loading, the install directory), boscatalog.h (the message catalogue) and
// bosname.h (name conversion). The rest of the driver reaches the machine
// only through them.
//
// Unless a comment says otherwise an operation returns 0 for success and 1
// for failure after posting a diagnostic into the calling thread's error list.
// Descriptors are POSIX descriptors in 32-bit integers; 0 means "none" (this
// layer never hands out descriptor 0, see bosfopen).
#pragma once
#include <cstddef>
#include <cstdint>

// Every path buffer handed to this layer holds at least this many bytes.
constexpr size_t BOS_PATH_SIZE = 1024;

// Bits of bosDebugFlags (environment variable KA_DEBUGGING, hexadecimal).
enum : uint64_t {
    BOS_TRACE_FOPEN = 0x1,
    BOS_TRACE_LOCATE = 0x2,
    BOS_TRACE_LOADLIB = 0x4,
    BOS_TRACE_STRINGS = 0x8,
    BOS_TRACE_INI_WRITE = 0x10,
    BOS_TRACE_INI_READ = 0x20,
    BOS_TRACE_INI_OPEN = 0x80,
    BOS_TRACE_EXIST = 0x100,
    BOS_TRACE_FIND = 0x200,
    BOS_TRACE_PATH = 0x400,
};

// Read once at library load from KA_DEBUGGING.
extern uint64_t bosDebugFlags;

// Posts the diagnostic for an errno value; name may be null.
void bosMapError(int error, const char* name);
void bosMapErrorW(int error, const uint16_t* name);
