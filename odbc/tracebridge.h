// The bridge to a driver manager's call-trace library: the trace settings
// of section "ODBC" in the user's .odbc.ini, read for every new physical
// connection, and the loading of a trace library by name with its version
// check, log file and entry points, through which formatted lines (among
// them a dump of an XA transaction identifier) are written.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

constexpr size_t KA_TRACE_SETTING_SIZE = 256;  // TraceFile and TraceDll, terminator included
constexpr size_t KA_TRACE_NAME_MAX = 1024;     // names handed to reload
constexpr uint32_t KA_TRACE_MIN_VERSION = 1000;
constexpr uint32_t KA_TRACE_ERROR_SIZE = 1000;

struct KaTraceSettings {
    int16_t traceMode;     // Trace: 1, 2, else 0
    int16_t traceOptions;  // TraceOptions: 1-3; else 3 with trace mode 2, else 0
    char traceFile[KA_TRACE_SETTING_SIZE];
    char traceDll[KA_TRACE_SETTING_SIZE];
};

// Reads the settings into the process-wide copy, under the trace lock, so
// that connections made on several threads at once never see a half-written
// copy. Every new physical connection calls it.
void traceReadOdbcIni() noexcept;
// The process-wide copy, as the last read left it.
void traceGetSettings(KaTraceSettings* out) noexcept;

// The entry points of a loaded trace library, in this order.
struct KaTraceLibraryRecord {
    void* traceOpenLogFile;
    void* traceCloseLogFile;
    void* traceVersion;
    void* library;
    void* twTraceEntry;
    void* twTraceExit;
    void* twTraceData;
    void* twTraceInit;
    void* twSetTraceLevel;
};

struct KaTracer {
    int16_t tracingOn;
    KaTraceLibraryRecord* library;  // null while none is loaded
};

// An X/Open XA transaction identifier.
constexpr size_t KA_XID_DATA_SIZE = 128;
struct KaXid {
    long formatID;
    long gtrid_length;
    long bqual_length;
    char data[KA_XID_DATA_SIZE];
};

// The one trace library of the process; loading and unloading hold the
// trace lock. Every operation returns 0 for success and 1 for failure.
class TraceLibrary {
public:
    [[nodiscard]] static int load(const char* logFile, const char* libraryName) noexcept;
    static void unload() noexcept;
    [[nodiscard]] static int reload(const char* logFile, size_t logFileLength, const char* libraryName,
                                    size_t libraryNameLength) noexcept;
    // Enabling answers 1 when the library was (re)loaded, else 0.
    static int setEnabled(const char* logFile, size_t logFileLength, const char* libraryName, size_t libraryNameLength,
                          int enable) noexcept;
    static int enable(KaTracer* tracer, int16_t mode, const char* logFile, size_t logFileLength,
                      const char* libraryName, size_t libraryNameLength) noexcept;
    // The loaded library's record, or null.
    static KaTraceLibraryRecord* loaded() noexcept;
};

void traceMessage(KaTracer* tracer, int32_t level, const char* format, ...) noexcept
    __attribute__((format(printf, 3, 4)));
// 1 when the tracer's flag is off, else 0 after writing the identifier.
int traceXid(KaTracer* tracer, int32_t level, const KaXid* xid) noexcept;
