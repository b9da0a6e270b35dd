// Name conversion of the operating-system layer, and the UTF-8 file-name
// forms that the W operations of the other bos* files share.
#include "platform/bosname.h"

#include <cstring>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "foundation/kathread.h"
#include "kamessages.h"
#include "platform/bosinternal.h"

namespace {

// The length of a conversion into 8-bit text, or -1 with out emptied and the
// failure posted. A result that fills the buffer exactly has lost its last
// character, so a missing terminator fails as an overflow does.
int64_t narrowResult(char* out, int32_t len, UErrorCode st)
{
    if (U_FAILURE(st) || st == U_STRING_NOT_TERMINATED_WARNING) {
        out[0] = 0;
        if (st == U_BUFFER_OVERFLOW_ERROR || st == U_STRING_NOT_TERMINATED_WARNING)
            errPost(MSG_CONVERSION_FAILED);
        else
            icuErrorToDiag(st);
        return -1;
    }
    return len;
}

// The output of every conversion: a buffer to fill, emptied first. False
// (with the failure posted) when there is none.
template <typename Unit>
bool startOutput(Unit* out, size_t size)
{
    if (out == nullptr || size == 0) {
        errPost(MSG_CONVERSION_FAILED);
        return false;
    }
    out[0] = 0;
    return true;
}

// UTF-16 to UTF-8 into out (size bytes, at least 1): the length, or -1 with
// out emptied and, when post is set, the failure posted.
int64_t toUtf8(char* out, size_t size, const uint16_t* in, bool post)
{
    out[0] = 0;
    if (in == nullptr)
        return 0;
    int32_t len = 0;
    UErrorCode st = U_ZERO_ERROR;
    u_strToUTF8(out, static_cast<int32_t>(size), &len, reinterpret_cast<const UChar*>(in), -1, &st);
    if (post)
        return narrowResult(out, len, st);
    if (U_FAILURE(st) || st == U_STRING_NOT_TERMINATED_WARNING) {
        out[0] = 0;
        return -1;
    }
    return len;
}

}  // namespace

KaIcuCache& bosNameConverters()
{
    static KaIcuCache cache;
    return cache;
}

int64_t bosUtf16ToUtf8Quiet(char* out, size_t size, const uint16_t* in)
{
    return toUtf8(out, size, in, false);
}

int bosPathFromW(char* out, const uint16_t* in)
{
    return KaUtf16ToUtf8_1024(out, in) < 0 ? 1 : 0;
}

int64_t KaUtf16ToLocal(char* out, size_t size, const uint16_t* in)
{
    if (!startOutput(out, size))
        return -1;
    if (in == nullptr)
        return 0;
    size_t n = u_strlen(reinterpret_cast<const UChar*>(in));
    // A name cut to fit would name another object: that is a failure.
    if (n > BOS_PATH_SIZE - 1) {
        errPost(MSG_CONVERSION_FAILED);
        return -1;
    }
    KaConvCallbackContext* ctx;
    UConverter* c = bosNameConverters().acquire(kCodePageLatin1, &ctx);
    if (c == nullptr)
        return -1;
    UErrorCode st = U_ZERO_ERROR;
    int32_t len = ucnv_fromUChars(c, out, static_cast<int32_t>(size), reinterpret_cast<const UChar*>(in),
                                  static_cast<int32_t>(n), &st);
    bosNameConverters().release(kCodePageLatin1, c, ctx);
    return narrowResult(out, len, st);
}

int64_t KaUtf16ToLocal1024(char* out, const uint16_t* in)
{
    return KaUtf16ToLocal(out, BOS_PATH_SIZE, in);
}

int64_t KaLocalToUtf16(uint16_t* out, size_t units, const char* in)
{
    if (!startOutput(out, units))
        return -1;
    if (in == nullptr)
        return 0;
    size_t n = strlen(in);
    if (n > units - 1)
        n = units - 1;
    KaConvCallbackContext* ctx;
    UConverter* c = bosNameConverters().acquire(kCodePageLatin1, &ctx);
    if (c == nullptr)
        return -1;
    UErrorCode st = U_ZERO_ERROR;
    int32_t len =
        ucnv_toUChars(c, reinterpret_cast<UChar*>(out), static_cast<int32_t>(units), in, static_cast<int32_t>(n), &st);
    bosNameConverters().release(kCodePageLatin1, c, ctx);
    if (U_FAILURE(st) || static_cast<size_t>(len) >= units) {
        out[0] = 0;
        if (U_FAILURE(st) && st != U_BUFFER_OVERFLOW_ERROR)
            icuErrorToDiag(st);
        else
            errPost(MSG_CONVERSION_FAILED);
        return -1;
    }
    out[len] = 0;
    return len;
}

int64_t KaLocalToUtf16_1024(uint16_t* out, const char* in)
{
    return KaLocalToUtf16(out, BOS_PATH_SIZE, in);
}

int64_t KaUtf16ToUtf8(char* out, size_t size, const uint16_t* in)
{
    if (!startOutput(out, size))
        return -1;
    return toUtf8(out, size, in, true);
}

int64_t KaUtf16ToUtf8_1024(char* out, const uint16_t* in)
{
    return KaUtf16ToUtf8(out, BOS_PATH_SIZE, in);
}
