// The statement object: construction, its descriptors, the long-data state
// of the value being read and the text-conversion wrappers.
#include "odbc/basestmt.h"

#include "foundation/numtext.h"
#include "convert/textcvt.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/basedesc.h"

namespace {

// Message 6096 ends a piece with 01004 without more data to come.
constexpr uint16_t kMsgNoMorePieces = 6096;

bool containsUnits(const uint16_t* text, const uint16_t* part, size_t n) noexcept
{
    if (text == nullptr || n == 0)
        return false;
    for (; *text != 0; ++text) {
        size_t k = 0;
        while (k < n && text[k] == part[k])
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

}  // namespace

BaseStatement::BaseStatement(BaseConnection* conn) noexcept
    : connection(conn), charCodePage(conn != nullptr ? conn->appCodePage : kCpLatin1),
      convertBuffer(nullptr), convertBufferSize(0), convertedLength(-1), getDataReturned(0),
      pieceLengthOverride(0), currentParamRow(0), markerCount(0), returnValueParam(false),
      currentApd(nullptr), currentArd(nullptr), ipd(nullptr), ird(nullptr),
      implicitApd(nullptr), implicitArd(nullptr), keyDescriptor(nullptr)
{
}

BaseStatement::~BaseStatement()
{
    delete implicitApd;
    delete implicitArd;
    delete ipd;
    delete ird;
    ramFree(convertBuffer);
}

int16_t BaseStatement::createDescriptors() noexcept
{
    if (implicitApd == nullptr) {
        implicitApd = new BaseAXD(connection);
        if (implicitApd == nullptr)
            return 1;
        implicitApd->isAPD = 1;
    }
    if (implicitArd == nullptr && (implicitArd = new BaseAXD(connection)) == nullptr)
        return 1;
    if (ipd == nullptr && (ipd = new BaseIPD(this)) == nullptr)
        return 1;
    if (ird == nullptr && (ird = new BaseIRD(this)) == nullptr)
        return 1;
    if (currentApd == nullptr)
        currentApd = implicitApd;
    if (currentArd == nullptr)
        currentArd = implicitArd;
    return 0;
}

KaIcuCache* BaseStatement::charConversionContext() noexcept
{
    if (connection != nullptr && connection->threadModel != 0)
        return &connection->icuCache;
    return &icuCache;
}

int32_t BaseStatement::convertText(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp,
                                   void* dst, int64_t dstSize, int64_t* produced,
                                   int32_t* truncated, int32_t blankTail) noexcept
{
    return baseConvertText(srcCp, src, srcLen, dstCp, dst, dstSize, produced, truncated,
                           charConversionContext(), blankTail);
}

int32_t BaseStatement::convertTextToBuffer(int64_t srcCp, const void* src, int64_t srcLen,
                                           int64_t dstCp, void* dst, int64_t dstSize,
                                           int32_t fullLength, int64_t* produced,
                                           int32_t* truncated) noexcept
{
    return baseConvertTextToBuffer(srcCp, src, srcLen, dstCp, dst, dstSize, fullLength, produced,
                                   truncated, charConversionContext());
}

void BaseStatement::resetLongData() noexcept
{
    convertedLength = -1;
    getDataReturned = 0;
    pieceLengthOverride = 0;
}

uint8_t* BaseStatement::growConvertBuffer(int64_t size) noexcept
{
    if (size <= convertBufferSize && convertBuffer != nullptr)
        return convertBuffer;
    ramFree(convertBuffer);
    convertBuffer = nullptr;
    convertBufferSize = 0;
    if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX / 2) {
        ramOutOfMemory();
        return nullptr;
    }
    convertBuffer = static_cast<uint8_t*>(ramAlloc(static_cast<size_t>(size)));
    if (convertBuffer != nullptr)
        convertBufferSize = size;
    return convertBuffer;
}

int32_t BaseStatement::advanceLongData(int64_t available) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    KaError* last = list != nullptr ? list->last() : nullptr;
    bool goesOn = list != nullptr && list->hasOnlyWarnings() && last != nullptr &&
                  last->sqlstateMsg == kBaseIdxTruncated && last->nativeCode != kMsgNoMorePieces;
    if (!goesOn) {
        pieceLengthOverride = 0;
        return 0;
    }
    int64_t step = pieceLengthOverride != 0 ? pieceLengthOverride : available;
    if (step > 0)
        getDataReturned += step;
    pieceLengthOverride = 0;
    return 1;
}

void BaseStatement::notePiece(bool cut, int64_t delivered) noexcept
{
    pieceLengthOverride = !cut ? 0 : delivered > 0 ? delivered : kBasePieceEmpty;
}

BaseIPDRecord* BaseStatement::getParamIPDRecord(uint16_t param) noexcept
{
    if (param == 0)
        return nullptr;
    int64_t i = returnValueParam ? param : param - 1;
    if (i < markerCount)
        return ipd != nullptr ? ipd->ipdRecord(i + 1) : nullptr;
    if (keyDescriptor == nullptr)
        return nullptr;
    return static_cast<BaseIPDRecord*>(keyDescriptor->record(i - markerCount));
}

void BaseStatement::annotateParamRowErrors(size_t first, KaErrorList* list,
                                           uint64_t number) noexcept
{
    if (list == nullptr || first >= list->recordCount())
        return;
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    size_t len = errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, MSG_PARAMETER_ROW);
    // The appended text as it reads once filled in, to tell marked records.
    uint16_t filled[KA_MESSAGE_TEXT_SIZE + 24];
    size_t n = 0;
    for (size_t i = 0; i < len && n + 22 < sizeof filled / sizeof filled[0]; ++i) {
        if (text[i] == '%' && i + 2 < len && text[i + 1] == 'd' && text[i + 2] == '1') {
            char digits[24];
            size_t d = u64ToText(digits, number);
            for (size_t k = 0; k < d; ++k)
                filled[n++] = static_cast<uint8_t>(digits[k]);
            i += 2;
        } else {
            filled[n++] = text[i];
        }
    }
    filled[n] = 0;
    for (size_t i = first; i < list->recordCount(); ++i) {
        KaError* rec = list->recordAt(i);
        if (rec == nullptr || rec->isStatic() || containsUnits(rec->messageW(), filled, n))
            continue;
        rec->appendTemplateW(text)->addParamUnsigned(number);
    }
}

BaseAXDRecord* BaseStatement::ardRecord(uint16_t column) const noexcept
{
    if (currentArd == nullptr || column > currentArd->count())
        return nullptr;
    return currentArd->axdRecord(column);
}
