// KaSharedFile: a byte image kept in 4096-byte chunks of a paged temporary
// file, grown a chunk at a time by writes at or before its end. Nothing in
// the driver builds one yet; it sits beside the other file facilities.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"
#include "platform/katmpfil.h"

constexpr uint64_t KA_SHARED_CHUNK = 4096;

class KaSharedFile : public KaObject {
public:
    KaSharedFile() noexcept;
    ~KaSharedFile() override;
    KaSharedFile(const KaSharedFile&) = delete;
    KaSharedFile& operator=(const KaSharedFile&) = delete;

    // A range outside the chunks (a read past them, a write starting
    // beyond their end) is refused with MSG_SHARED_FILE_RANGE.
    [[nodiscard]] int read(uint64_t offset, void* buffer, uint64_t length) noexcept;
    [[nodiscard]] int write(uint64_t offset, const void* data, uint64_t length) noexcept;
    void freeAll() noexcept;

    KaTmpFile file;
    KaArrayKASIZE_T chunks;  // chunk i holds image bytes i * 4096 to i * 4096 + 4095

private:
    [[nodiscard]] int outOfRange(uint64_t offset, uint64_t length) noexcept;
};
