// XPstTempData: the append-only value store of the XML record-set writer.
// Column values of many rows go into three temporary files (the bytes, and
// per value its offset and its length, -1 for NULL) and are read back in
// the same order. Used by the result-set persistence and XPstPersist.
#pragma once
#include <cstdint>

#include "foundation/kaobject.h"
#include "platform/katmpfil.h"

// Pieces in which whole files are copied into and out of a store.
constexpr uint64_t XPST_COPY_PIECE = 65536;

class XPstTempData : public KaObject {
public:
    XPstTempData() noexcept = default;
    ~XPstTempData() override;
    XPstTempData(const XPstTempData&) = delete;
    XPstTempData& operator=(const XPstTempData&) = delete;

    // All return 1 for success and 0 for failure.
    // With any file given: a reading view over them (not owned). With none:
    // three new temporary files of its own.
    [[nodiscard]] int openFiles(KaTmpFile* values, KaTmpFile* offsets, KaTmpFile* lengths, int64_t valuesSize,
                                int64_t offsetsSize, int64_t lengthsSize) noexcept;
    // length -1 is NULL (bytes may be null).
    [[nodiscard]] int append(const void* bytes, int64_t length) noexcept;
    // *bytes is a block the caller frees with ramFree, or null for a length
    // of 0 or -1.
    [[nodiscard]] int readNext(uint8_t** bytes, int64_t* length) noexcept;
    void closeFiles() noexcept;
    [[nodiscard]] int loadFromFiles(const char* valuesPath, const char* offsetsPath, const char* lengthsPath) noexcept;
    [[nodiscard]] int saveToFiles(const char* valuesPath, const char* offsetsPath, const char* lengthsPath) noexcept;

    KaTmpFile* valuesFile = nullptr;
    KaTmpFile* offsetsFile = nullptr;
    KaTmpFile* lengthsFile = nullptr;
    int64_t valuePosition = 0;
    int64_t lengthsPosition = 0;
    int64_t offsetsPosition = 0;
    int64_t valuesSize = 0;
    int64_t lengthsSize = 0;
    int64_t offsetsSize = 0;
    int64_t readOnly = 1;
    int64_t ownsFiles = 1;
};

[[nodiscard]] int xpstLoadFile(XPstTempData* store, const char* path, KaTmpFile* file, int64_t* size) noexcept;
// Replaces the file's content: it is truncated, so a shorter store never
// leaves the tail of an older one behind.
[[nodiscard]] int xpstSaveFile(XPstTempData* store, const char* path, KaTmpFile* file, int64_t size) noexcept;
