// KaSharedFile: chunks come from the temporary file's free list and are
// zeroed when added, so that bytes of a chunk no write reached read as 0
// rather than as what a chunk given back earlier held.
#include "platform/kasharedfile.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "kamessages.h"

KaSharedFile::KaSharedFile() noexcept : file(KA_TMP_DEFAULT_CACHE, 0) {}

KaSharedFile::~KaSharedFile()
{
    freeAll();
}

int KaSharedFile::outOfRange(uint64_t offset, uint64_t length) noexcept
{
    KaError* e = errPost(MSG_SHARED_FILE_RANGE);
    if (e) {
        e->addParamUnsigned(offset);
        e->addParamUnsigned(length);
    }
    return 1;
}

int KaSharedFile::read(uint64_t offset, void* buffer, uint64_t length) noexcept
{
    uint64_t size = chunks.count * KA_SHARED_CHUNK;
    if (offset > size || length > size - offset)
        return outOfRange(offset, length);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        uint64_t index = offset / KA_SHARED_CHUNK;
        uint64_t at = offset % KA_SHARED_CHUNK;
        uint64_t piece = KA_SHARED_CHUNK - at < length ? KA_SHARED_CHUNK - at : length;
        if (file.read(chunks.at(index) + at, out, piece))
            return 1;
        out += piece;
        offset += piece;
        length -= piece;
    }
    return 0;
}

int KaSharedFile::write(uint64_t offset, const void* data, uint64_t length) noexcept
{
    if (offset > chunks.count * KA_SHARED_CHUNK)
        return outOfRange(offset, length);
    const uint8_t* in = static_cast<const uint8_t*>(data);
    while (length > 0) {
        uint64_t index = offset / KA_SHARED_CHUNK;
        uint64_t at = offset % KA_SHARED_CHUNK;
        if (index == chunks.count) {
            static const uint8_t zeros[KA_SHARED_CHUNK] = {};
            uint64_t chunk = 0;
            if (file.allocateFromFreeList(KA_SHARED_CHUNK, &chunk))
                return 1;
            if (file.write(chunk, zeros, KA_SHARED_CHUNK) || chunks.append(size_t(chunk))) {
                file.releaseSpace(chunk, KA_SHARED_CHUNK);
                return 1;
            }
        }
        uint64_t piece = KA_SHARED_CHUNK - at < length ? KA_SHARED_CHUNK - at : length;
        if (file.write(chunks.at(index) + at, in, piece))
            return 1;
        in += piece;
        offset += piece;
        length -= piece;
    }
    return 0;
}

void KaSharedFile::freeAll() noexcept
{
    for (size_t i = chunks.count; i-- > 0;)
        file.releaseSpace(chunks.at(i), KA_SHARED_CHUNK);
    chunks.count = 0;
}
