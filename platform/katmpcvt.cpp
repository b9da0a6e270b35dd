// The shared body of the temporary-store converters. Reading stages UTF-16
// from the store a window at a time; with the terminate flag output is cut
// back to a character start whenever a character does not fit, so that no
// piece ends inside a character and no byte of one is held over.
#include "platform/katmpcvt.h"

#include <cstdio>
#include <cstring>
#include <unicode/utf16.h>

#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

// Output bytes converted per call while output must end on whole
// characters: the offsets of one call fit a fixed array.
constexpr uint64_t kWholePiece = 4096;
// UTF-16 units per step of a write.
constexpr uint64_t kWriteUnits = 1024;

int postNoConverter(int64_t codePage)
{
    char decimal[kDecimalTextSize];
    snprintf(decimal, sizeof decimal, "%lld", static_cast<long long>(codePage));
    if (KaError* e = errPost(MSG_CONVERTER_NOT_AVAILABLE))
        e->addParamText(decimal);
    return 1;
}

int openOne(int64_t codePage, UConverter** converter)
{
    const char* name = ianaNameFromNumber(codePage < 0 ? -codePage : codePage);
    if (name == nullptr)
        return postNoConverter(codePage);
    UErrorCode status = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name, &status);
    if (c == nullptr || U_FAILURE(status)) {
        if (c)
            ucnv_close(c);
        if (status == U_FILE_ACCESS_ERROR || c == nullptr)
            return postNoConverter(codePage);
        icuErrorToDiag(status);
        return 1;
    }
    *converter = c;
    return 0;
}

}  // namespace

void KaCvtCore::init(const KaCvtStore* s, void* o, int64_t source, int64_t target, uint64_t n, int isWriting) noexcept
{
    store = s;
    owner = o;
    toUnicode = nullptr;
    fromUnicode = nullptr;
    stage = nullptr;
    stageStart = stageEnd = 0;
    offsets = nullptr;
    offsetsCapacity = 0;
    sourceCodePage = source;
    targetCodePage = target;
    length = n;
    done = 0;
    targetMin = 1;
    targetMaxBytes = 1;
    shiftRoom = 0;
    writing = isWriting;
    inputFlushed = outputFlushed = 0;
    block = nullptr;
    callback = {kConvModeSubstitute, 0, nullptr, nullptr};
}

void KaCvtCore::destroy() noexcept
{
    if (toUnicode)
        ucnv_close(toUnicode);
    if (fromUnicode)
        ucnv_close(fromUnicode);
    toUnicode = fromUnicode = nullptr;
    ramFree(stage);
    ramFree(offsets);
    stage = nullptr;
    offsets = nullptr;
}

int KaCvtCore::open() noexcept
{
    if (toUnicode == nullptr && openOne(sourceCodePage, &toUnicode))
        return 1;
    if (fromUnicode == nullptr) {
        if (openOne(targetCodePage, &fromUnicode))
            return 1;
        UErrorCode status = U_ZERO_ERROR;
        if (KaInstallSubstitutionCallback(fromUnicode, &callback, &status)) {
            ucnv_close(fromUnicode);
            fromUnicode = nullptr;
            errPost(MSG_CONVERSION_FAILED);
            return 1;
        }
        targetMin = ucnv_getMinCharSize(fromUnicode);
        targetMaxBytes = ucnv_getMaxCharSize(fromUnicode);
        switch (ucnv_getType(fromUnicode)) {
        case UCNV_ISO_2022:
        case UCNV_EBCDIC_STATEFUL:
        case UCNV_HZ:
        case UCNV_UTF7:
        case UCNV_IMAP_MAILBOX:
        case UCNV_SCSU:
        case UCNV_BOCU1: shiftRoom = ucnv_getMaxCharSize(fromUnicode); break;
        default: shiftRoom = 0;
        }
    }
    return 0;
}

int KaCvtCore::restart(uint64_t n) noexcept
{
    if (writing && store->empty)
        store->empty(owner);
    length = n;
    done = 0;
    stageStart = stageEnd = 0;
    inputFlushed = outputFlushed = 0;
    if (toUnicode)
        ucnv_reset(toUnicode);
    if (fromUnicode)
        ucnv_reset(fromUnicode);
    callback.substituted = 0;
    return 0;
}

int KaCvtCore::refill(int* progress) noexcept
{
    *progress = 0;
    if (stageStart > 0) {
        memmove(stage, stage + stageStart, (stageEnd - stageStart) * sizeof(uint16_t));
        stageEnd -= stageStart;
        stageStart = 0;
    }
    if (inputFlushed || stageEnd == KA_CVT_STAGE_UNITS)
        return 0;
    const uint8_t* bytes = nullptr;
    uint64_t n = 0;
    if (done < length) {
        if (store->window(owner, done, &bytes, &n))
            return 1;
        if (n > length - done)
            n = length - done;
    }
    // A store that ends before the input length ends the input there.
    bool last = n == 0 || done + n == length;
    static const char none = 0;
    const char* s = bytes ? reinterpret_cast<const char*>(bytes) : &none;
    const char* sourceLimit = s + n;
    const char* from = s;
    UChar* t = reinterpret_cast<UChar*>(stage) + stageEnd;
    UChar* before = t;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(toUnicode, &t, reinterpret_cast<UChar*>(stage) + KA_CVT_STAGE_UNITS, &s, sourceLimit, nullptr, last,
                   &status);
    bool overflow = status == U_BUFFER_OVERFLOW_ERROR;
    if (U_FAILURE(status) && !overflow) {
        icuErrorToDiag(status, callback.mode);
        return 1;
    }
    done += uint64_t(s - from);
    stageEnd = uint64_t(reinterpret_cast<uint16_t*>(t) - stage);
    if (last && !overflow && s == sourceLimit)
        inputFlushed = 1;
    *progress = t != before || s != from || inputFlushed;
    return 0;
}

int KaCvtCore::readConverted(void* buffer, uint64_t capacity, int terminate, uint64_t* count, int* more) noexcept
{
    *count = 0;
    *more = 0;
    if (open())
        return 1;
    if (stage == nullptr) {
        stage = static_cast<uint16_t*>(ramAlloc(KA_CVT_STAGE_UNITS * sizeof(uint16_t)));
        if (stage == nullptr)
            return 1;
    }
    if (terminate && offsets == nullptr) {
        offsets = static_cast<int32_t*>(ramAlloc(kWholePiece * sizeof(int32_t)));
        if (offsets == nullptr)
            return 1;
        offsetsCapacity = kWholePiece;
    }
    uint64_t hold = terminate ? uint64_t(targetMin) : 0;
    if (terminate && capacity < hold) {
        if (KaError* e = errPostWarning(MSG_CONVERSION_TRUNCATED))
            e->setSqlstateMsg(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        *more = !(inputFlushed && stageStart == stageEnd && outputFlushed);
        return 0;
    }
    char* out = static_cast<char*>(buffer);
    // A stateful target ends every whole-character piece back in its
    // initial state, so that each piece reads on its own.
    uint64_t shift = terminate && uint64_t(shiftRoom) + hold <= capacity ? uint64_t(shiftRoom) : 0;
    char* limit = out + (capacity - hold - shift);
    for (;;) {
        uint64_t avail = stageEnd;
        // A lead surrogate waits for its trail unit from the next window.
        if (!inputFlushed && avail > stageStart && U16_IS_LEAD(stage[avail - 1]))
            --avail;
        if (avail > stageStart) {
            const UChar* src = reinterpret_cast<const UChar*>(stage) + stageStart;
            const UChar* srcStart = src;
            const UChar* srcLimit = reinterpret_cast<const UChar*>(stage) + avail;
            UErrorCode status = U_ZERO_ERROR;
            if (!terminate) {
                ucnv_fromUnicode(fromUnicode, &out, limit, &src, srcLimit, nullptr, false, &status);
                stageStart += uint64_t(src - srcStart);
                if (status == U_BUFFER_OVERFLOW_ERROR)
                    break;
                if (U_FAILURE(status)) {
                    icuErrorToDiag(status, callback.mode);
                    return 1;
                }
                continue;
            }
            // Few enough units a call that their bytes fit the offsets
            // array; every overflow is then the caller's buffer filling up.
            uint64_t callUnits = kWholePiece / (2 * uint64_t(targetMaxBytes));
            const UChar* callLimit = srcLimit;
            if (uint64_t(srcLimit - src) > callUnits) {
                callLimit = src + callUnits;
                if (U16_IS_LEAD(callLimit[-1]))
                    --callLimit;
            }
            char* callStart = out;
            ucnv_fromUnicode(fromUnicode, &out, limit, &src, callLimit, offsets, false, &status);
            if (status != U_BUFFER_OVERFLOW_ERROR) {
                if (U_FAILURE(status)) {
                    icuErrorToDiag(status, callback.mode);
                    return 1;
                }
                stageStart += uint64_t(src - srcStart);
                continue;
            }
            // Bytes of a character that did not fit wait inside the
            // converter when its tail is pending: cut the output back to
            // that character's start and convert it again later.
            char probe = 0;
            char* probeAt = &probe;
            const UChar* empty = src;
            UErrorCode pending = U_ZERO_ERROR;
            ucnv_fromUnicode(fromUnicode, &probeAt, &probe, &empty, empty, nullptr, false, &pending);
            if (pending == U_BUFFER_OVERFLOW_ERROR) {
                uint64_t written = uint64_t(out - callStart);
                int32_t character = written > 0 ? offsets[written - 1] : -1;
                uint64_t keep = written;
                while (keep > 0 && offsets[keep - 1] == character)
                    --keep;
                if (character < 0) {
                    keep = 0;
                    character = 0;
                }
                out = callStart + keep;
                stageStart += uint64_t(character);
                ucnv_resetFromUnicode(fromUnicode);
            } else {
                stageStart += uint64_t(src - srcStart);
            }
            break;
        }
        if (!inputFlushed) {
            int progress = 0;
            if (refill(&progress))
                return 1;
            if (progress)
                continue;
        }
        if (inputFlushed && stageStart == stageEnd && !outputFlushed) {
            // The converter's closing bytes (a shift back, say).
            const UChar* src = reinterpret_cast<const UChar*>(stage);
            char* before = out;
            UErrorCode status = U_ZERO_ERROR;
            ucnv_fromUnicode(fromUnicode, &out, limit, &src, src, nullptr, true, &status);
            if (status == U_BUFFER_OVERFLOW_ERROR) {
                if (terminate) {
                    out = before;
                    ucnv_resetFromUnicode(fromUnicode);
                }
                break;
            }
            if (U_FAILURE(status)) {
                icuErrorToDiag(status, callback.mode);
                return 1;
            }
            outputFlushed = 1;
        }
        break;
    }
    if (shift != 0 && !outputFlushed) {
        const UChar* src = reinterpret_cast<const UChar*>(stage);
        char* before = out;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(fromUnicode, &out, limit + shift, &src, src, nullptr, true, &status);
        if (U_FAILURE(status)) {
            out = before;
            ucnv_resetFromUnicode(fromUnicode);
        }
    }
    *count = uint64_t(out - static_cast<char*>(buffer));
    if (terminate && capacity > 0)
        memset(out, 0, hold);
    *more = !(inputFlushed && stageStart == stageEnd && outputFlushed);
    return 0;
}

int KaCvtCore::emit(const char* bytes, uint64_t n) noexcept
{
    if (n == 0)
        return 0;
    if (store->put(owner, done, bytes, n))
        return 1;
    done += n;
    return 0;
}

int KaCvtCore::writeConverted(const void* data, uint64_t n, uint64_t* total) noexcept
{
    if (open())
        return 1;
    // An empty write ends the text: a character cut off at the end and the
    // target's closing bytes (a shift back) go out.
    const bool last = n == 0;
    UChar units[kWriteUnits];
    const char* s = static_cast<const char*>(data);
    const char* sourceLimit = s + n;
    for (;;) {
        UChar* t = units;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(toUnicode, &t, units + kWriteUnits, &s, sourceLimit, nullptr, last, &status);
        bool moreInput = status == U_BUFFER_OVERFLOW_ERROR;
        if (U_FAILURE(status) && !moreInput) {
            icuErrorToDiag(status, callback.mode);
            return 1;
        }
        const UChar* u = units;
        for (;;) {
            UErrorCode st = U_ZERO_ERROR;
            if (block != nullptr) {
                char* o = reinterpret_cast<char*>(block) + done;
                char* before = o;
                ucnv_fromUnicode(fromUnicode, &o, reinterpret_cast<char*>(block) + length, &u, t, nullptr,
                                 last && !moreInput, &st);
                done += uint64_t(o - before);
                if (st == U_BUFFER_OVERFLOW_ERROR) {
                    icuErrorToDiag(st, callback.mode);
                    *total = done;
                    return 1;
                }
            } else {
                char piece[KA_CVT_WRITE_PIECE];
                char* o = piece;
                ucnv_fromUnicode(fromUnicode, &o, piece + KA_CVT_WRITE_PIECE, &u, t, nullptr, last && !moreInput, &st);
                if (emit(piece, uint64_t(o - piece)))
                    return 1;
                if (st == U_BUFFER_OVERFLOW_ERROR)
                    continue;
            }
            if (U_FAILURE(st)) {
                icuErrorToDiag(st, callback.mode);
                return 1;
            }
            break;
        }
        if (!moreInput)
            break;
    }
    *total = done;
    return 0;
}

namespace {

int tmpWindow(void* owner, uint64_t offset, const uint8_t** bytes, uint64_t* length) noexcept
{
    auto* c = static_cast<KaTmpFileConverter*>(owner);
    *bytes = nullptr;
    *length = 0;
    if (c->file != nullptr) {
        if (offset >= c->file->end)
            return 0;
        uint8_t* page = nullptr;
        uint16_t left = 0;
        if (c->file->pinPage(offset, &page, &left, 0))
            return 1;
        *bytes = page;
        *length = left;
        if (*length > c->file->end - offset)
            *length = c->file->end - offset;
    } else if (c->memFile != nullptr) {
        c->memFile->windowAt(offset, bytes, length);
    } else if (c->memory != nullptr && offset < c->core.length) {
        *bytes = c->memory + offset;
        *length = c->core.length - offset;
    }
    return 0;
}

int tmpPut(void* owner, uint64_t offset, const void* data, uint64_t length) noexcept
{
    auto* c = static_cast<KaTmpFileConverter*>(owner);
    return c->file->write(offset, data, length);
}

void tmpEmpty(void* owner) noexcept
{
    auto* c = static_cast<KaTmpFileConverter*>(owner);
    if (c->file)
        c->file->close(0);
}

const KaCvtStore kTmpStore = {tmpWindow, tmpPut, tmpEmpty};

int blkWindow(void* owner, uint64_t offset, const uint8_t** bytes, uint64_t* length) noexcept
{
    auto* c = static_cast<KaBlkTmpFileConverter*>(owner);
    *bytes = nullptr;
    *length = 0;
    if (c->file != nullptr) {
        if (offset >= c->file->total)
            return 0;
        uint8_t* window = nullptr;
        if (c->file->windowAt(offset, &window, length, 0))
            return 1;
        *bytes = window;
    } else if (c->memory != nullptr && offset < c->core.length) {
        *bytes = c->memory + offset;
        *length = c->core.length - offset;
    }
    return 0;
}

int blkPut(void* owner, uint64_t offset, const void* data, uint64_t length) noexcept
{
    auto* c = static_cast<KaBlkTmpFileConverter*>(owner);
    return c->file->writeAt(offset, data, length);
}

void blkEmpty(void* owner) noexcept
{
    auto* c = static_cast<KaBlkTmpFileConverter*>(owner);
    if (c->file)
        c->file->clear();
}

const KaCvtStore kBlkStore = {blkWindow, blkPut, blkEmpty};

}  // namespace

KaTmpFileConverter::KaTmpFileConverter(KaTmpFile* f, uint64_t inputLength, int64_t source, int64_t target) noexcept
    : file(f), memFile(nullptr), memory(nullptr)
{
    core.init(&kTmpStore, this, source, target, inputLength, 0);
}

KaTmpFileConverter::KaTmpFileConverter(const void* b, uint64_t n, int64_t source, int64_t target) noexcept
    : file(nullptr), memFile(nullptr), memory(static_cast<const uint8_t*>(b))
{
    core.init(&kTmpStore, this, source, target, n, 0);
}

KaTmpFileConverter::KaTmpFileConverter(MemFile* f, int64_t source, int64_t target) noexcept
    : file(nullptr), memFile(f), memory(nullptr)
{
    core.init(&kTmpStore, this, source, target, f ? f->total : 0, 0);
}

KaTmpFileConverter::KaTmpFileConverter(int64_t source, int64_t target, KaTmpFile* f) noexcept
    : file(f), memFile(nullptr), memory(nullptr)
{
    core.init(&kTmpStore, this, source, target, 0, 1);
}

KaTmpFileConverter::KaTmpFileConverter(int64_t source, int64_t target, void* b, uint64_t capacity) noexcept
    : file(nullptr), memFile(nullptr), memory(nullptr)
{
    core.init(&kTmpStore, this, source, target, capacity, 1);
    core.block = static_cast<uint8_t*>(b);
}

KaTmpFileConverter::~KaTmpFileConverter()
{
    core.destroy();
}

int KaTmpFileConverter::restart(uint64_t length) noexcept
{
    // A memory block being written keeps its capacity.
    return core.restart(core.block != nullptr ? core.length : length);
}

int KaTmpFileConverter::readConverted(void* buffer, uint64_t capacity, int terminate, uint64_t* count,
                                      int* more) noexcept
{
    return core.readConverted(buffer, capacity, terminate, count, more);
}

int KaTmpFileConverter::writeConverted(const void* data, uint64_t n, uint64_t* total) noexcept
{
    return core.writeConverted(data, n, total);
}

KaBlkTmpFileConverter::KaBlkTmpFileConverter(BlkTmpFile* f, uint64_t inputLength, int64_t source,
                                             int64_t target) noexcept
    : file(f), memory(nullptr), sourceMin(0), sourceMax(0), targetMinBytes(0), targetMax(0)
{
    core.init(&kBlkStore, this, source, target, inputLength, 0);
}

KaBlkTmpFileConverter::KaBlkTmpFileConverter(const void* b, uint64_t n, int64_t source, int64_t target) noexcept
    : file(nullptr), memory(static_cast<const uint8_t*>(b)), sourceMin(0), sourceMax(0), targetMinBytes(0), targetMax(0)
{
    core.init(&kBlkStore, this, source, target, n, 0);
}

KaBlkTmpFileConverter::KaBlkTmpFileConverter(int64_t source, int64_t target, BlkTmpFile* f) noexcept
    : file(f), memory(nullptr), sourceMin(0), sourceMax(0), targetMinBytes(0), targetMax(0)
{
    core.init(&kBlkStore, this, source, target, 0, 1);
}

KaBlkTmpFileConverter::~KaBlkTmpFileConverter()
{
    core.destroy();
}

int KaBlkTmpFileConverter::restart(uint64_t length) noexcept
{
    return core.restart(length);
}

int KaBlkTmpFileConverter::readConverted(void* buffer, uint64_t capacity, int terminate, uint64_t* count,
                                         int* more) noexcept
{
    if (core.readConverted(buffer, capacity, terminate, count, more))
        return 1;
    if (sourceMax == 0 && core.toUnicode && core.fromUnicode) {
        sourceMin = ucnv_getMinCharSize(core.toUnicode);
        sourceMax = ucnv_getMaxCharSize(core.toUnicode);
        targetMinBytes = ucnv_getMinCharSize(core.fromUnicode);
        targetMax = ucnv_getMaxCharSize(core.fromUnicode);
    }
    return 0;
}

int KaBlkTmpFileConverter::readConvertedWithTotal(void* buffer, uint64_t capacity, int terminate, uint64_t* count,
                                                  int64_t* remaining) noexcept
{
    int more = 0;
    *remaining = 0;
    if (readConverted(buffer, capacity, terminate, count, &more))
        return 1;
    if (!more)
        return 0;
    if (sourceMin != sourceMax || targetMinBytes != targetMax || sourceMax == 0) {
        *remaining = KA_CVT_NO_TOTAL;
        return 0;
    }
    uint64_t unread = core.length - core.done;
    *remaining = int64_t(unread * uint64_t(targetMax) / uint64_t(sourceMax) +
                         uint64_t(targetMax) * (core.stageEnd - core.stageStart));
    return 0;
}

int KaBlkTmpFileConverter::writeConverted(const void* data, uint64_t n, uint64_t* total) noexcept
{
    return core.writeConverted(data, n, total);
}
