// Code-page converters between a temporary store and a caller's buffer:
// KaTmpFileConverter over a paged temporary file, a chunked memory file or a
// memory block, KaBlkTmpFileConverter over a block temporary file or a
// memory block. Reading hands out stored text in another code page piece by
// piece, optionally whole characters and terminated; writing converts the
// caller's text and appends it to the store. Both pivot through UTF-16.
#pragma once
#include <cstdint>
#include <unicode/ucnv.h>

#include "foundation/icucache.h"
#include "foundation/kaobject.h"
#include "platform/kastream.h"
#include "platform/katmpfil.h"
#include "platform/spillstore.h"

// UTF-16 units of the staging buffer between the two converters.
constexpr uint64_t KA_CVT_STAGE_UNITS = 2050;
// Bytes of the buffer that collects converted output on its way to a file.
constexpr uint64_t KA_CVT_WRITE_PIECE = 2048;

// How the shared conversion body reaches its owner's store: window maps
// the stored bytes from offset on (0 bytes at the end), put stores bytes at
// offset, empty drops everything stored. 0 or 1 with the diagnostic posted.
struct KaCvtStore {
    int (*window)(void* owner, uint64_t offset, const uint8_t** bytes, uint64_t* length) noexcept;
    int (*put)(void* owner, uint64_t offset, const void* data, uint64_t length) noexcept;
    void (*empty)(void* owner) noexcept;
};

// The state both converters share; one body serves both classes.
struct KaCvtCore {
    const KaCvtStore* store;
    void* owner;
    UConverter* toUnicode;    // source code page to UTF-16
    UConverter* fromUnicode;  // UTF-16 to the target code page
    uint16_t* stage;
    uint64_t stageStart;  // first staged unit not yet converted
    uint64_t stageEnd;    // end of the staged units
    int32_t* offsets;
    uint64_t offsetsCapacity;
    int64_t sourceCodePage;
    int64_t targetCodePage;
    uint64_t length;  // input length, or output capacity of a block
    uint64_t done;    // input bytes mapped, or output bytes written
    int32_t targetMin;
    int32_t targetMaxBytes;
    int32_t shiftRoom;  // bytes a stateful target may need to return to its initial state
    int32_t writing;
    int32_t inputFlushed;   // the to-Unicode side has seen its last byte
    int32_t outputFlushed;  // the from-Unicode side has been flushed
    uint8_t* block;         // the memory block a writer fills
    KaConvCallbackContext callback;

    void init(const KaCvtStore* store, void* owner, int64_t source, int64_t target, uint64_t length,
              int writing) noexcept;
    void destroy() noexcept;
    [[nodiscard]] int open() noexcept;
    [[nodiscard]] int restart(uint64_t length) noexcept;
    [[nodiscard]] int readConverted(void* buffer, uint64_t capacity, int terminate, uint64_t* count,
                                    int* more) noexcept;
    // n 0 ends the text (see KaTmpFileConverter::writeConverted).
    [[nodiscard]] int writeConverted(const void* data, uint64_t n, uint64_t* total) noexcept;
    // Stages more UTF-16 from the store; *progress 0 when nothing came.
    [[nodiscard]] int refill(int* progress) noexcept;
    [[nodiscard]] int convertWhole(char** out, char* limit) noexcept;
    [[nodiscard]] int emit(const char* bytes, uint64_t n) noexcept;
};

class KaTmpFileConverter : public KaObject {
public:
    // Reading: stored text of the source code page to the target's.
    KaTmpFileConverter(KaTmpFile* file, uint64_t inputLength, int64_t source, int64_t target) noexcept;
    KaTmpFileConverter(const void* block, uint64_t length, int64_t source, int64_t target) noexcept;
    KaTmpFileConverter(MemFile* file, int64_t source, int64_t target) noexcept;
    // Writing: the caller's text of the source code page into the store.
    KaTmpFileConverter(int64_t source, int64_t target, KaTmpFile* file) noexcept;
    KaTmpFileConverter(int64_t source, int64_t target, void* block, uint64_t capacity) noexcept;
    ~KaTmpFileConverter() override;
    KaTmpFileConverter(const KaTmpFileConverter&) = delete;
    KaTmpFileConverter& operator=(const KaTmpFileConverter&) = delete;

    [[nodiscard]] int restart(uint64_t length) noexcept;
    [[nodiscard]] int readConverted(void* buffer, uint64_t capacity, int terminate, uint64_t* count,
                                    int* more) noexcept;
    // Appends the converted text; *total is the output length so far. A
    // character cut off at the end of data waits for the next write; a
    // write of 0 bytes ends the text (and a stateful target's shift state).
    [[nodiscard]] int writeConverted(const void* data, uint64_t n, uint64_t* total) noexcept;

    KaTmpFile* file;
    MemFile* memFile;
    const uint8_t* memory;
    KaCvtCore core;
};

class KaBlkTmpFileConverter : public KaObject {
public:
    KaBlkTmpFileConverter(BlkTmpFile* file, uint64_t inputLength, int64_t source, int64_t target) noexcept;
    KaBlkTmpFileConverter(const void* block, uint64_t length, int64_t source, int64_t target) noexcept;
    KaBlkTmpFileConverter(int64_t source, int64_t target, BlkTmpFile* file) noexcept;
    ~KaBlkTmpFileConverter() override;
    KaBlkTmpFileConverter(const KaBlkTmpFileConverter&) = delete;
    KaBlkTmpFileConverter& operator=(const KaBlkTmpFileConverter&) = delete;

    [[nodiscard]] int restart(uint64_t length) noexcept;
    [[nodiscard]] int readConverted(void* buffer, uint64_t capacity, int terminate, uint64_t* count,
                                    int* more) noexcept;
    // readConverted, then *remaining: the output still to come, 0 when
    // none, KA_CVT_NO_TOTAL unless both code pages have characters of one
    // fixed size.
    [[nodiscard]] int readConvertedWithTotal(void* buffer, uint64_t capacity, int terminate, uint64_t* count,
                                             int64_t* remaining) noexcept;
    [[nodiscard]] int writeConverted(const void* data, uint64_t n, uint64_t* total) noexcept;

    BlkTmpFile* file;
    const uint8_t* memory;
    KaCvtCore core;
    int32_t sourceMin;
    int32_t sourceMax;
    int32_t targetMinBytes;
    int32_t targetMax;
};

constexpr int64_t KA_CVT_NO_TOTAL = -4;
