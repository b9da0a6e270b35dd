// Byte streams: the pull source KaDataSource and the push sink KaDataSink
// that long values travel through, and their memory-backed kinds (one
// buffer, or a list of equal-size chunks), with the chunked in-memory file
// MemFile. The streaming converters pump a source into a sink; connections
// and statements keep pools of them. The temporary-file kinds are in
// platform/katmpsink.h.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"

// Kinds of sources and sinks: the index of the owner's pool they belong to.
constexpr int32_t KA_STREAM_MEMORY = 1;
constexpr int32_t KA_STREAM_MULTI_MEMORY = 2;
constexpr int32_t KA_STREAM_TMPFILE = 3;
constexpr int32_t KA_STREAM_NETWORK = 4;  // the server layer's network source

// Chunk size of the multi-memory kinds as the pools build them.
constexpr uint64_t KA_STREAM_CHUNK_SIZE = 1048576;

// Hands out bytes by pointer, block by block, or by copy; `more` is 1 while
// bytes remain after the call.
class KaDataSource : public KaObject {
public:
    explicit KaDataSource(int32_t kind) noexcept : kind(kind) {}
    ~KaDataSource() override;

    // Gives up the bytes and every resource.
    virtual int release() noexcept = 0;
    // Prepares for a new use; called once on a new object.
    [[nodiscard]] virtual int open() noexcept = 0;
    // Back to the first byte, keeping the bytes.
    [[nodiscard]] virtual int rewind() noexcept = 0;
    // The next block, owned by the source and valid until the next call;
    // after the last block null, 0, more 0.
    [[nodiscard]] virtual int nextBlock(const uint8_t** data, uint64_t* length, int32_t* more) noexcept = 0;
    // Copies min(capacity, bytes left); count 0 and more 0 at the end.
    [[nodiscard]] virtual int read(void* buffer, uint64_t capacity, uint64_t* count, int32_t* more) noexcept = 0;
    // Called before the object goes back to its pool.
    [[nodiscard]] virtual int finish() noexcept { return 0; }

    int32_t kind;
};

// Takes bytes by copy or through windows it lends; more 0 on a write or a
// commit tells the sink that the stream ends there.
class KaDataSink : public KaObject {
public:
    explicit KaDataSink(int32_t kind) noexcept : windowed(1), notOwned(0), kind(kind) {}
    ~KaDataSink() override;

    virtual int release() noexcept = 0;
    [[nodiscard]] virtual int open() noexcept = 0;
    // Empty again.
    [[nodiscard]] virtual int reset() noexcept = 0;
    [[nodiscard]] virtual int write(const void* data, uint64_t length, int32_t more) noexcept = 0;
    // Free room to write into; more 0: this window is all the room there is.
    [[nodiscard]] virtual int getWriteWindow(uint8_t** window, uint64_t* size, int32_t* more) noexcept = 0;
    // length bytes were placed at the start of the last window.
    [[nodiscard]] virtual int commit(uint64_t length, int32_t more) noexcept = 0;
    // Called before the object goes back to its pool.
    [[nodiscard]] virtual int discard() noexcept { return 0; }

    int32_t windowed;  // the sink lends windows, so converters write into them
    int32_t notOwned;  // whoever attaches the sink must not destroy it
    int32_t kind;
};

// The bytes of one buffer, the caller's or owned.
class KaMemorySource : public KaDataSource {
public:
    KaMemorySource() noexcept : KaDataSource(KA_STREAM_MEMORY), data(nullptr), length(0), owns(0), position(0) {}
    ~KaMemorySource() override;

    int release() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int rewind() noexcept override;
    [[nodiscard]] int nextBlock(const uint8_t** block, uint64_t* blockLength, int32_t* more) noexcept override;
    [[nodiscard]] int read(void* buffer, uint64_t capacity, uint64_t* count, int32_t* more) noexcept override;

    // Attaches a buffer the source does not own; an owned one held before is freed.
    void attach(const void* bytes, uint64_t n) noexcept;

    const uint8_t* data;
    uint64_t length;
    int32_t owns;
    uint64_t position;
};

// The process-wide empty memory source, made at load and destroyed at exit.
KaMemorySource* KaStaticMemorySource() noexcept;

// Writes into one caller buffer, dropping what does not fit.
class KaMemorySink : public KaDataSink {
public:
    KaMemorySink() noexcept
        : KaDataSink(KA_STREAM_MEMORY), buffer(nullptr), capacity(0), position(0), owns(0), truncated(0)
    {}
    ~KaMemorySink() override;

    int release() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int reset() noexcept override;
    [[nodiscard]] int write(const void* data, uint64_t length, int32_t more) noexcept override;
    [[nodiscard]] int getWriteWindow(uint8_t** window, uint64_t* size, int32_t* more) noexcept override;
    [[nodiscard]] int commit(uint64_t length, int32_t more) noexcept override;

    void attach(void* bytes, uint64_t n) noexcept;

    uint8_t* buffer;
    uint64_t capacity;
    uint64_t position;  // bytes delivered
    int32_t owns;
    int32_t truncated;  // data was cut
};

// Bytes in a list of equal-size chunks.
class KaMultiMemorySource : public KaDataSource {
public:
    explicit KaMultiMemorySource(uint64_t chunkSize = KA_STREAM_CHUNK_SIZE) noexcept;
    ~KaMultiMemorySource() override;

    int release() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int rewind() noexcept override;
    [[nodiscard]] int nextBlock(const uint8_t** block, uint64_t* blockLength, int32_t* more) noexcept override;
    [[nodiscard]] int read(void* buffer, uint64_t capacity, uint64_t* count, int32_t* more) noexcept override;
    [[nodiscard]] int finish() noexcept override;

    // Used between open and rewind. On failure total counts only the bytes
    // that were stored.
    [[nodiscard]] int append(const void* data, uint64_t n) noexcept;

    uint64_t chunkSize;
    uint64_t chunkIndex;
    uint64_t position;  // read position; while appending, inside the current chunk
    uint64_t total;
    KaArrayPVoid chunks;
};

// Collects bytes in a growing list of equal-size chunks, by write or by
// windows (one chunk each), not both.
class KaMultiMemorySink : public KaDataSink {
public:
    explicit KaMultiMemorySink(uint64_t chunkSize = KA_STREAM_CHUNK_SIZE) noexcept;
    ~KaMultiMemorySink() override;

    int release() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int reset() noexcept override;
    // On failure total counts only the bytes that were stored.
    [[nodiscard]] int write(const void* data, uint64_t length, int32_t more) noexcept override;
    [[nodiscard]] int getWriteWindow(uint8_t** window, uint64_t* size, int32_t* more) noexcept override;
    [[nodiscard]] int commit(uint64_t length, int32_t more) noexcept override;
    [[nodiscard]] int discard() noexcept override;

    uint64_t chunkSize;
    uint64_t chunkIndex;
    uint64_t position;  // inside the current chunk
    uint64_t total;
    KaArrayPVoid chunks;
};

// A standalone in-memory file of equal-size chunks.
class MemFile : public KaObject {
public:
    explicit MemFile(uint64_t chunkSize) noexcept;
    ~MemFile() override;
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    void clear() noexcept;
    [[nodiscard]] int append(const void* data, uint64_t n) noexcept;
    // Copies min(n, total - offset) bytes; the caller works out the count.
    int readAt(uint64_t offset, void* buffer, uint64_t n) const noexcept;
    // The bytes from offset to the end of its chunk (or of the data).
    void windowAt(uint64_t offset, const uint8_t** window, uint64_t* length) const noexcept;

    uint64_t chunkSize;
    uint64_t chunkIndex;
    uint64_t position;
    uint64_t total;
    KaArrayPVoid chunks;
};
