// Buffered streams that post their failures.
#include "platform/bosbuf.h"

#include <unicode/ustring.h>

#include <cerrno>
#include <climits>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosname.h"

namespace {

// UTF-16 text is converted in pieces of this many units, so that a long
// text needs no work buffer of its own size.
constexpr size_t kConvertUnits = 4096;

bool isHighSurrogate(uint16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

void postNothingWritten(size_t size)
{
    char text[24];
    snprintf(text, sizeof text, "%zu", size);
    errPost(MSG_DISK_FULL)->addParamText(text);
}

}  // namespace

int bosBufOpen(FILE** stream, const char* path, const char* mode)
{
    *stream = fopen(path, mode);
    if (*stream == nullptr) {
        bosMapError(errno, path);
        return 1;
    }
    return 0;
}

int bosBufOpenW(FILE** stream, const uint16_t* path, const uint16_t* mode)
{
    *stream = nullptr;
    char narrowPath[BOS_PATH_SIZE];
    char narrowMode[BOS_PATH_SIZE];
    if (KaUtf16ToUtf8_1024(narrowPath, path) < 0 || KaUtf16ToUtf8_1024(narrowMode, mode) < 0) {
        errPost(MSG_CONVERSION_FAILED);
        return 1;
    }
    *stream = fopen(narrowPath, narrowMode);
    if (*stream == nullptr) {
        bosMapErrorW(errno, path);
        return 1;
    }
    return 0;
}

int bosBufSetBuffer(FILE* stream, char* buffer, int mode, size_t size)
{
    if (stream == nullptr || setvbuf(stream, buffer, mode, size) != 0) {
        postNothingWritten(size);
        return 1;
    }
    return 0;
}

int bosBufWrite(FILE* stream, const void* data, size_t itemSize, size_t itemCount)
{
    if (stream == nullptr) {
        errPost(MSG_NO_STREAM);
        return 1;
    }
    if (itemSize == 0 || itemCount == 0)
        return 0;
    size_t written = fwrite(data, itemSize, itemCount, stream);
    if (written == itemCount)
        return 0;
    if (written > 0)
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(uint64_t(errno));
    else
        postNothingWritten(itemSize * itemCount);
    return 1;
}

int bosBufWriteW(FILE* stream, const uint16_t* data, size_t itemSize, size_t itemCount, int convert)
{
    if (stream == nullptr) {
        errPost(MSG_NO_STREAM);
        return 1;
    }
    if (itemSize == 0 || itemCount == 0)
        return 0;
    if (!convert)
        return bosBufWrite(stream, data, itemSize, itemCount);
    size_t units = itemSize * itemCount / 2;
    if (units == 0)
        return 0;
    char* work = static_cast<char*>(ramAlloc(kConvertUnits * 3 + 4));
    if (work == nullptr)
        return 1;
    int rc = 0;
    for (size_t done = 0; done < units && rc == 0;) {
        size_t piece = units - done < kConvertUnits ? units - done : kConvertUnits;
        // A surrogate pair is never cut between two pieces.
        if (done + piece < units && isHighSurrogate(data[done + piece - 1]))
            --piece;
        int32_t len = 0;
        UErrorCode st = U_ZERO_ERROR;
        u_strToUTF8(work, int32_t(kConvertUnits * 3 + 4), &len, reinterpret_cast<const UChar*>(data + done),
                    int32_t(piece), &st);
        if (U_FAILURE(st) || len <= 0) {
            errPost(MSG_CONVERSION_FAILED);
            rc = 1;
            break;
        }
        rc = bosBufWrite(stream, work, 1, size_t(len));
        done += piece;
    }
    ramFree(work);
    return rc;
}

int bosBufFlush(FILE* stream)
{
    if (stream == nullptr) {
        errPost(MSG_NO_STREAM);
        return 1;
    }
    if (fflush(stream) != 0) {
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(uint64_t(errno));
        return 1;
    }
    return 0;
}

int bosBufClose(FILE* stream)
{
    if (stream == nullptr)
        return 0;
    if (fclose(stream) != 0) {
        errPost(MSG_BAD_FILE_DESCRIPTOR);
        return 1;
    }
    return 0;
}
