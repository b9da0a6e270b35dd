// Descriptors and their records: construction with the defaults of each
// kind, the record array, record and descriptor copies, display sizes, bind
// offsets, the row-status array and the parameter record's view of its
// application value.
#include "odbc/basedesc.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/basecvt.h"
#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basecalllock.h"
#include "odbc/basehandles.h"
#include "odbc/basestmt.h"

namespace {

// Growth step of a descriptor's record array.
constexpr size_t kRecordGrowStep = 64;
// Display size of a value whose size is not known.
constexpr int64_t kNoTotal = SQL_NO_TOTAL;
// Binary display sizes (two hex digits a byte) that do not fit are capped.
constexpr uint64_t kLargestHexLength = 4611686018427387903ULL;

template <typename T>
T* movePointer(T* p, int64_t bytes) noexcept
{
    if (p == nullptr)
        return nullptr;
    return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(bytes));
}

// A fresh copy of a UTF-16 text; null for null. *failed after the
// out-of-memory diagnostic.
uint16_t* dupText(const uint16_t* text, bool* failed) noexcept
{
    if (text == nullptr)
        return nullptr;
    size_t bytes = (strLenW(text) + 1) * sizeof(uint16_t);
    auto* copy = static_cast<uint16_t*>(ramAlloc(bytes));
    if (copy == nullptr) {
        *failed = true;
        return nullptr;
    }
    std::memcpy(copy, text, bytes);
    return copy;
}

// Replaces an owned text by a copy of source (freeing it unless borrowed).
bool replaceText(uint16_t** target, uint8_t* borrowed, const uint16_t* source) noexcept
{
    if (*borrowed == 0)
        ramFree(*target);
    *borrowed = 0;
    bool failed = false;
    *target = dupText(source, &failed);
    return !failed;
}

bool isImplementation(const BaseRecord& rec) noexcept
{
    return dynamic_cast<const BaseIXDRecord*>(&rec) != nullptr;
}

bool isParameterRecord(const BaseRecord& rec) noexcept
{
    return dynamic_cast<const BaseIPDRecord*>(&rec) != nullptr;
}

// Both records belong to descriptors of one connection.
bool sameConnection(const BaseRecord& a, const BaseRecord& b) noexcept
{
    return a.owner != nullptr && b.owner != nullptr && a.owner->connection == b.owner->connection;
}

}  // namespace

// ---- Type-information blocks ----------------------------------------------------------

BaseTypeInfoBlock* baseCopyTypeInfoBlock(const BaseTypeInfoBlock* block, BaseConnection* target,
                                         BaseConnection* source) noexcept
{
    (void)target;
    (void)source;
    if (block == nullptr)
        return nullptr;
    auto* copy = static_cast<BaseTypeInfoBlock*>(ramAlloc(sizeof(BaseTypeInfoBlock)));
    if (copy == nullptr)
        return nullptr;
    *copy = *block;
    bool failed = false;
    copy->typeName = dupText(block->typeName, &failed);
    copy->literalPrefix = dupText(block->literalPrefix, &failed);
    copy->literalSuffix = dupText(block->literalSuffix, &failed);
    if (failed) {
        baseFreeTypeInfoBlock(copy);
        return nullptr;
    }
    // Ids registered per connection keep their number: the connection has
    // no registration of resource texts yet, so a copy onto another
    // connection names the text by the source's id.
    return copy;
}

void baseFreeTypeInfoBlock(BaseTypeInfoBlock* block) noexcept
{
    if (block == nullptr)
        return;
    ramFree(block->typeName);
    ramFree(block->literalPrefix);
    ramFree(block->literalSuffix);
    ramFree(block);
}

// ---- Records ------------------------------------------------------------------------

BaseRecord::~BaseRecord()
{
    dropName();
}

void BaseRecord::dropName() noexcept
{
    if (nameBorrowed == 0)
        ramFree(name);
    name = nullptr;
    nameBorrowed = 0;
}

bool BaseRecord::inApplication() const noexcept
{
    return !isImplementation(*this);
}

bool BaseRecord::inIrd() const noexcept
{
    return dynamic_cast<const BaseIRDRecord*>(this) != nullptr;
}

void BaseRecord::setConciseType(int16_t type) noexcept
{
    conciseType = type;
}

int16_t BaseRecord::copyFrom(const BaseRecord& other) noexcept
{
    if (inApplication() && other.inApplication()) {
        dataPtr = other.dataPtr;
        indicatorPtr = other.indicatorPtr;
    }
    intervalCode = other.intervalCode;
    intervalPrecision = other.intervalPrecision;
    length = other.length;
    nullable = other.nullable;
    octetLength = other.octetLength;
    octetLengthPtr = other.octetLengthPtr;
    dataAtExecLimit = other.dataAtExecLimit;
    dropName();
    bool failed = false;
    if (other.inIrd()) {
        setConciseType(other.conciseType);
        precision = other.precision;
        scale = other.conciseType == SQL_TYPE_TIMESTAMP && other.scale < 0 ? 0 : other.scale;
        if (inIrd())
            name = dupText(other.name, &failed);
    } else if (isParameterRecord(other)) {
        const auto& ipd = static_cast<const BaseIPDRecord&>(other);
        setConciseType(other.conciseType);
        precision = ipd.appPrecision;
        scale = ipd.appScale;
        if (!inIrd())
            name = dupText(other.name, &failed);
    } else {
        setConciseType(other.appConciseType);
        precision = other.precision;
        scale = other.scale;
    }
    return failed ? 1 : 0;
}

int64_t baseDecimalDisplaySize(int64_t precision, int64_t scale, bool signPosition) noexcept
{
    int64_t size = precision;
    if (signPosition)
        ++size;
    if (scale > 0)
        ++size;
    // Without integer digits the value is written with a zero before the
    // point ("-0.12" for a DECIMAL(2,2)).
    if (scale > 0 && scale >= precision)
        size += 1 + scale - precision;
    if (scale < 0)
        size -= scale;
    return size;
}

int64_t BaseRecord::displaySize() const noexcept
{
    // Types of other servers that some applications describe, by number.
    constexpr int16_t kVariantType = -150;
    constexpr int16_t kGraphicType = -95;
    constexpr int16_t kVarGraphicType = -96;
    constexpr int16_t kLongVarGraphicType = -97;
    constexpr int16_t kTimestampOffsetType = 131;
    const bool uns = isUnsigned();
    const int64_t ip = intervalPrecision;
    switch (conciseType) {
    case kVariantType:
    case SQL_GUID: return precision;
    case kGraphicType:
    case kVarGraphicType:
    case kLongVarGraphicType: return kNoTotal;
    case SQL_WLONGVARCHAR:
    case SQL_WVARCHAR:
    case SQL_WCHAR:
    case SQL_LONGVARCHAR:
    case SQL_CHAR:
    case SQL_VARCHAR: return static_cast<int64_t>(length);
    case SQL_BIT: return 1;
    case SQL_TINYINT: return uns ? 3 : 4;
    case SQL_BIGINT: return 20;
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY: return length > kLargestHexLength ? INT64_MAX : static_cast<int64_t>(2 * length);
    case SQL_NUMERIC:
    case SQL_DECIMAL: return baseDecimalDisplaySize(precision, scale, !uns && (flags & kBaseRecNoSignPosition) == 0);
    case SQL_INTEGER: return uns ? 10 : 11;
    case SQL_SMALLINT: return uns ? 5 : 6;
    case SQL_FLOAT:
    case SQL_DOUBLE: return 22;
    case SQL_REAL: return 13;
    case SQL_TYPE_DATE: return 10;
    case SQL_TYPE_TIME: return scale <= 0 ? 8 : 9 + scale;
    case SQL_TYPE_TIMESTAMP: return scale <= 0 ? 19 : 20 + scale;
    case SQL_INTERVAL_YEAR:
    case SQL_INTERVAL_MONTH:
    case SQL_INTERVAL_DAY:
    case SQL_INTERVAL_HOUR:
    case SQL_INTERVAL_MINUTE: return ip;
    case SQL_INTERVAL_SECOND: return scale > 0 ? ip + scale + 1 : ip;
    case SQL_INTERVAL_YEAR_TO_MONTH:
    case SQL_INTERVAL_DAY_TO_HOUR:
    case SQL_INTERVAL_HOUR_TO_MINUTE: return ip + 3;
    case SQL_INTERVAL_DAY_TO_MINUTE: return ip + 6;
    case SQL_INTERVAL_DAY_TO_SECOND: return scale > 0 ? ip + 10 + scale : ip + 9;
    case SQL_INTERVAL_HOUR_TO_SECOND: return scale > 0 ? ip + 7 + scale : ip + 6;
    case SQL_INTERVAL_MINUTE_TO_SECOND: return scale > 0 ? ip + 4 + scale : ip + 3;
    case kTimestampOffsetType: return scale <= 0 ? 26 : 27 + scale;
    default: return kNoTotal;
    }
}

int64_t BaseRecord::numPrecRadix() const noexcept
{
    switch (conciseType) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT: return 10;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return 2;
    default: return 0;
    }
}

BaseAXDRecord::BaseAXDRecord() noexcept
{
    conciseType = SQL_C_DEFAULT;
    appConciseType = SQL_C_DEFAULT;
    intervalPrecision = kBaseDefaultIntervalPrecision;
}

BaseAXDRecord::~BaseAXDRecord() = default;

int16_t BaseAXDRecord::copyFrom(const BaseRecord& other) noexcept
{
    int16_t rc = BaseRecord::copyFrom(other);
    appConciseType = conciseType;
    flags = other.inApplication() ? (other.flags & kBaseRecKeptOnCopy) : 0;
    return rc;
}

void BaseAXDRecord::applyBindOffset(int64_t rowSize, int64_t row) noexcept
{
    const BaseAXD* axd = static_cast<const BaseAXD*>(owner);
    int64_t offset = axd != nullptr && axd->bindOffsetPtr != nullptr ? *axd->bindOffsetPtr : 0;
    savedBindOffset = offset;
    appliedDataOffset = 0;
    if (row == 0 && offset == 0)
        return;
    if (rowSize != 0) {
        int64_t delta = row * rowSize + offset;
        dataPtr = movePointer(dataPtr, delta);
        indicatorPtr = movePointer(indicatorPtr, delta);
        octetLengthPtr = movePointer(octetLengthPtr, delta);
        appliedDataOffset = dataPtr != nullptr ? delta : 0;
    } else {
        int64_t dataDelta = row * octetLength + offset;
        int64_t lengthDelta = row * kBaseLengthElementSize + offset;
        dataPtr = movePointer(dataPtr, dataDelta);
        indicatorPtr = movePointer(indicatorPtr, lengthDelta);
        octetLengthPtr = movePointer(octetLengthPtr, lengthDelta);
        appliedDataOffset = dataPtr != nullptr ? dataDelta : 0;
    }
}

void BaseAXDRecord::removeBindOffset(int64_t rowSize, int64_t row) noexcept
{
    if (row == 0 && savedBindOffset == 0)
        return;
    dataPtr = movePointer(dataPtr, -appliedDataOffset);
    int64_t lengthDelta =
        rowSize != 0 ? row * rowSize + savedBindOffset : row * kBaseLengthElementSize + savedBindOffset;
    indicatorPtr = movePointer(indicatorPtr, -lengthDelta);
    octetLengthPtr = movePointer(octetLengthPtr, -lengthDelta);
    appliedDataOffset = 0;
    savedBindOffset = 0;
}

void BaseAXDRecord::saveAndOffset(int64_t bytes) noexcept
{
    savedDataPtr = dataPtr;
    savedIndicatorPtr = indicatorPtr;
    savedOctetLengthPtr = octetLengthPtr;
    dataPtr = movePointer(dataPtr, bytes);
    indicatorPtr = movePointer(indicatorPtr, bytes);
    octetLengthPtr = movePointer(octetLengthPtr, bytes);
}

void BaseAXDRecord::saveAndStep(int64_t rowSize) noexcept
{
    savedDataPtr = dataPtr;
    savedIndicatorPtr = indicatorPtr;
    savedOctetLengthPtr = octetLengthPtr;
    step(rowSize);
}

void BaseAXDRecord::step(int64_t rowSize) noexcept
{
    const int64_t dataStep = rowSize != 0 ? rowSize : octetLength;
    const int64_t lengthStep = rowSize != 0 ? rowSize : kBaseLengthElementSize;
    dataPtr = movePointer(dataPtr, dataStep);
    indicatorPtr = movePointer(indicatorPtr, lengthStep);
    octetLengthPtr = movePointer(octetLengthPtr, lengthStep);
}

void BaseAXDRecord::restorePointers() noexcept
{
    dataPtr = savedDataPtr;
    indicatorPtr = savedIndicatorPtr;
    octetLengthPtr = savedOctetLengthPtr;
}

BaseIXDRecord::~BaseIXDRecord()
{
    ramFree(dataAtExecBuffer);
    freeTypeInfo();
}

void BaseIXDRecord::freeTypeInfo() noexcept
{
    if (typeInfoOwned != 0)
        baseFreeTypeInfoBlock(typeInfo);
    typeInfo = nullptr;
    typeInfoOwned = 0;
}

BaseTypeInfoBlock* BaseIXDRecord::ownTypeInfo() noexcept
{
    if (typeInfoOwned != 0 && typeInfo != nullptr)
        return typeInfo;
    BaseTypeInfoBlock* copy = nullptr;
    if (typeInfo != nullptr) {
        copy = baseCopyTypeInfoBlock(typeInfo, nullptr, nullptr);
    } else {
        copy = static_cast<BaseTypeInfoBlock*>(ramAlloc(sizeof(BaseTypeInfoBlock)));
        if (copy != nullptr)
            std::memset(copy, 0, sizeof *copy);
    }
    if (copy == nullptr)
        return nullptr;
    typeInfo = copy;
    typeInfoOwned = 1;
    return copy;
}

int16_t BaseIXDRecord::setTypeName(const uint16_t* text) noexcept
{
    BaseTypeInfoBlock* block = ownTypeInfo();
    uint8_t owned = 0;
    return block != nullptr && replaceText(&block->typeName, &owned, text) ? 0 : 1;
}

int16_t BaseIXDRecord::setLiteralPrefix(const uint16_t* text) noexcept
{
    BaseTypeInfoBlock* block = ownTypeInfo();
    uint8_t owned = 0;
    return block != nullptr && replaceText(&block->literalPrefix, &owned, text) ? 0 : 1;
}

int16_t BaseIXDRecord::setLiteralSuffix(const uint16_t* text) noexcept
{
    BaseTypeInfoBlock* block = ownTypeInfo();
    uint8_t owned = 0;
    return block != nullptr && replaceText(&block->literalSuffix, &owned, text) ? 0 : 1;
}

int16_t BaseIXDRecord::setLocalTypeNameId(uint16_t id) noexcept
{
    BaseTypeInfoBlock* block = ownTypeInfo();
    if (block == nullptr)
        return 1;
    block->localTypeNameId = id;
    return 0;
}

int16_t BaseIXDRecord::copyFrom(const BaseRecord& other) noexcept
{
    int16_t rc = BaseRecord::copyFrom(other);
    ramFree(dataAtExecBuffer);
    dataAtExecBuffer = nullptr;
    dataAtExecLength = 0;
    freeTypeInfo();
    if (!isImplementation(other)) {
        flags = 0;
        return rc;
    }
    const auto& ixd = static_cast<const BaseIXDRecord&>(other);
    setCodePage(ixd.codePage);
    flags = ixd.flags;
    const BaseTypeInfoBlock* block = ixd.typeInfo;
    if (block == nullptr)
        return rc;
    const bool shareable = ixd.typeInfoOwned == 0 && ((block->localTypeNameId < kBaseFirstConnectionResource &&
                                                       block->createParamsId < kBaseFirstConnectionResource) ||
                                                      sameConnection(*this, other));
    if (shareable) {
        typeInfo = const_cast<BaseTypeInfoBlock*>(block);
        return rc;
    }
    typeInfo = baseCopyTypeInfoBlock(block, owner != nullptr ? owner->connection : nullptr,
                                     other.owner != nullptr ? other.owner->connection : nullptr);
    if (typeInfo == nullptr)
        return 1;
    typeInfoOwned = 1;
    return rc;
}

BaseIRDRecord::BaseIRDRecord() noexcept
{
    length = static_cast<uint64_t>(kBaseIrdDefaultLength);
}

BaseIRDRecord::~BaseIRDRecord()
{
    ramFree(dataPtr);
    ramFree(indicatorPtr);
    if (static_cast<void*>(octetLengthPtr) != static_cast<void*>(indicatorPtr))
        ramFree(octetLengthPtr);
    if (baseColumnBorrowed == 0)
        ramFree(baseColumnName);
    if (catalogBorrowed == 0)
        ramFree(catalogName);
    if (labelBorrowed == 0)
        ramFree(label);
    if (schemaBorrowed == 0)
        ramFree(schemaName);
    if (tableBorrowed == 0)
        ramFree(tableName);
    if (longDataSink != nullptr) {
        BaseStatement* stmt = owner != nullptr ? owner->statement : nullptr;
        if (stmt != nullptr)
            stmt->releaseLongDataSink(longDataSink);
        else
            delete longDataSink;
    }
}

void BaseIRDRecord::setConciseType(int16_t type) noexcept
{
    conciseType = type;
    serverType = type;
}

int16_t BaseIRDRecord::copyFrom(const BaseRecord& other) noexcept
{
    // The octet-length buffer of a result column is the record's own and is
    // freed with it: another record's pointer is never taken over.
    int64_t* ownOctetLength = octetLengthPtr;
    int16_t rc = BaseIXDRecord::copyFrom(other);
    octetLengthPtr = ownOctetLength;
    const auto* ird = dynamic_cast<const BaseIRDRecord*>(&other);
    if (ird == nullptr)
        return rc;
    driverFlag = ird->driverFlag;
    flags = ird->flags;
    searchable = ird->searchable;
    updatable = ird->updatable;
    serverType = ird->serverType;
    bool ok = replaceText(&baseColumnName, &baseColumnBorrowed, ird->baseColumnName);
    ok = replaceText(&catalogName, &catalogBorrowed, ird->catalogName) && ok;
    ok = replaceText(&schemaName, &schemaBorrowed, ird->schemaName) && ok;
    ok = replaceText(&tableName, &tableBorrowed, ird->tableName) && ok;
    ok = replaceText(&label, &labelBorrowed, ird->label) && ok;
    return ok ? rc : 1;
}

BaseIPDRecord::BaseIPDRecord() noexcept = default;

BaseIPDRecord::~BaseIPDRecord()
{
    if (dataOwned != 0)
        ramFree(dataPtr);
}

void BaseIPDRecord::setOwnedData(void* block) noexcept
{
    if (dataOwned != 0)
        ramFree(dataPtr);
    dataPtr = block;
    dataOwned = block != nullptr ? 1 : 0;
}

int16_t BaseIPDRecord::copyFrom(const BaseRecord& other) noexcept
{
    int16_t rc = BaseIXDRecord::copyFrom(other);
    appPrecision = precision;
    appScale = scale;
    if (isParameterRecord(other)) {
        const auto& ipd = static_cast<const BaseIPDRecord&>(other);
        savedParamType = ipd.paramType;
        savedConciseType = ipd.savedConciseType;
        savedPrecision = ipd.savedPrecision;
        savedScale = ipd.savedScale;
        apdIndex = ipd.apdIndex;
        checked = ipd.checked;
        downgraded = ipd.downgraded;
        paramType = ipd.appParamType;
    } else {
        paramType = SQL_PARAM_INPUT;
    }
    appParamType = paramType;
    return rc;
}

BaseAXDRecord* BaseIPDRecord::apdRecord() const noexcept
{
    if (owner == nullptr || owner->statement == nullptr || apdIndex < 0)
        return nullptr;
    const BaseAXD* apd = owner->statement->currentApd;
    return apd != nullptr ? apd->axdRecord(apdIndex) : nullptr;
}

int16_t BaseIPDRecord::cType() const noexcept
{
    const BaseAXDRecord* apd = apdRecord();
    int16_t type = apd != nullptr ? apd->conciseType : SQL_C_DEFAULT;
    if (type != SQL_C_DEFAULT)
        return type;
    int32_t narrow = 0;
    if (owner != nullptr && owner->connection != nullptr)
        narrow = (owner->connection->workarounds & kBaseWaDescribeWideAsNarrow) != 0 ? 1 : 0;
    return baseDefaultCType(conciseType, narrow);
}

void* BaseIPDRecord::dataPointer() const noexcept
{
    const BaseAXDRecord* apd = apdRecord();
    return apd != nullptr ? apd->dataPtr : nullptr;
}

int64_t* BaseIPDRecord::indicatorPointer() const noexcept
{
    const BaseAXDRecord* apd = apdRecord();
    return apd != nullptr ? apd->indicatorPtr : nullptr;
}

int64_t* BaseIPDRecord::octetLengthPointer() const noexcept
{
    const BaseAXDRecord* apd = apdRecord();
    return apd != nullptr ? apd->octetLengthPtr : nullptr;
}

int64_t BaseIPDRecord::octetLengthValue() const noexcept
{
    const BaseAXDRecord* apd = apdRecord();
    return apd != nullptr ? apd->octetLength : 0;
}

void* BaseIPDRecord::driverExtension() const noexcept
{
    return nullptr;
}

BaseCofCRecord::BaseCofCRecord() noexcept
{
    apdIndex = -1;
}

BaseCofCRecord::~BaseCofCRecord()
{
    ramFree(valueBuffer);
}

int16_t BaseCofCRecord::copyFrom(const BaseRecord& other) noexcept
{
    int16_t rc = BaseIPDRecord::copyFrom(other);
    const auto* cofc = dynamic_cast<const BaseCofCRecord*>(&other);
    if (cofc == nullptr)
        return rc;
    precision = cofc->precision;
    scale = cofc->scale;
    paramType = cofc->paramType;
    bufferSize = cofc->bufferSize;
    valueCType = cofc->valueCType;
    columnNumber = cofc->columnNumber;
    textPosition = cofc->textPosition;
    valueLength = cofc->valueLength;
    valueFlag1 = cofc->valueFlag1;
    valueFlag2 = cofc->valueFlag2;
    ramFree(valueBuffer);
    const size_t bytes = bufferSize > 0 ? static_cast<size_t>(bufferSize) : 1;
    valueBuffer = static_cast<uint8_t*>(ramAlloc(bytes));
    if (valueBuffer == nullptr)
        return 1;
    if (valueLength > 0 && cofc->valueBuffer != nullptr) {
        int64_t n = valueLength < bufferSize ? valueLength : bufferSize;
        if (n > 0)
            std::memcpy(valueBuffer, cofc->valueBuffer, static_cast<size_t>(n));
        if (valueLength > bufferSize) {
            basePostError(kBaseIdxGeneralError);
            KaErrorAppendText(" CofCDataLen > ParamMaxLen");
            return 1;
        }
    }
    return rc;
}

int16_t BaseCofCRecord::cType() const noexcept
{
    return valueCType;
}

void* BaseCofCRecord::dataPointer() const noexcept
{
    return valueBuffer;
}

int64_t* BaseCofCRecord::indicatorPointer() const noexcept
{
    return nullptr;
}

int64_t* BaseCofCRecord::octetLengthPointer() const noexcept
{
    return const_cast<int64_t*>(&valueLength);
}

int64_t BaseCofCRecord::octetLengthValue() const noexcept
{
    return bufferSize;
}

// ---- Descriptors --------------------------------------------------------------------

BaseDescriptor::BaseDescriptor(BaseConnection* conn) noexcept
    : connection(conn), records(kRecordGrowStep, 0), statement(nullptr)
{
    (void)baseHandleAdd(static_cast<KaObject*>(this), BaseHandleKind::descriptor);
}

BaseDescriptor* BaseDescriptor::automaticChain = nullptr;

BaseDescriptor::~BaseDescriptor()
{
    baseHandleRemove(static_cast<KaObject*>(this));
    if (inAutomaticChain) {
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        (automaticPrev != nullptr ? automaticPrev->automaticNext : automaticChain) = automaticNext;
        if (automaticNext != nullptr)
            automaticNext->automaticPrev = automaticPrev;
    }
    for (size_t i = 0; i < records.count; ++i)
        delete static_cast<BaseRecord*>(records.items[i]);
    records.count = 0;
    if (autoAllocated == 0 && connection != nullptr) {
        // The statements that use this descriptor fall back to their own.
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        KaNode* node = connection->statements.first();
        for (size_t i = 0; i < connection->statements.count && node != nullptr; ++i, node = node->next) {
            auto* stmt = static_cast<BaseStatement*>(node);
            if (stmt->currentApd == this)
                stmt->currentApd = stmt->implicitApd;
            if (stmt->currentArd == this) {
                stmt->currentArd = stmt->implicitArd;
                stmt->bindingsChanged = true;
            }
        }
        baseUnlinkNode(&connection->descriptors, this);
    }
}

void BaseDescriptor::markAutomatic() noexcept
{
    KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
    if (inAutomaticChain)
        return;
    automaticNext = automaticChain;
    if (automaticChain != nullptr)
        automaticChain->automaticPrev = this;
    automaticChain = this;
    inAutomaticChain = true;
}

bool BaseDescriptor::isAutomaticHandle(const void* value) noexcept
{
    for (const BaseDescriptor* d = automaticChain; d != nullptr; d = d->automaticNext)
        if (static_cast<const void*>(d) == value)
            return true;
    return false;
}

void BaseDescriptor::adoptEmbedded(BaseRecord* record0) noexcept
{
    record0->owner = this;
    // The array's first growth cannot fail silently: without record 0 the
    // accessors answer null, which every caller allows for.
    if (records.append(record0) != 0)
        return;
}

void BaseDescriptor::releaseEmbedded() noexcept
{
    if (records.count != 0)
        records.items[0] = nullptr;
}

BaseRecord* BaseDescriptor::newRecord(int64_t) noexcept
{
    auto* rec = new BaseRecord();
    if (rec != nullptr)
        rec->owner = this;
    return rec;
}

int16_t BaseDescriptor::setRecordCount(int64_t n) noexcept
{
    if (n < 0 || n >= INT16_MAX)
        return 1;
    const size_t want = static_cast<size_t>(n) + 1;
    if (records.count == want)
        return 0;
    if (records.count > want) {
        while (records.count > want) {
            delete static_cast<BaseRecord*>(records.items[records.count - 1]);
            records.items[records.count - 1] = nullptr;
            --records.count;
        }
        return 0;
    }
    if (want > records.capacity && records.reserve(want + kRecordGrowStep - records.capacity, 1) != 0)
        return 1;
    for (size_t i = records.count; i < want; ++i) {
        BaseRecord* rec = newRecord(static_cast<int64_t>(i));
        if (rec == nullptr)
            return 1;
        records.items[i] = rec;
        records.count = i + 1;
    }
    return 0;
}

int16_t BaseDescriptor::setCount(int64_t n) noexcept
{
    if (n > 0)
        return setRecordCount(n - 1);
    for (size_t i = 0; i < records.count; ++i) {
        delete static_cast<BaseRecord*>(records.items[i]);
        records.items[i] = nullptr;
    }
    records.count = 0;
    return 0;
}

int64_t BaseDescriptor::count() const noexcept
{
    int64_t n = static_cast<int64_t>(records.count) - 1 - hiddenRecords;
    return n > 0 ? n : 0;
}

int16_t BaseDescriptor::copyFrom(const BaseDescriptor& source) noexcept
{
    arrayStatusPtr = source.arrayStatusPtr;
    if (setRecordCount(static_cast<int64_t>(source.records.count) - 1) != 0)
        return 1;
    hiddenRecords = source.hiddenRecords;
    for (size_t i = 0; i < source.records.count && i < records.count; ++i) {
        BaseRecord* to = record(static_cast<int64_t>(i));
        const BaseRecord* from = source.record(static_cast<int64_t>(i));
        if (to != nullptr && from != nullptr && to->copyFrom(*from) != 0)
            return 1;
    }
    return 0;
}

void BaseDescriptor::enter(uint16_t apiId) noexcept
{
    baseEnterHandleLock(connection);
    diagnostics.enterApi(apiId);
}

int16_t BaseDescriptor::leave(int16_t rc) noexcept
{
    rc = diagnostics.leaveApi(rc);
    baseLeaveHandleLock();
    return rc;
}

BaseAXD::BaseAXD(BaseConnection* conn) noexcept : BaseDescriptor(conn)
{
    arraySize = 1;
}

BaseAXD::~BaseAXD()
{
    freeValidated();
}

BaseRecord* BaseAXD::newRecord(int64_t) noexcept
{
    auto* rec = new BaseAXDRecord();
    if (rec != nullptr)
        rec->owner = this;
    return rec;
}

int16_t BaseAXD::copyFrom(const BaseDescriptor& source) noexcept
{
    int16_t rc = BaseDescriptor::copyFrom(source);
    const auto* axd = dynamic_cast<const BaseAXD*>(&source);
    if (axd != nullptr) {
        arraySize = axd->arraySize;
        bindOffsetPtr = axd->bindOffsetPtr;
        bindType = axd->bindType;
        freeValidated();
    }
    return rc;
}

int16_t BaseAXD::hasStatement(const BaseStatement* stmt) const noexcept
{
    if (validated == nullptr)
        return 0;
    for (BaseStatement* const* p = validated; *p != nullptr; ++p) {
        if (*p == stmt)
            return 1;
    }
    return 0;
}

int16_t BaseAXD::addStatement(BaseStatement* stmt) noexcept
{
    if (validated == nullptr) {
        validated = static_cast<BaseStatement**>(ramAlloc(kBaseValidatedStep * sizeof(BaseStatement*)));
        if (validated == nullptr)
            return 1;
        validatedCount = 0;
    } else if (validatedCount % kBaseValidatedStep == kBaseValidatedStep - 1) {
        void* block = validated;
        if (ramRealloc(&block, (validatedCount + kBaseValidatedStep + 1) * sizeof(BaseStatement*)) != 0)
            return 1;
        validated = static_cast<BaseStatement**>(block);
    }
    validated[validatedCount++] = stmt;
    validated[validatedCount] = nullptr;
    return 0;
}

void BaseAXD::freeValidated() noexcept
{
    ramFree(validated);
    validated = nullptr;
    validatedCount = 0;
}

BaseAXDWR::BaseAXDWR(BaseConnection* conn, uint8_t autoAlloc) noexcept : BaseAXD(conn)
{
    autoAllocated = autoAlloc;
    adoptEmbedded(&record0);
    if (autoAlloc != 0) {
        markAutomatic();
    } else if (conn != nullptr) {
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        conn->descriptors.addLast(this);
    }
}

BaseAXDWR::~BaseAXDWR()
{
    releaseEmbedded();
}

BaseIXD::BaseIXD(BaseConnection* conn, BaseStatement* stmt) noexcept : BaseDescriptor(conn)
{
    implementation = 1;
    statement = stmt;
    markAutomatic();
}

BaseIXD::~BaseIXD() = default;

int16_t BaseIXD::copyFrom(const BaseDescriptor& source) noexcept
{
    int16_t rc = BaseDescriptor::copyFrom(source);
    if (source.implementation != 0)
        rowsProcessedPtr = source.rowsProcessedPtr;
    return rc;
}

BaseIRD::BaseIRD(BaseStatement* stmt) noexcept : BaseIXD(stmt != nullptr ? stmt->connection : nullptr, stmt)
{
    isIRD = 1;
}

BaseIRD::~BaseIRD()
{
    ramFree(rowStatus);
}

BaseRecord* BaseIRD::newRecord(int64_t) noexcept
{
    auto* rec = new BaseIRDRecord();
    if (rec != nullptr)
        rec->owner = this;
    return rec;
}

int16_t BaseIRD::resizeRowStatus(int64_t n, int keep) noexcept
{
    if (n <= 0)
        n = 1;
    if (rowStatus != nullptr && rowStatusCapacity >= n) {
        for (int64_t i = keep != 0 ? rowStatusSize : 0; i < n; ++i)
            rowStatus[i] = SQL_ROW_NOROW;
        rowStatusSize = n;
        return 0;
    }
    auto* fresh = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(n) * sizeof(uint16_t)));
    if (fresh == nullptr) {
        ramFree(rowStatus);
        rowStatus = nullptr;
        rowStatusSize = 0;
        rowStatusCapacity = 0;
        return 1;
    }
    int64_t kept = 0;
    if (keep != 0 && rowStatus != nullptr) {
        kept = rowStatusSize < n ? rowStatusSize : n;
        std::memcpy(fresh, rowStatus, static_cast<size_t>(kept) * sizeof(uint16_t));
    }
    for (int64_t i = kept; i < n; ++i)
        fresh[i] = SQL_ROW_NOROW;
    ramFree(rowStatus);
    rowStatus = fresh;
    rowStatusSize = n;
    rowStatusCapacity = n;
    return 0;
}

BaseIRDWR::BaseIRDWR(BaseStatement* stmt) noexcept : BaseIRD(stmt)
{
    adoptEmbedded(&record0);
}

BaseIRDWR::~BaseIRDWR()
{
    releaseEmbedded();
}

BaseIPD::BaseIPD(BaseStatement* stmt) noexcept : BaseIXD(stmt != nullptr ? stmt->connection : nullptr, stmt) {}

BaseIPD::~BaseIPD() = default;

BaseRecord* BaseIPD::newRecord(int64_t n) noexcept
{
    auto* rec = new BaseIPDRecord();
    if (rec == nullptr)
        return nullptr;
    rec->owner = this;
    rec->apdIndex = static_cast<int16_t>(n);
    return rec;
}

BaseIPDWR::BaseIPDWR(BaseStatement* stmt) noexcept : BaseIPD(stmt)
{
    adoptEmbedded(&record0);
}

BaseIPDWR::~BaseIPDWR()
{
    releaseEmbedded();
}

BaseCofC::BaseCofC(BaseStatement* stmt) noexcept : BaseDescriptor(stmt != nullptr ? stmt->connection : nullptr)
{
    implementation = 1;
    statement = stmt;
}

BaseCofC::~BaseCofC() = default;

BaseRecord* BaseCofC::newRecord(int64_t) noexcept
{
    auto* rec = new BaseCofCRecord();
    if (rec != nullptr)
        rec->owner = this;
    return rec;
}

int16_t BaseCofC::copyFrom(const BaseDescriptor& source) noexcept
{
    if (setCount(static_cast<int64_t>(source.records.count)) != 0)
        return 1;
    for (size_t i = 0; i < source.records.count && i < records.count; ++i) {
        BaseRecord* to = record(static_cast<int64_t>(i));
        const BaseRecord* from = source.record(static_cast<int64_t>(i));
        if (to != nullptr && from != nullptr && to->copyFrom(*from) != 0)
            return 1;
    }
    return 0;
}
