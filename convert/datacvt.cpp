// The streaming converters: the output side shared by every kind, the
// binary kinds and the character kinds.
#include "convert/datacvt.h"

#include <cstdio>
#include <cstring>

#include <unicode/utf16.h>

#include "foundation/codepage.h"
#include "foundation/compare.h"
#include "foundation/errpost.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

uint64_t minU64(uint64_t a, uint64_t b)
{
    return a < b ? a : b;
}

bool isUtf16(int64_t cp)
{
    return cp == kCodePageUtf16LE || cp == kCodePageUtf16BE;
}

void postFailed()
{
    errPost(MSG_CONVERSION_FAILED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR);
}

void postInvalidHex()
{
    errPost(MSG_INVALID_HEX_DIGIT);
    errMarkInvalidCast();
}

// UTF-16 hex digits (little-endian units) read in pieces that fit an
// aligned scratch, so that the decoder never reads a misaligned unit.
constexpr uint64_t kHexScratchUnits = 2048;

int unhexifyBytesW(uint8_t* out, const uint8_t* text, uint64_t units)
{
    uint16_t scratch[kHexScratchUnits];
    while (units > 0) {
        uint64_t n = minU64(units, kHexScratchUnits);
        for (uint64_t i = 0; i < n; ++i)
            scratch[i] = uint16_t(text[2 * i] | (text[2 * i + 1] << 8));
        if (unhexifyW(out, scratch, n))
            return 1;
        out += n / 2;
        text += 2 * n;
        units -= n;
    }
    return 0;
}

// Upper-case UTF-16 hex of n bytes written as little-endian bytes.
void hexifyBytesW(uint8_t* out, const uint8_t* in, uint64_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    for (uint64_t i = 0; i < n; ++i) {
        out[4 * i] = uint8_t(digits[in[i] >> 4]);
        out[4 * i + 1] = 0;
        out[4 * i + 2] = uint8_t(digits[in[i] & 15]);
        out[4 * i + 3] = 0;
    }
}

// Bytes at the end of text[0, n) that begin a character the text does not
// complete: an odd byte and a high surrogate in UTF-16, the remainder in a
// fixed-width code page, what the converter still holds in another
// variable-width one. UTF-8 is cut at the byte limit.
uint64_t cutIncomplete(int64_t cp, uint16_t minSize, uint16_t maxSize, UConverter* boundary, const uint8_t* text,
                       uint64_t n)
{
    if (isUtf16(cp)) {
        uint64_t c = n & 1;
        if (n - c >= 2) {
            const uint8_t* u = text + n - c - 2;
            uint16_t unit = cp == kCodePageUtf16LE ? uint16_t(u[0] | (u[1] << 8)) : uint16_t((u[0] << 8) | u[1]);
            if (unit >= 0xD800 && unit <= 0xDBFF)
                c += 2;
        }
        return c;
    }
    if (cp == kCodePageUtf8)
        return 0;
    if (minSize == maxSize && minSize > 0)
        return n % minSize;
    if (boundary == nullptr)
        return 0;
    UChar scratch[1024];
    ucnv_resetToUnicode(boundary);
    const char* src = reinterpret_cast<const char*>(text);
    const char* end = src + n;
    UErrorCode status;
    do {
        status = U_ZERO_ERROR;
        UChar* t = scratch;
        ucnv_toUnicode(boundary, &t, scratch + 1024, &src, end, nullptr, false, &status);
    } while (status == U_BUFFER_OVERFLOW_ERROR);
    status = U_ZERO_ERROR;
    int32_t pending = ucnv_toUCountPending(boundary, &status);
    ucnv_resetToUnicode(boundary);
    return pending > 0 && uint64_t(pending) <= n ? uint64_t(pending) : 0;
}

}  // namespace

// ---- KaDataConverter: the output side ------------------------------------------

KaDataConverter::KaDataConverter(int32_t k, uint64_t own) noexcept
    : source(nullptr), sink(nullptr), secondSink(nullptr), remaining(-1), lastCall(0), borrowed(0), kind(k),
      finished(0), form(KA_CVT_FORM_BYTES), ownBuffer(nullptr), ownSize(own), windowStart(nullptr), windowSpace(0),
      writePos(0), sourceMore(1), windowMore(1), hasWindow(0), outputOpen(0), block(nullptr), blockLeft(0),
      terminate(0), terminatorSize(0)
{}

KaDataConverter::~KaDataConverter()
{
    ramFree(ownBuffer);
    if (!borrowed)
        delete source;
    if (sink != nullptr && !sink->notOwned && sink != secondSink)
        delete sink;
    delete secondSink;
}

void KaDataConverter::attach(KaDataSource* newSource, KaDataSink* newSink) noexcept
{
    if (source != newSource && !borrowed)
        delete source;
    if (sink != newSink && sink != nullptr && !sink->notOwned && sink != secondSink)
        delete sink;
    source = newSource;
    sink = newSink;
    block = nullptr;
    blockLeft = 0;
    lastCall = 0;
    borrowed = 0;
    sourceMore = 1;
    finished = 0;
    outputOpen = 0;
    hasWindow = sink != nullptr ? sink->windowed : 0;
}

void KaDataConverter::setSourceSink(KaDataSource* newSource, KaDataSink* newSink, int32_t newForm,
                                    int32_t newTerminate) noexcept
{
    attach(newSource, newSink);
    form = newForm;
    terminate = newForm == KA_CVT_FORM_BYTES ? 0 : newTerminate;
    terminatorSize = newForm == KA_CVT_FORM_HEX_W ? 2 : 1;
    if (!hasWindow)
        terminate = 0;
    (void)prepareOutput();
}

int KaDataConverter::prepareOutput() noexcept
{
    writePos = 0;
    outputOpen = 0;
    if (sink == nullptr)
        return 1;
    if (hasWindow) {
        if (sink->getWriteWindow(&windowStart, &windowSpace, &windowMore))
            return 1;
    } else {
        if (ownBuffer == nullptr) {
            ownBuffer = static_cast<uint8_t*>(ramAlloc(ownSize));
            if (ownBuffer == nullptr)
                return 1;
        }
        windowStart = ownBuffer;
        windowSpace = ownSize;
        windowMore = 1;
    }
    outputOpen = 1;
    return 0;
}

uint64_t KaDataConverter::room() const noexcept
{
    uint64_t end = windowSpace;
    if (terminate && lastWindow())
        end = windowSpace > terminatorSize ? windowSpace - terminatorSize : 0;
    return end > writePos ? end - writePos : 0;
}

void KaDataConverter::terminateWindow() noexcept
{
    if (terminate && hasWindow && lastWindow() && windowSpace - writePos >= terminatorSize)
        memset(windowStart + writePos, 0, terminatorSize);
}

int KaDataConverter::emit(int32_t more, bool* stop) noexcept
{
    *stop = false;
    uint64_t n = writePos;
    if (lastWindow())
        terminateWindow();
    if (hasWindow) {
        if (sink->commit(n, more))
            return 1;
    } else if (n > 0 || more == 0) {
        if (sink->write(windowStart, n, more))
            return 1;
    }
    if (remaining >= 0)
        remaining = int64_t(n) > remaining ? 0 : remaining - int64_t(n);
    writePos = 0;
    outputOpen = 0;
    if (!more)
        return 0;
    if (!windowMore) {
        *stop = true;
        return 0;
    }
    return prepareOutput();
}

int KaDataConverter::pull(bool* gotBlock) noexcept
{
    *gotBlock = false;
    while (blockLeft == 0) {
        if (!sourceMore)
            return 0;
        int32_t more = 0;
        if (source->nextBlock(&block, &blockLeft, &more))
            return 1;
        sourceMore = more;
        if (block == nullptr)
            blockLeft = 0;
    }
    *gotBlock = true;
    return 0;
}

int KaDataConverter::rewind() noexcept
{
    if (source->rewind() || sink->reset())
        return 1;
    block = nullptr;
    blockLeft = 0;
    sourceMore = 1;
    lastCall = 0;
    finished = 0;
    return prepareOutput();
}

void KaDataConverter::setLength(int64_t bytes, int64_t) noexcept
{
    remaining = bytes;
}

int KaDataConverter::convertToSource(KaTmpFileSink*, KaTmpFileSource*, KaDataSource**) noexcept
{
    postFailed();
    return 1;
}

// ---- KaBinaryConverter ---------------------------------------------------------------

KaBinaryConverter::KaBinaryConverter() noexcept : KaDataConverter(KA_CVT_BINARY, KA_CVT_BINARY_BUFFER), pendingCount(0)
{}

KaBinaryConverter::~KaBinaryConverter() = default;

int KaBinaryConverter::open() noexcept
{
    hasWindow = sink != nullptr ? sink->windowed : 0;
    if (!hasWindow)
        terminate = 0;
    pendingCount = 0;
    return 0;
}

void KaBinaryConverter::setLength(int64_t bytes, int64_t) noexcept
{
    int64_t unit = form == KA_CVT_FORM_HEX ? 2 : form == KA_CVT_FORM_HEX_W ? 4 : 1;
    remaining = bytes < 0 ? -1 : bytes * unit;
}

int KaBinaryConverter::convert() noexcept
{
    if (finished)
        return 0;
    if (!outputOpen && prepareOutput())
        return 1;
    const uint64_t unit = form == KA_CVT_FORM_HEX ? 2 : form == KA_CVT_FORM_HEX_W ? 4 : 1;
    for (;;) {
        bool stop = false;
        if (pendingCount > 0) {
            uint64_t k = minU64(pendingCount, room());
            memcpy(windowStart + writePos, pendingUnit, k);
            memmove(pendingUnit, pendingUnit + k, pendingCount - k);
            pendingCount -= uint32_t(k);
            writePos += k;
            if (pendingCount > 0) {
                if (emit(1, &stop))
                    return 1;
                if (stop)
                    return 0;
                continue;
            }
        }
        bool got = false;
        if (pull(&got))
            return 1;
        if (!got) {
            if (emit(0, &stop))
                return 1;
            finished = 1;
            return 0;
        }
        uint64_t n = minU64(blockLeft, room() / unit);
        if (n == 0) {
            // A window of the stream that cannot take one whole unit takes
            // its first bytes; the last window of a value ends here instead.
            if (!lastWindow() && room() > 0 && unit > 1) {
                uint8_t one[4];
                if (form == KA_CVT_FORM_HEX)
                    hexify(reinterpret_cast<char*>(one), block, 1);
                else
                    hexifyBytesW(one, block, 1);
                uint64_t k = room();
                memcpy(windowStart + writePos, one, k);
                writePos += k;
                memcpy(pendingUnit, one + k, unit - k);
                pendingCount = uint32_t(unit - k);
                ++block;
                --blockLeft;
            }
            if (emit(1, &stop))
                return 1;
            if (stop)
                return 0;
            continue;
        }
        uint8_t* out = windowStart + writePos;
        if (form == KA_CVT_FORM_HEX)
            hexify(reinterpret_cast<char*>(out), block, n);
        else if (form == KA_CVT_FORM_HEX_W)
            hexifyBytesW(out, block, n);
        else
            memcpy(out, block, n);
        writePos += n * unit;
        block += n;
        blockLeft -= n;
    }
}

int KaBinaryConverter::convertToSource(KaTmpFileSink* tmpSink, KaTmpFileSource* tmpSource,
                                       KaDataSource** oldSource) noexcept
{
    KaDataSink* savedSink = sink;
    int32_t savedForm = form;
    int32_t savedTerminate = terminate;
    int32_t savedHasWindow = hasWindow;
    delete secondSink;
    secondSink = tmpSink;
    sink = tmpSink;
    hasWindow = tmpSink->windowed;
    form = KA_CVT_FORM_BYTES;
    terminate = 0;
    finished = 0;
    int rc = prepareOutput();
    while (rc == 0 && !finished)
        rc = convert();
    if (rc == 0)
        rc = tmpSink->toSource(tmpSource);
    if (rc != 0) {
        sink = savedSink;
        form = savedForm;
        terminate = savedTerminate;
        hasWindow = savedHasWindow;
        (void)prepareOutput();
        return 1;
    }
    int64_t bytes = int64_t(tmpSink->total);
    *oldSource = source;
    sink = savedSink;
    borrowed = 1;  // the old source now belongs to the caller
    setSourceSink(tmpSource, savedSink, savedForm, savedTerminate);
    setLength(bytes, -1);
    return 0;
}

// ---- KaBinaryConverterInput ----------------------------------------------------------

KaBinaryConverterInput::KaBinaryConverterInput() noexcept
    : KaDataConverter(KA_CVT_BINARY_INPUT, KA_CVT_BINARY_BUFFER), carryCount(0), carry{}
{}

KaBinaryConverterInput::~KaBinaryConverterInput() = default;

int KaBinaryConverterInput::open() noexcept
{
    hasWindow = sink != nullptr ? sink->windowed : 0;
    terminate = 0;
    carryCount = 0;
    return 0;
}

int KaBinaryConverterInput::rewind() noexcept
{
    carryCount = 0;
    return KaDataConverter::rewind();
}

int KaBinaryConverterInput::finish() noexcept
{
    if (lastCall)
        return 0;
    bool stop = false;
    return emit(0, &stop);
}

int KaBinaryConverterInput::convert() noexcept
{
    if (finished)
        return 0;
    if (!outputOpen && prepareOutput())
        return 1;
    terminate = 0;
    // Input bytes per output byte.
    const uint64_t unit = form == KA_CVT_FORM_BYTES ? 1 : form == KA_CVT_FORM_HEX ? 2 : 4;
    for (;;) {
        bool stop = false;
        bool got = false;
        if (pull(&got))
            return 1;
        if (!got) {
            if (emit(0, &stop))
                return 1;
            finished = 1;
            if (carryCount > 0) {
                // An odd last digit, or bytes that make no whole UTF-16
                // digit: the value is not hex text, and no byte of it may
                // vanish unreported.
                carryCount = 0;
                postInvalidHex();
                return 1;
            }
            return 0;
        }
        if (room() == 0) {
            if (emit(1, &stop))
                return 1;
            if (stop)
                return 0;
            continue;
        }
        uint8_t* out = windowStart + writePos;
        if (carryCount > 0) {
            uint64_t take = minU64(unit - carryCount, blockLeft);
            memcpy(carry + carryCount, block, take);
            carryCount += uint32_t(take);
            block += take;
            blockLeft -= take;
            if (carryCount < unit)
                continue;
            int bad = form == KA_CVT_FORM_HEX ? unhexify(out, reinterpret_cast<const char*>(carry), 2)
                                              : unhexifyBytesW(out, carry, 2);
            carryCount = 0;
            if (bad) {
                errMarkInvalidCast();
                return 1;
            }
            ++writePos;
            continue;
        }
        uint64_t n = minU64(blockLeft / unit, room());
        if (form == KA_CVT_FORM_BYTES) {
            memcpy(out, block, n);
        } else if (n > 0) {
            int bad = form == KA_CVT_FORM_HEX ? unhexify(out, reinterpret_cast<const char*>(block), 2 * n)
                                              : unhexifyBytesW(out, block, 2 * n);
            if (bad) {
                errMarkInvalidCast();
                return 1;
            }
        }
        writePos += n;
        block += n * unit;
        blockLeft -= n * unit;
        if (blockLeft > 0 && blockLeft < unit) {
            // A digit (or part of a UTF-16 digit) cut by the block border.
            memcpy(carry, block, blockLeft);
            carryCount = uint32_t(blockLeft);
            block += blockLeft;
            blockLeft = 0;
        }
    }
}

// ---- The character kinds -------------------------------------------------------------

KaCharConverterBase::KaCharConverterBase(int32_t k, int64_t f, int64_t t, int32_t term, int32_t m) noexcept
    : KaDataConverter(k, KA_CVT_CHAR_BUFFER), from(f), to(t), pool(nullptr), mode(m), substituted(0), deferredStatus(0),
      maxCharSize(0), minCharSize(0), sourceConv{}, targetConv{}, boundaryConv{}, pivotStart(0), pivotEnd(0),
      stageStart(0), stageEnd(0), stageHeld(0), targetConverterUsed(0), toFlushed(0), fromFlushed(0),
      carryCount(0), carry{}
{
    terminate = term;
}

KaCharConverterBase::~KaCharConverterBase()
{
    closeConverters();
}

int KaCharConverterBase::openHandle(Handle* h, int64_t codePage) noexcept
{
    if (h->converter != nullptr && h->codePage == codePage) {
        ucnv_reset(h->converter);
        return 0;
    }
    closeHandle(h);
    if (pool != nullptr) {
        h->converter = pool->acquire(codePage, &h->context);
        if (h->converter == nullptr)
            return 1;
        h->pooled = 1;
    } else {
        const char* name = ianaNameFromNumber(codePage);
        UErrorCode status = U_ZERO_ERROR;
        UConverter* c = name != nullptr ? ucnv_open(name, &status) : nullptr;
        if (c == nullptr || U_FAILURE(status)) {
            if (c != nullptr)
                ucnv_close(c);
            char number[24];
            snprintf(number, sizeof number, "%lld", static_cast<long long>(codePage));
            errPost(MSG_CONVERTER_NOT_AVAILABLE)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamText(number);
            return 1;
        }
        h->converter = c;
        if (mode != kConvModeSubstitute) {
            h->context = static_cast<KaConvCallbackContext*>(ramAlloc(sizeof(KaConvCallbackContext)));
            if (h->context == nullptr) {
                ucnv_close(c);
                h->converter = nullptr;
                return 1;
            }
            *h->context = {mode, 0, nullptr, nullptr};
            if (KaInstallSubstitutionCallback(c, h->context, &status)) {
                icuErrorToDiag(status, mode);
                closeHandle(h);
                return 1;
            }
        }
        h->pooled = 0;
    }
    h->codePage = codePage;
    if (mode == kConvModeFail) {
        // Bytes the source code page cannot map fail the value as well.
        UErrorCode status = U_ZERO_ERROR;
        ucnv_setToUCallBack(h->converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    }
    return 0;
}

void KaCharConverterBase::closeHandle(Handle* h) noexcept
{
    if (h->converter != nullptr) {
        if (h->pooled && pool != nullptr) {
            pool->release(h->codePage, h->converter, h->context);
        } else {
            ucnv_close(h->converter);
            ramFree(h->context);
        }
    }
    *h = Handle{};
}

int KaCharConverterBase::closeConverters() noexcept
{
    closeHandle(&sourceConv);
    closeHandle(&targetConv);
    closeHandle(&boundaryConv);
    return 0;
}

void KaCharConverterBase::resetConverters() noexcept
{
    for (Handle* h : {&sourceConv, &targetConv, &boundaryConv}) {
        if (h->converter != nullptr)
            ucnv_reset(h->converter);
        if (h->context != nullptr)
            h->context->substituted = 0;
    }
}

int KaCharConverterBase::setupSizes() noexcept
{
    minCharSize = maxCharSize = 0;
    if (from != to) {
        if (openHandle(&sourceConv, from) || openHandle(&targetConv, to))
            return 1;
        minCharSize = uint16_t(ucnv_getMinCharSize(targetConv.converter));
        maxCharSize = uint16_t(ucnv_getMaxCharSize(targetConv.converter));
    } else if (isUtf16(to)) {
        minCharSize = maxCharSize = 2;
    } else if (terminate || to != kCodePageUtf8) {
        // A copy needs the converter only to find character borders.
        if (openHandle(&boundaryConv, to))
            return 1;
        minCharSize = uint16_t(ucnv_getMinCharSize(boundaryConv.converter));
        maxCharSize = uint16_t(ucnv_getMaxCharSize(boundaryConv.converter));
    } else {
        minCharSize = 1;
        maxCharSize = 4;
    }
    terminatorSize = minCharSize;
    return 0;
}

int KaCharConverterBase::setCodePagesBody(KaDataSource* newSource, KaDataSink* newSink, int64_t newFrom, int64_t newTo,
                                          int32_t newTerminate) noexcept
{
    deferredStatus = 0;
    substituted = 0;
    if (sourceConv.converter != nullptr && (sourceConv.codePage != newFrom || newFrom == newTo))
        closeHandle(&sourceConv);
    if (targetConv.converter != nullptr && (targetConv.codePage != newTo || newFrom == newTo))
        closeHandle(&targetConv);
    if (boundaryConv.converter != nullptr && (boundaryConv.codePage != newTo || newFrom != newTo))
        closeHandle(&boundaryConv);
    from = newFrom;
    to = newTo;
    terminate = newTerminate;
    resetConverters();
    attach(newSource, newSink);
    if (!hasWindow)
        terminate = 0;
    pivotStart = pivotEnd = 0;
    stageStart = stageEnd = stageHeld = 0;
    targetConverterUsed = 0;
    carryCount = 0;
    toFlushed = fromFlushed = 0;
    if (setupSizes())
        return 1;
    return prepareOutput();
}

int KaCharConverterBase::open() noexcept
{
    if (sink == nullptr)
        return 0;
    hasWindow = sink->windowed;
    if (!hasWindow)
        terminate = 0;
    return setupSizes();
}

int KaCharConverterBase::rewind() noexcept
{
    resetConverters();
    pivotStart = pivotEnd = 0;
    stageStart = stageEnd = stageHeld = 0;
    targetConverterUsed = 0;
    carryCount = 0;
    toFlushed = fromFlushed = 0;
    deferredStatus = 0;
    substituted = 0;
    return KaDataConverter::rewind();
}

void KaCharConverterBase::setLength(int64_t bytes, int64_t characters) noexcept
{
    const bool fixedTarget = minCharSize != 0 && minCharSize == maxCharSize;
    if (from == to) {
        if (bytes >= 0)
            remaining = bytes;
        else if (characters >= 0 && fixedTarget)
            remaining = characters * minCharSize;
        else
            remaining = -1;
        return;
    }
    if (characters < 0 && bytes >= 0) {
        if (isUtf16(from)) {
            characters = bytes / 2;
        } else if (sourceConv.converter != nullptr) {
            int8_t lo = ucnv_getMinCharSize(sourceConv.converter);
            int8_t hi = ucnv_getMaxCharSize(sourceConv.converter);
            if (lo == hi && lo > 0)
                characters = bytes / lo;
        }
    }
    remaining = characters >= 0 && fixedTarget ? characters * minCharSize : -1;
}

int KaCharConverterBase::fail(int32_t status) noexcept
{
    icuErrorToDiag(status, mode);
    deferredStatus = status;
    resetConverters();
    return 1;
}

bool KaCharConverterBase::substitutionsSeen() noexcept
{
    bool seen = false;
    for (Handle* h : {&sourceConv, &targetConv}) {
        if (h->context != nullptr && h->context->substituted) {
            h->context->substituted = 0;
            seen = true;
        }
    }
    return seen;
}

int KaCharConverterBase::incompleteTail(const uint8_t* text, uint64_t n, uint64_t* cut) noexcept
{
    *cut = 0;
    bool needsConverter = !isUtf16(to) && to != kCodePageUtf8 && !(minCharSize == maxCharSize && minCharSize > 0);
    if (needsConverter && boundaryConv.converter == nullptr && openHandle(&boundaryConv, to))
        return 1;
    *cut = cutIncomplete(to, minCharSize, maxCharSize, boundaryConv.converter, text, n);
    return 0;
}

int KaCharConverterBase::convert() noexcept
{
    if (deferredStatus != 0) {
        icuErrorToDiag(deferredStatus, mode);
        return 1;
    }
    if (finished)
        return 0;
    if (!outputOpen && prepareOutput())
        return 1;
    int rc = from == to ? copyValue() : convertValue();
    if (rc == 0 && substitutionsSeen()) {
        substituted = 1;
        if (mode == kConvModeReport)
            errPostWarning(MSG_CONVERSION_CHARACTER_REPLACED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_WARNING);
    }
    return rc;
}

int KaCharConverterBase::copyValue() noexcept
{
    const bool cutting = terminate && lastWindow();
    for (;;) {
        bool stop = false;
        if (carryCount > 0) {
            if (room() < carryCount) {
                if (emit(1, &stop))
                    return 1;
                if (stop)
                    return 0;
                continue;
            }
            memcpy(windowStart + writePos, carry, carryCount);
            writePos += carryCount;
            carryCount = 0;
        }
        bool got = false;
        if (pull(&got))
            return 1;
        if (!got) {
            if (cutting) {
                uint64_t cut = 0;
                if (incompleteTail(windowStart, writePos, &cut))
                    return 1;
                if (cut > 0) {
                    // The value ends inside a character: nothing may pass
                    // as text that is no whole character.
                    writePos -= cut;
                    if (emit(0, &stop))
                        return 1;
                    finished = 1;
                    deferredStatus = U_TRUNCATED_CHAR_FOUND;
                    postFailed();
                    return 1;
                }
            }
            if (emit(0, &stop))
                return 1;
            finished = 1;
            return 0;
        }
        uint64_t n = minU64(blockLeft, room());
        if (n == 0) {
            if (cutting) {
                uint64_t cut = 0;
                if (incompleteTail(windowStart, writePos, &cut))
                    return 1;
                if (cut > KA_CVT_CARRY_MAX)
                    cut = 0;
                writePos -= cut;
                memcpy(carry, windowStart + writePos, cut);
                carryCount = uint32_t(cut);
            }
            if (emit(1, &stop))
                return 1;
            if (stop)
                return 0;
            continue;
        }
        memcpy(windowStart + writePos, block, n);
        writePos += n;
        block += n;
        blockLeft -= n;
    }
}

int KaCharConverterBase::fillStage() noexcept
{
    // Bytes of a character that the last fill could not finish come first.
    if (stageHeld > 0) {
        memmove(stage, stage + stageEnd, stageHeld);
        stageCharStart[0] = 1;
        memset(stageCharStart + 1, 0, stageHeld - 1);
    }
    const uint64_t held = stageHeld;
    stageStart = stageEnd = stageHeld = 0;
    if (to == kCodePageUtf16LE && !targetConverterUsed && fillStageUtf16LE(held))
        return 0;
    // Once the converter has worked on a value it may hold bytes of it: it
    // does the rest of the value too.
    targetConverterUsed = 1;
    char* base = reinterpret_cast<char*>(stage);
    char* t = base + held;
    const UChar* src = pivot + pivotStart;
    UErrorCode status = U_ZERO_ERROR;
    const bool flush = toFlushed != 0;
    ucnv_fromUnicode(targetConv.converter, &t, base + sizeof stage, &src, pivot + pivotEnd, stageOffsets + held, flush,
                     &status);
    uint64_t filled = uint64_t(t - base);
    pivotStart = uint64_t(src - pivot);
    if (pivotStart == pivotEnd)
        pivotStart = pivotEnd = 0;
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return fail(status);
    if (flush && status != U_BUFFER_OVERFLOW_ERROR)
        fromFlushed = 1;
    // A byte starts a character when it comes from another pivot unit than
    // the byte before it; bytes the converter kept from its previous call
    // (offset -1) continue the character they belong to.
    for (uint64_t i = held; i < filled; ++i)
        stageCharStart[i] = stageOffsets[i] >= 0 && (i == held || stageOffsets[i] != stageOffsets[i - 1]);
    stageEnd = filled;
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        // The converter kept the rest of the last character: its first
        // bytes wait for the next fill, so that no window can end inside it.
        uint64_t last = filled;
        while (last > 0 && !stageCharStart[last - 1])
            --last;
        if (last > 1) {
            stageEnd = last - 1;
            stageHeld = filled - stageEnd;
        }
    }
    return 0;
}

// The pivot already is UTF-16LE on this host: well-formed pivot text is
// copied into the stage as it is, without the target converter. False when
// the converter must do the work (a lone surrogate for it to substitute or
// report).
bool KaCharConverterBase::fillStageUtf16LE(uint64_t held) noexcept
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const UChar* p = pivot + pivotStart;
    uint64_t units = minU64(pivotEnd - pivotStart, (sizeof stage - held) / 2);
    bool expectTrail = held == 2 && U16_IS_LEAD(uint16_t(stage[0] | (stage[1] << 8)));
    for (uint64_t i = 0; i < units; ++i) {
        UChar u = p[i];
        uint64_t b = held + 2 * i;
        if (U16_IS_TRAIL(u)) {
            if (!expectTrail)
                return false;
            expectTrail = false;
            stageCharStart[b] = 0;
        } else {
            if (expectTrail)
                return false;
            expectTrail = U16_IS_LEAD(u);
            stageCharStart[b] = 1;
        }
        stageCharStart[b + 1] = 0;
    }
    const bool pivotDone = pivotStart + units == pivotEnd;
    if (expectTrail && pivotDone && toFlushed)
        return false;  // the text ends with a lone high surrogate
    memcpy(stage + held, p, units * 2);
    pivotStart += units;
    if (pivotStart == pivotEnd)
        pivotStart = pivotEnd = 0;
    stageEnd = held + units * 2;
    if (expectTrail) {
        // The trail comes with the next pivot: the lead waits with it.
        stageEnd -= 2;
        stageHeld = 2;
    }
    if (toFlushed && pivotDone && !expectTrail)
        fromFlushed = 1;
    return true;
#else
    (void)held;
    return false;
#endif
}

int KaCharConverterBase::convertValue() noexcept
{
    const bool cutting = terminate && lastWindow();
    for (;;) {
        bool stop = false;
        if (stageStart < stageEnd) {
            uint64_t avail = stageEnd - stageStart;
            uint64_t n = minU64(avail, room());
            if (cutting && n < avail) {
                while (n > 0 && !stageCharStart[stageStart + n])
                    --n;
            }
            memcpy(windowStart + writePos, stage + stageStart, n);
            writePos += n;
            stageStart += n;
            if (stageStart < stageEnd) {
                if (emit(1, &stop))
                    return 1;
                if (stop)
                    return 0;
            }
            continue;
        }
        // Held bytes wait for the pivot's next units (or the converter's
        // kept bytes, which its next call gives out).
        if (pivotStart < pivotEnd || (toFlushed && !fromFlushed)) {
            if (fillStage())
                return 1;
            continue;
        }
        if (!toFlushed) {
            bool got = false;
            if (pull(&got))
                return 1;
            const char* src = reinterpret_cast<const char*>(block);
            const char* end = src + (got ? blockLeft : 0);
            bool flush = !got || !sourceMore;
            UChar* t = pivot;
            UErrorCode status = U_ZERO_ERROR;
            ucnv_toUnicode(sourceConv.converter, &t, pivot + KA_CVT_PIVOT_UNITS, &src, end, nullptr, flush, &status);
            pivotStart = 0;
            pivotEnd = uint64_t(t - pivot);
            if (got) {
                uint64_t used = uint64_t(src - reinterpret_cast<const char*>(block));
                block += used;
                blockLeft -= used;
            }
            if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
                return fail(status);
            if (flush && blockLeft == 0 && status != U_BUFFER_OVERFLOW_ERROR)
                toFlushed = 1;
            continue;
        }
        if (emit(0, &stop))
            return 1;
        finished = 1;
        return 0;
    }
}

KaCharConverter::KaCharConverter() noexcept
    : KaCharConverterBase(KA_CVT_CHAR, kCodePageUtf8, kCodePageUtf16LE, 1, kConvModeSubstitute)
{}

KaCharConverter::KaCharConverter(KaDataSource* src, KaDataSink* snk, int64_t f, int64_t t, int32_t term,
                                 int32_t m) noexcept
    : KaCharConverterBase(KA_CVT_CHAR, f, t, term, m)
{
    source = src;
    sink = snk;
    hasWindow = snk != nullptr ? snk->windowed : 0;
}

KaCharConverter::~KaCharConverter() = default;

int KaCharConverter::setCodePages(KaDataSource* newSource, KaDataSink* newSink, int64_t newFrom, int64_t newTo,
                                  int32_t newTerminate) noexcept
{
    return setCodePagesBody(newSource, newSink, newFrom, newTo, newTerminate);
}

int KaCharConverter::convertToSource(KaTmpFileSink* tmpSink, KaTmpFileSource* tmpSource,
                                     KaDataSource** oldSource) noexcept
{
    KaDataSink* savedSink = sink;
    int32_t savedTerminate = terminate;
    int32_t savedHasWindow = hasWindow;
    delete secondSink;
    secondSink = tmpSink;
    sink = tmpSink;
    hasWindow = tmpSink->windowed;
    terminate = 0;
    finished = 0;
    int rc = prepareOutput();
    while (rc == 0 && !finished)
        rc = convert();
    if (rc == 0)
        rc = tmpSink->toSource(tmpSource);
    if (rc != 0) {
        sink = savedSink;
        terminate = savedTerminate;
        hasWindow = savedHasWindow;
        (void)prepareOutput();
        return 1;
    }
    int64_t bytes = int64_t(tmpSink->total);
    *oldSource = source;
    sink = savedSink;
    borrowed = 1;  // the old source now belongs to the caller
    if (setCodePagesBody(tmpSource, savedSink, to, to, savedTerminate))
        return 1;
    remaining = bytes;
    return 0;
}

KaCharConverterInput::KaCharConverterInput() noexcept
    : KaCharConverterBase(KA_CVT_CHAR_INPUT, kCodePageUtf16LE, kCodePageUtf8, 0, kConvModeSubstitute)
{}

KaCharConverterInput::KaCharConverterInput(KaDataSource* src, KaDataSink* snk, int64_t f, int64_t t, int32_t m) noexcept
    : KaCharConverterBase(KA_CVT_CHAR_INPUT, f, t, 0, m)
{
    source = src;
    sink = snk;
    hasWindow = snk != nullptr ? snk->windowed : 0;
}

KaCharConverterInput::~KaCharConverterInput() = default;

int KaCharConverterInput::setCodePages(KaDataSource* newSource, KaDataSink* newSink, int64_t newFrom,
                                       int64_t newTo) noexcept
{
    return setCodePagesBody(newSource, newSink, newFrom, newTo, 0);
}

int KaCharConverterInput::finish() noexcept
{
    if (lastCall)
        return 0;
    bool stop = false;
    return emit(0, &stop);
}

// ---- KaSimpleCharConverter -------------------------------------------------------------

KaSimpleCharConverter::KaSimpleCharConverter() noexcept
    : KaDataConverter(KA_CVT_SIMPLE_CHAR, 0), codePage(kCodePageUtf8), converter(nullptr), input(nullptr),
      inputEnd(nullptr), maxCharSize(4), minCharSize(1), deferredStatus(0), mode(kConvModeSubstitute)
{}

KaSimpleCharConverter::~KaSimpleCharConverter()
{
    closeConverters();
}

int KaSimpleCharConverter::closeConverters() noexcept
{
    if (converter != nullptr)
        ucnv_close(converter);
    converter = nullptr;
    return 0;
}

int KaSimpleCharConverter::open() noexcept
{
    deferredStatus = 0;
    if (isUtf16(codePage)) {
        minCharSize = maxCharSize = 2;
        return 0;
    }
    if (codePage == kCodePageUtf8) {
        minCharSize = 1;
        maxCharSize = 4;
        return 0;
    }
    if (converter == nullptr) {
        const char* name = ianaNameFromNumber(codePage);
        UErrorCode status = U_ZERO_ERROR;
        converter = name != nullptr ? ucnv_open(name, &status) : nullptr;
        if (converter == nullptr || U_FAILURE(status)) {
            closeConverters();
            char number[24];
            snprintf(number, sizeof number, "%lld", static_cast<long long>(codePage));
            errPost(MSG_CONVERTER_NOT_AVAILABLE)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)->addParamText(number);
            return 1;
        }
    }
    minCharSize = uint16_t(ucnv_getMinCharSize(converter));
    maxCharSize = uint16_t(ucnv_getMaxCharSize(converter));
    return 0;
}

int KaSimpleCharConverter::set(const void* data, uint64_t length, KaMemorySink* memorySink, int64_t cp,
                               int32_t newTerminate) noexcept
{
    attach(nullptr, memorySink);
    borrowed = 1;  // the block is the caller's
    input = static_cast<const uint8_t*>(data);
    inputEnd = input + length;
    if (cp != codePage)
        closeConverters();
    codePage = cp;
    terminate = newTerminate;
    remaining = int64_t(length);
    return open();
}

int KaSimpleCharConverter::convert() noexcept
{
    if (deferredStatus != 0) {
        postFailed();
        return 1;
    }
    auto* out = static_cast<KaMemorySink*>(sink);
    const uint64_t term = terminate ? minCharSize : 0;
    const uint64_t avail = uint64_t(inputEnd - input);
    const uint64_t space = out->capacity - out->position;
    const uint64_t roomLeft = space > term ? space - term : 0;
    uint8_t* dst = out->buffer + out->position;
    uint64_t n = avail;
    if (avail <= roomLeft) {
        out->truncated = 0;
    } else {
        n = roomLeft;
        n -= cutIncomplete(codePage, minCharSize, maxCharSize, converter, input, n);
        out->truncated = 1;
    }
    memcpy(dst, input, n);
    if (term > 0 && space >= n + term)
        memset(dst + n, 0, term);
    out->position += n;
    input += n;
    remaining = remaining > int64_t(n) ? remaining - int64_t(n) : 0;
    finished = input == inputEnd ? 1 : 0;
    return 0;
}

int KaSimpleCharConverter::rewind() noexcept
{
    postFailed();
    return 1;
}

void KaSimpleCharConverter::setLength(int64_t bytes, int64_t) noexcept
{
    remaining = bytes;
}
