// The trace-library bridge: settings, loading and the line writers.
#include "odbc/tracebridge.h"

#include <cstdio>
#include <cstring>

#include "foundation/kalock.h"
#include "foundation/ram.h"
#include "platform/boslib.h"
#include "platform/callmapper.h"
#include "platform/kaini.h"

namespace {

// Guards the settings and the loaded library.
KaCriticalSection traceLock(0, kKaLockPlain);
KaTraceSettings traceSettings = {};
KaTraceLibraryRecord* traceLibrary = nullptr;

constexpr char kSection[] = "ODBC";
constexpr char kOdbcIni[] = ".odbc.ini";

using TraceOpenLogFileFn = int (*)(const char* logFile, char* errorText, uint32_t errorSize);
using TraceCloseLogFileFn = int (*)();
using TraceVersionFn = uint32_t (*)();
using TwTraceDataFn = void (*)(int32_t level, const char* format, va_list args);

// Frees a record whose library is open or not; the trace lock is held.
void dropRecord(KaTraceLibraryRecord* record) noexcept
{
    if (record == nullptr)
        return;
    bosFreeLibrary(record->library);
    ramFree(record);
}

void writeData(KaTracer* tracer, int32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
// A tracer keeps the record it was enabled with; once that library is
// unloaded the record is gone, so only the loaded one is ever called.
void passToLibrary(KaTracer* tracer, int32_t level, const char* format, va_list args) noexcept
{
    KaLockGuard guard(traceLock);
    if (tracer == nullptr || tracer->library == nullptr || tracer->library != traceLibrary ||
        traceLibrary->twTraceData == nullptr)
        return;
    reinterpret_cast<TwTraceDataFn>(traceLibrary->twTraceData)(level, format, args);
}

void writeData(KaTracer* tracer, int32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    passToLibrary(tracer, level, format, args);
    va_end(args);
}

}  // namespace

void traceReadOdbcIni() noexcept
{
    // Read outside the lock: the ini reader takes locks of its own.
    KaTraceSettings read = {};
    char mode[2];  // the first character decides
    KaGetPrivateProfileString(kSection, "Trace", "0", mode, sizeof mode, kOdbcIni);
    read.traceMode = mode[0] == '1' ? 1 : mode[0] == '2' ? 2 : 0;
    char options[2];
    KaGetPrivateProfileString(kSection, "TraceOptions", "0", options, sizeof options, kOdbcIni);
    if (options[0] >= '1' && options[0] <= '3')
        read.traceOptions = int16_t(options[0] - '0');
    else
        read.traceOptions = read.traceMode == 2 ? 3 : 0;
    KaGetPrivateProfileString(kSection, "TraceFile", "", read.traceFile, int32_t(sizeof read.traceFile), kOdbcIni);
    KaGetPrivateProfileString(kSection, "TraceDll", "", read.traceDll, int32_t(sizeof read.traceDll), kOdbcIni);
    KaLockGuard guard(traceLock);
    traceSettings = read;
}

void traceGetSettings(KaTraceSettings* out) noexcept
{
    KaLockGuard guard(traceLock);
    *out = traceSettings;
}

int TraceLibrary::load(const char* logFile, const char* libraryName) noexcept
{
    if (libraryName == nullptr || libraryName[0] == 0 || logFile == nullptr)
        return 1;
    KaLockGuard guard(traceLock);
    if (traceLibrary != nullptr)
        return 1;
    auto* record = static_cast<KaTraceLibraryRecord*>(ramAlloc(sizeof(KaTraceLibraryRecord)));
    if (record == nullptr)
        return 1;
    memset(record, 0, sizeof *record);
    record->library = LoadLibrary(libraryName, 0, 0);
    if (record->library == nullptr) {
        dropRecord(record);
        return 1;
    }
    record->traceOpenLogFile = bosGetProcAddress(record->library, "TraceOpenLogFile");
    record->traceCloseLogFile = bosGetProcAddress(record->library, "TraceCloseLogFile");
    record->traceVersion = bosGetProcAddress(record->library, "TraceVersion");
    if (record->traceOpenLogFile == nullptr || record->traceCloseLogFile == nullptr ||
        record->traceVersion == nullptr ||
        reinterpret_cast<TraceVersionFn>(record->traceVersion)() < KA_TRACE_MIN_VERSION) {
        dropRecord(record);
        return 1;
    }
    char errorText[KA_TRACE_ERROR_SIZE] = {};
    if (reinterpret_cast<TraceOpenLogFileFn>(record->traceOpenLogFile)(logFile, errorText, KA_TRACE_ERROR_SIZE) != 0) {
        dropRecord(record);
        return 1;
    }
    record->twTraceEntry = bosGetProcAddress(record->library, "twTraceEntry");
    record->twTraceExit = bosGetProcAddress(record->library, "twTraceExit");
    record->twTraceData = bosGetProcAddress(record->library, "twTraceData");
    record->twTraceInit = bosGetProcAddress(record->library, "twTraceInit");
    record->twSetTraceLevel = bosGetProcAddress(record->library, "twSetTraceLevel");
    traceLibrary = record;
    return 0;
}

void TraceLibrary::unload() noexcept
{
    KaLockGuard guard(traceLock);
    if (traceLibrary == nullptr)
        return;
    reinterpret_cast<TraceCloseLogFileFn>(traceLibrary->traceCloseLogFile)();
    dropRecord(traceLibrary);
    traceLibrary = nullptr;
}

KaTraceLibraryRecord* TraceLibrary::loaded() noexcept
{
    KaLockGuard guard(traceLock);
    return traceLibrary;
}

int TraceLibrary::reload(const char* logFile, size_t logFileLength, const char* libraryName,
                         size_t libraryNameLength) noexcept
{
    if (logFile == nullptr || libraryName == nullptr || logFileLength == 0 || libraryNameLength == 0 ||
        logFileLength > KA_TRACE_NAME_MAX)
        return 1;
    char log[KA_TRACE_NAME_MAX + 1];
    char lib[KA_TRACE_NAME_MAX + 1];
    size_t libLength = libraryNameLength < KA_TRACE_NAME_MAX ? libraryNameLength : KA_TRACE_NAME_MAX;
    memcpy(log, logFile, logFileLength);
    log[logFileLength] = 0;
    memcpy(lib, libraryName, libLength);
    lib[libLength] = 0;
    unload();
    return load(log, lib);
}

int TraceLibrary::setEnabled(const char* logFile, size_t logFileLength, const char* libraryName,
                             size_t libraryNameLength, int enable) noexcept
{
    if (!enable) {
        unload();
        return 0;
    }
    return reload(logFile, logFileLength, libraryName, libraryNameLength) == 0 ? 1 : 0;
}

int TraceLibrary::enable(KaTracer* tracer, int16_t mode, const char* logFile, size_t logFileLength,
                         const char* libraryName, size_t libraryNameLength) noexcept
{
    if (tracer == nullptr)
        return 1;
    if (mode == 2 && logFile != nullptr && logFileLength > 0 &&
        setEnabled(logFile, logFileLength, libraryName, libraryNameLength, 1) == 1) {
        tracer->tracingOn = 1;
        tracer->library = loaded();
    }
    return 0;
}

void traceMessage(KaTracer* tracer, int32_t level, const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    passToLibrary(tracer, level, format, args);
    va_end(args);
}

int traceXid(KaTracer* tracer, int32_t level, const KaXid* xid) noexcept
{
    if (tracer == nullptr || tracer->tracingOn == 0)
        return 1;
    if (xid == nullptr) {
        writeData(tracer, level, "xid: NULL");
        return 0;
    }
    // Lengths from the caller are bounded by the identifier's data.
    long gtrid = xid->gtrid_length < 0 ? 0 : xid->gtrid_length;
    if (gtrid > long(KA_XID_DATA_SIZE))
        gtrid = long(KA_XID_DATA_SIZE);
    long bqual = xid->bqual_length < 0 ? 0 : xid->bqual_length;
    if (bqual > long(KA_XID_DATA_SIZE) - gtrid)
        bqual = long(KA_XID_DATA_SIZE) - gtrid;
    static const char kHex[] = "0123456789abcdef";
    char text[3 * KA_XID_DATA_SIZE + 1];

    writeData(tracer, level, "xid->formatID: 0x%0*lx (%ld)", 8, xid->formatID, xid->formatID);
    writeData(tracer, level, "xid->gtrid_length: 0x%0*lx (%ld)", 8, xid->gtrid_length, xid->gtrid_length);
    size_t n = 0;
    for (long i = 0; i < gtrid; ++i) {
        auto b = static_cast<unsigned char>(xid->data[i]);
        text[n++] = kHex[b >> 4];
        text[n++] = kHex[b & 0xF];
    }
    text[n] = 0;
    writeData(tracer, level, "xid->gtrid: %s", text);
    writeData(tracer, level, "xid->bqual_length: 0x%0*lx (%ld)", 8, xid->bqual_length, xid->bqual_length);
    memset(text, 0, sizeof text);
    n = 0;
    for (long i = 0; i < bqual; ++i) {
        auto b = static_cast<unsigned char>(xid->data[gtrid + i]);
        text[n++] = kHex[b >> 4];
        text[n++] = kHex[b & 0xF];
        text[n++] = ' ';
    }
    text[n] = 0;
    writeData(tracer, level, "xid->bqual: %s", text);
    return 0;
}
