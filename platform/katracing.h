// The driver's own trace writers: records kept in numbered files that roll
// over by size, in a memory ring, or in a memory buffer emptied into rolling
// files whenever it fills. Configured by an option string of key=value pairs
// separated by ";". The connection's packet logging creates one with
// createTracing and hands it its formatted lines; writers add nothing to a
// record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "foundation/kalock.h"
#include "foundation/kaobject.h"

// Longest trace file name, terminator not counted.
constexpr size_t KA_TRACE_PATH_MAX = 1024;
// The file-name part plus the number field must stay below this.
constexpr size_t KA_TRACE_NAME_LIMIT = 130;
constexpr uint64_t KA_TRACE_DEFAULT_NUM_FILES = 10;
constexpr uint64_t KA_TRACE_DEFAULT_DIGITS = 2;
constexpr uint64_t KA_TRACE_DEFAULT_FILE_SIZE = 10485760;
constexpr uint64_t KA_TRACE_DEFAULT_MEMORY_SIZE = 1048576;
constexpr uint64_t KA_TRACE_NO_LIMIT = UINT64_MAX;

// Values of ODBCTraceMode.
enum : uint64_t { KA_TRACE_MODE_FILE = 0, KA_TRACE_MODE_MEMORY_FILE = 1, KA_TRACE_MODE_MEMORY = 2 };
// Values of ODBCTraceFlush.
enum : int32_t { KA_TRACE_FLUSH_NEVER = 0, KA_TRACE_FLUSH_ON_REQUEST = 1, KA_TRACE_FLUSH_EACH_RECORD = 2 };

// Every operation returns 0 for success and 1 for failure.
class KaTracing : public KaObject {
public:
    ~KaTracing() override = default;
    [[nodiscard]] virtual int configure(const char* options) = 0;
    [[nodiscard]] virtual int write(const void* bytes, size_t length) = 0;
    virtual int close() = 0;
    virtual int flush();
};

class KaFileTracing : public KaTracing {
public:
    char* path = nullptr;
    char* numberField = nullptr;
    uint64_t maxNumFiles = KA_TRACE_DEFAULT_NUM_FILES;
    uint64_t maxFileSize = KA_TRACE_DEFAULT_FILE_SIZE;
    uint64_t bytesWritten = 0;
    uint64_t digitCount = KA_TRACE_DEFAULT_DIGITS;
    uint64_t fileNumber = 0;
    FILE* file = nullptr;
    int32_t flushMode = KA_TRACE_FLUSH_NEVER;
    // Set when a trace file could not be opened: later records fail without
    // a second diagnostic instead of vanishing as if written.
    int32_t openFailed = 0;
    KaCriticalSection lock{0, kKaLockPlain};

    KaFileTracing() noexcept = default;
    ~KaFileTracing() override;

    [[nodiscard]] int configure(const char* options) override;
    [[nodiscard]] int write(const void* bytes, size_t length) override;
    int close() override;
    int flush() override;

    bool isOpen() noexcept;

private:
    [[nodiscard]] int openNextFile() noexcept;
    void closeFile() noexcept;
    void freePath() noexcept;
};

class KaMemoryTracing : public KaTracing {
public:
    char* buffer = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;
    KaCriticalSection lock{0, kKaLockPlain};

    KaMemoryTracing() noexcept = default;
    ~KaMemoryTracing() override;

    [[nodiscard]] int configure(const char* options) override;
    [[nodiscard]] int write(const void* bytes, size_t length) override;
    int close() override;
    int flush() override;
};

class KaMemFileTracing : public KaTracing {
public:
    KaMemoryTracing* memory = nullptr;
    KaFileTracing* fileWriter = nullptr;
    uint64_t* memoryPosition = nullptr;
    KaCriticalSection lock{0, kKaLockPlain};

    KaMemFileTracing() noexcept = default;
    ~KaMemFileTracing() override;

    [[nodiscard]] int configure(const char* options) override;
    [[nodiscard]] int write(const void* bytes, size_t length) override;
    int close() override;
    int flush() override;

private:
    int closeLocked() noexcept;
};

// The test a hot path makes before it formats a trace line: with tracing off
// (no writer) it costs one comparison and nothing is formatted or locked.
inline bool kaTraceOn(const KaTracing* writer) noexcept
{
    return writer != nullptr;
}

// A new, unconfigured writer of the kind ODBCTraceMode names, or null.
[[nodiscard]] KaTracing* createTracing(const char* options) noexcept;

// The connection's packet-logging settings, as its options give them.
struct KaPacketLogSettings {
    uint64_t mode;         // ODBCTraceMode
    uint64_t memBuffSize;  // KB
    uint64_t maxFileSize;  // KB
    uint64_t maxNumFiles;
    uint64_t flush;
    const char* prefix;  // file name before the time stamp, directory included
};
// Makes and configures the packet-logging writer: files named prefix, the
// local time to the millisecond and "_.out". *connectFails is set when no
// writer could be made at all (the connect fails); null without it when the
// writer could not be configured (the connect goes on without logging).
[[nodiscard]] KaTracing* kaCreatePacketTracing(const KaPacketLogSettings& settings, int* connectFails) noexcept;

// Looks key up in an option string (keys compared without regard to case,
// a braced value may hold ";"). 0 with the value's text and length, or with
// *value null when the key is absent; 1 when the string does not parse.
[[nodiscard]] int kaTraceOption(const char* options, const char* key, const char** value, size_t* length) noexcept;
