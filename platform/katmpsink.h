// The temporary-file kinds of the byte streams: KaTmpFileSink collects a
// stream of unknown size in one memory buffer and spills whole buffers into
// a private temporary file; KaTmpFileSource reads such a stream back (handed
// over by a sink without copying, or appended to directly). Long values,
// parameter data and the server layer's spooled column data travel in them.
#pragma once
#include <cstdint>

#include "platform/katmpname.h"
#include "platform/kastream.h"

// Block size of a source that a pool builds.
constexpr uint64_t KA_TMP_SOURCE_BLOCK = 65536;

class KaTmpFileSource;

class KaTmpFileSink : public KaDataSink {
public:
    explicit KaTmpFileSink(uint64_t bufferSize) noexcept;
    ~KaTmpFileSink() override;
    KaTmpFileSink(const KaTmpFileSink&) = delete;
    KaTmpFileSink& operator=(const KaTmpFileSink&) = delete;

    // Frees the buffer and deletes the spill file.
    int release() noexcept override;
    // Both leave the sink empty: a spill file of an earlier stream is
    // truncated, so none of its bytes can be read back after new ones.
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int reset() noexcept override;
    [[nodiscard]] int write(const void* data, uint64_t length, int32_t more) noexcept override;
    [[nodiscard]] int getWriteWindow(uint8_t** window, uint64_t* size, int32_t* more) noexcept override;
    [[nodiscard]] int commit(uint64_t length, int32_t more) noexcept override;
    // Empties the file but keeps it and its name for the next use.
    [[nodiscard]] int discard() noexcept override;

    // Lends the stream to source, which must be released before this sink
    // is reset, discarded or released.
    [[nodiscard]] int toSource(KaTmpFileSource* source) noexcept;

    uint8_t* buffer;
    uint64_t bufferSize;
    uint64_t bufferPos;
    uint64_t total;
    int32_t fd;
    KaTmpName path;

private:
    [[nodiscard]] int openFile() noexcept;
    [[nodiscard]] int spill(const void* data, uint64_t n) noexcept;
    [[nodiscard]] int finishFile() noexcept;
    int truncateFile() noexcept;
    // Bytes of this stream already in the file: every spill writes at this
    // offset, whoever moved the descriptor's position in between.
    uint64_t fileBytes;
};

class KaTmpFileSource : public KaDataSource {
public:
    explicit KaTmpFileSource(uint64_t blockSize = KA_TMP_SOURCE_BLOCK) noexcept;
    ~KaTmpFileSource() override;
    KaTmpFileSource(const KaTmpFileSource&) = delete;
    KaTmpFileSource& operator=(const KaTmpFileSource&) = delete;

    int release() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int rewind() noexcept override;
    [[nodiscard]] int nextBlock(const uint8_t** block, uint64_t* blockLength, int32_t* more) noexcept override;
    [[nodiscard]] int read(void* out, uint64_t capacity, uint64_t* count, int32_t* more) noexcept override;
    [[nodiscard]] int finish() noexcept override;

    [[nodiscard]] int append(const void* data, uint64_t n) noexcept;
    // Writes the partial last block and rewinds: ready for reading.
    [[nodiscard]] int flush() noexcept;
    // Deletes the own spill file and empties the stream; the buffer stays.
    void close() noexcept;
    // 1 without a diagnostic past the end.
    [[nodiscard]] int seek(uint64_t offset) noexcept;
    // A pointer into the buffer that never crosses a block border; 1 without
    // a diagnostic when fewer than n bytes are left.
    [[nodiscard]] int readWindow(const uint8_t** window, uint64_t n, uint64_t* length, int32_t* more) noexcept;

    uint8_t* buffer;
    uint64_t blockSize;
    uint64_t total;
    uint64_t blockIndex;
    uint64_t position;
    int32_t fd;
    KaTmpName path;
    int32_t borrowed;

private:
    friend class KaTmpFileSink;
    bool spilled() const noexcept { return total > blockSize; }
    [[nodiscard]] int load(uint64_t block) noexcept;
    // The block the buffer holds; all ones for none.
    uint64_t loadedBlock;
};
