// The block temporary file BlkTmpFile: a growing byte store that keeps its
// two most recent blocks in memory and everything older in a private
// temporary file; mostly appended, read back and overwritten at random
// offsets, with typed values in a chosen byte order. The statement
// framework's result hash and the temporary-file code-page converter use it.
#pragma once
#include <cstdint>

#include "foundation/kaobject.h"
#include "platform/katmpname.h"

// What BlkTmpFile needs of a socket-like stream; the transport layer's
// sockets implement it.
class KaWireStream {
public:
    virtual ~KaWireStream();
    // 0 when every byte was sent.
    [[nodiscard]] virtual int send(const void* data, uint64_t length, int32_t flags) noexcept = 0;
    // 0 with *count bytes received, KA_WIRE_INTERRUPTED or KA_WIRE_NO_DATA,
    // anything else a failure already posted.
    [[nodiscard]] virtual int receive(void* buffer, uint64_t size, uint64_t* count, int32_t wait) noexcept = 0;
};

constexpr int KA_WIRE_INTERRUPTED = -2;  // the call is repeated
constexpr int KA_WIRE_NO_DATA = -3;      // nothing to read now

// Largest single receive of fillFromStream.
constexpr uint64_t KA_BLK_RECEIVE_PIECE = 32768;

struct BlkTmpBlock {
    uint8_t* data;
    uint64_t fill;
    uint64_t start;  // logical offset of the block's first byte
};

class BlkTmpFile : public KaObject {
public:
    explicit BlkTmpFile(uint64_t blockSize) noexcept;
    ~BlkTmpFile() override;
    BlkTmpFile(const BlkTmpFile&) = delete;
    BlkTmpFile& operator=(const BlkTmpFile&) = delete;

    // order 1: typed values are stored big-endian. Allocates both blocks
    // and starts empty; called once before use.
    [[nodiscard]] int reset(int16_t order) noexcept;
    [[nodiscard]] int append(const void* data, uint64_t n) noexcept;
    [[nodiscard]] int writeAt(uint64_t offset, const void* data, uint64_t n) noexcept;
    // 1 without a diagnostic for bytes beyond the data.
    [[nodiscard]] int readAt(uint64_t offset, void* buffer, uint64_t n) noexcept;
    // A pointer to the bytes at offset: a copy of file data (written back at
    // the next windowAt when forWrite), or the in-memory block itself.
    [[nodiscard]] int windowAt(uint64_t offset, uint8_t** window, uint64_t* length, int forWrite) noexcept;
    [[nodiscard]] int truncate(uint64_t count) noexcept;
    [[nodiscard]] int fillFromStream(KaWireStream* stream, uint64_t n, int32_t wait, int32_t* wouldBlock) noexcept;
    [[nodiscard]] int copyFrom(uint64_t offset, BlkTmpFile* other, uint64_t n) noexcept;
    [[nodiscard]] int writeToWire(uint64_t offset, KaWireStream* stream, uint64_t n) noexcept;
    [[nodiscard]] int appendU8(uint8_t value) noexcept;
    [[nodiscard]] int appendU16(uint16_t value) noexcept;
    [[nodiscard]] int appendU32(uint32_t value) noexcept;
    [[nodiscard]] int appendU64(uint64_t value) noexcept;
    // Read at position, which moves on whatever the result.
    [[nodiscard]] int readU16(uint16_t* value) noexcept;
    [[nodiscard]] int readU32(uint32_t* value) noexcept;
    [[nodiscard]] int readU64(uint64_t* value) noexcept;
    [[nodiscard]] int readU16Other(uint16_t* value) noexcept;
    [[nodiscard]] int readU32Other(uint32_t* value) noexcept;
    [[nodiscard]] int readU64Other(uint64_t* value) noexcept;
    void clear() noexcept;
    void closeAndDelete() noexcept;

    BlkTmpBlock block[2];
    uint64_t current;
    uint64_t blockSize;
    uint64_t total;
    uint64_t position;
    int32_t fd;
    KaTmpName* path;
    uint64_t fileLength;
    uint8_t* window;
    uint64_t windowLength;
    uint64_t windowStart;
    int16_t windowDirty;
    uint8_t* readCache;
    uint64_t readCacheLength;
    uint64_t readCacheStart;
    int16_t orderFlag;
    int16_t swapFlag;
    KaWireStream* lastStream;

private:
    BlkTmpBlock& cur() noexcept { return block[current]; }
    BlkTmpBlock& prev() noexcept { return block[1 - current]; }
    [[nodiscard]] int ensureFile() noexcept;
    // The previous block goes to the file and the blocks change roles.
    [[nodiscard]] int switchBlocks() noexcept;
    [[nodiscard]] int fileRead(uint64_t offset, void* buffer, uint64_t n) noexcept;
    [[nodiscard]] int fileWrite(uint64_t offset, const void* data, uint64_t n) noexcept;
    [[nodiscard]] int writeBackWindow() noexcept;
    // Copies data over the bytes of [offset, offset + n) that a cached copy
    // of file data holds, so that no copy goes stale.
    void refreshCopies(uint64_t offset, const void* data, uint64_t n, bool intoWindow) noexcept;
    [[nodiscard]] int appendTyped(const void* value, uint64_t size, bool reverse) noexcept;
    [[nodiscard]] int readTyped(void* out, uint64_t size, bool reverse) noexcept;
};
