// The value store of the XML record-set writer.
#include "bulk/xpsttempdata.h"

#include <cstring>

#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "platform/bos.h"
#include "platform/bosfile.h"

namespace {

KaTmpFile* newTmpFile() noexcept
{
    return new KaTmpFile(KA_TMP_DEFAULT_CACHE, 0);
}

}  // namespace

XPstTempData::~XPstTempData()
{
    closeFiles();
}

void XPstTempData::closeFiles() noexcept
{
    if (ownsFiles) {
        delete valuesFile;
        delete offsetsFile;
        delete lengthsFile;
    }
    valuesFile = nullptr;
    offsetsFile = nullptr;
    lengthsFile = nullptr;
    ownsFiles = 1;
}

int XPstTempData::openFiles(KaTmpFile* values, KaTmpFile* offsets, KaTmpFile* lengths, int64_t valuesBytes,
                            int64_t offsetsBytes, int64_t lengthsBytes) noexcept
{
    closeFiles();
    if (values != nullptr || offsets != nullptr || lengths != nullptr) {
        valuesFile = values;
        offsetsFile = offsets;
        lengthsFile = lengths;
        readOnly = 1;
        ownsFiles = 0;
    } else {
        valuesFile = newTmpFile();
        offsetsFile = newTmpFile();
        lengthsFile = newTmpFile();
        readOnly = 0;
        ownsFiles = 1;
    }
    if (valuesFile == nullptr || offsetsFile == nullptr || lengthsFile == nullptr) {
        closeFiles();
        return 0;
    }
    valuePosition = 0;
    lengthsPosition = 0;
    offsetsPosition = 0;
    valuesSize = valuesBytes;
    offsetsSize = offsetsBytes;
    lengthsSize = lengthsBytes;
    return 1;
}

int XPstTempData::append(const void* bytes, int64_t length) noexcept
{
    if ((length > 0 && bytes == nullptr) || length < -1 || readOnly || valuesFile == nullptr)
        return 0;
    if (offsetsFile->write(uint64_t(offsetsPosition), &valuePosition, sizeof valuePosition))
        return 0;
    if (lengthsFile->write(uint64_t(lengthsPosition), &length, sizeof length))
        return 0;
    if (length > 0 && valuesFile->write(uint64_t(valuePosition), bytes, uint64_t(length)))
        return 0;
    if (length > 0)
        valuePosition += length;
    lengthsPosition += int64_t(sizeof length);
    offsetsPosition += int64_t(sizeof valuePosition);
    valuesSize = valuePosition;
    lengthsSize = lengthsPosition;
    offsetsSize = offsetsPosition;
    return 1;
}

int XPstTempData::readNext(uint8_t** bytes, int64_t* length) noexcept
{
    if (bytes == nullptr || length == nullptr)
        return 0;
    *bytes = nullptr;
    *length = -1;
    if (!readOnly || valuesFile == nullptr)
        return 0;
    // The store keeps no count: reading past the last value is refused
    // rather than read from unwritten space.
    if (offsetsPosition + 8 > offsetsSize || lengthsPosition + 8 > lengthsSize)
        return 0;
    int64_t offset = 0;
    int64_t n = 0;
    if (offsetsFile->read(uint64_t(offsetsPosition), &offset, sizeof offset) ||
        lengthsFile->read(uint64_t(lengthsPosition), &n, sizeof n))
        return 0;
    if (n < -1 || (n > 0 && (offset < 0 || offset > valuesSize || n > valuesSize - offset)))
        return 0;
    RamPtr<uint8_t> block;
    if (n > 0) {
        block = ramMake<uint8_t>(size_t(n));
        if (!block || valuesFile->readChunked(uint64_t(offset), block.get(), uint64_t(n)))
            return 0;
    }
    offsetsPosition += 8;
    lengthsPosition += 8;
    *bytes = block.release();
    *length = n;
    return 1;
}

int xpstLoadFile(XPstTempData*, const char* path, KaTmpFile* file, int64_t* size) noexcept
{
    *size = 0;
    char name[BOS_PATH_SIZE];
    if (strlen(path) >= sizeof name)
        return 0;
    strcpy(name, path);
    int32_t fd = 0;
    if (bosfopen(name, 0, &fd))
        return 0;
    auto* piece = static_cast<uint8_t*>(ramAlloc(XPST_COPY_PIECE));
    int ok = piece != nullptr;
    uint64_t total = 0;
    while (ok) {
        uint64_t got = 0;
        if (bosfread(fd, -1, piece, XPST_COPY_PIECE, &got) || (got > 0 && file->writeChunked(total, piece, got))) {
            ok = 0;
            break;
        }
        total += got;
        if (got < XPST_COPY_PIECE)
            break;
    }
    ramFree(piece);
    bosfclose(fd);
    if (ok)
        *size = int64_t(total);
    return ok;
}

int xpstSaveFile(XPstTempData*, const char* path, KaTmpFile* file, int64_t size) noexcept
{
    char name[BOS_PATH_SIZE];
    if (strlen(path) >= sizeof name || size < 0)
        return 0;
    strcpy(name, path);
    int32_t fd = 0;
    if (bosfopen(name, BOS_OPEN_CREATE | BOS_OPEN_TRUNCATE, &fd))
        return 0;
    auto* piece = static_cast<uint8_t*>(ramAlloc(XPST_COPY_PIECE));
    int ok = piece != nullptr;
    for (uint64_t at = 0; ok && at < uint64_t(size);) {
        uint64_t n = uint64_t(size) - at < XPST_COPY_PIECE ? uint64_t(size) - at : XPST_COPY_PIECE;
        if (file->readChunked(at, piece, n) || bosfwrite(fd, -1, piece, n))
            ok = 0;
        at += n;
    }
    ramFree(piece);
    bosfclose(fd);
    return ok;
}

int XPstTempData::loadFromFiles(const char* valuesPath, const char* offsetsPath, const char* lengthsPath) noexcept
{
    if (valuesPath == nullptr || offsetsPath == nullptr || lengthsPath == nullptr)
        return 0;
    closeFiles();
    offsetsFile = newTmpFile();
    lengthsFile = newTmpFile();
    valuesFile = newTmpFile();
    ownsFiles = 1;
    if (offsetsFile == nullptr || lengthsFile == nullptr || valuesFile == nullptr ||
        !xpstLoadFile(this, offsetsPath, offsetsFile, &offsetsSize) ||
        !xpstLoadFile(this, lengthsPath, lengthsFile, &lengthsSize) ||
        !xpstLoadFile(this, valuesPath, valuesFile, &valuesSize)) {
        closeFiles();
        return 0;
    }
    readOnly = 1;
    return 1;
}

int XPstTempData::saveToFiles(const char* valuesPath, const char* offsetsPath, const char* lengthsPath) noexcept
{
    if (valuesPath == nullptr || offsetsPath == nullptr || lengthsPath == nullptr || valuesFile == nullptr)
        return 0;
    if (valuesSize == 0 || offsetsSize == 0 || lengthsSize == 0)
        return 0;
    return xpstSaveFile(this, offsetsPath, offsetsFile, offsetsSize) &&
           xpstSaveFile(this, lengthsPath, lengthsFile, lengthsSize) &&
           xpstSaveFile(this, valuesPath, valuesFile, valuesSize);
}
