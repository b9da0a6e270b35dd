// Descriptors and their records: construction with the defaults of each
// kind, the record array, bind offsets and the parameter record's view of
// its application value.
#include "odbc/basedesc.h"

#include "convert/basecvt.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basestmt.h"

namespace {

// Growth step of a descriptor's record array.
constexpr size_t kRecordGrowStep = 64;

template <typename T>
T* movePointer(T* p, int64_t bytes) noexcept
{
    if (p == nullptr)
        return nullptr;
    return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(bytes));
}

}  // namespace

// ---- Records ------------------------------------------------------------------------

BaseRecord::~BaseRecord()
{
    if (nameBorrowed == 0)
        ramFree(name);
}

BaseAXDRecord::BaseAXDRecord() noexcept
{
    conciseType = SQL_C_DEFAULT;
    appConciseType = SQL_C_DEFAULT;
    intervalPrecision = kBaseDefaultIntervalPrecision;
}

BaseAXDRecord::~BaseAXDRecord() = default;

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
    int64_t lengthDelta = rowSize != 0 ? row * rowSize + savedBindOffset
                                       : row * kBaseLengthElementSize + savedBindOffset;
    indicatorPtr = movePointer(indicatorPtr, -lengthDelta);
    octetLengthPtr = movePointer(octetLengthPtr, -lengthDelta);
    appliedDataOffset = 0;
    savedBindOffset = 0;
}

BaseIXDRecord::~BaseIXDRecord()
{
    ramFree(dataAtExecBuffer);
    if (typeInfoOwned != 0)
        ramFree(typeInfo);
}

BaseIRDRecord::BaseIRDRecord() noexcept
{
    length = static_cast<uint64_t>(kBaseIrdDefaultLength);
}

BaseIRDRecord::~BaseIRDRecord()
{
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
}

BaseIPDRecord::BaseIPDRecord() noexcept = default;

BaseIPDRecord::~BaseIPDRecord() = default;

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

// ---- Descriptors --------------------------------------------------------------------

BaseDescriptor::BaseDescriptor(BaseConnection* conn, Kind k) noexcept
    : connection(conn), records(kRecordGrowStep, KaArray::ownsElements), statement(nullptr),
      kind(k)
{
}

BaseDescriptor::~BaseDescriptor()
{
    records.deleteAll();
}

BaseRecord* BaseDescriptor::newRecord(int64_t n) noexcept
{
    BaseRecord* rec = nullptr;
    switch (kind) {
    case kIrd:
        rec = new BaseIRDRecord();
        break;
    case kIpd: {
        BaseIPDRecord* ipdRec = new BaseIPDRecord();
        if (ipdRec != nullptr)
            ipdRec->apdIndex = static_cast<int16_t>(n);
        rec = ipdRec;
        break;
    }
    case kApplication:
        rec = new BaseAXDRecord();
        break;
    }
    if (rec != nullptr)
        rec->owner = this;
    return rec;
}

int16_t BaseDescriptor::setRecordCount(int64_t n) noexcept
{
    if (n < 0 || n >= INT16_MAX)
        return 1;
    size_t want = static_cast<size_t>(n) + 1;
    while (records.count > want)
        records.deleteAt(records.count - 1);
    while (records.count < want) {
        BaseRecord* rec = newRecord(static_cast<int64_t>(records.count));
        if (rec == nullptr)
            return 1;
        if (records.append(rec) != 0) {
            delete rec;
            return 1;
        }
    }
    return 0;
}

int64_t BaseDescriptor::count() const noexcept
{
    int64_t n = static_cast<int64_t>(records.count) - 1 - hiddenRecords;
    return n > 0 ? n : 0;
}

BaseAXD::BaseAXD(BaseConnection* conn) noexcept : BaseDescriptor(conn, kApplication)
{
    arraySize = 1;
}

BaseAXD::~BaseAXD() = default;

BaseIRD::BaseIRD(BaseStatement* stmt) noexcept
    : BaseDescriptor(stmt != nullptr ? stmt->connection : nullptr, kIrd)
{
    implementation = 1;
    isIRD = 1;
    statement = stmt;
}

BaseIRD::~BaseIRD() = default;

BaseIPD::BaseIPD(BaseStatement* stmt) noexcept
    : BaseDescriptor(stmt != nullptr ? stmt->connection : nullptr, kIpd)
{
    implementation = 1;
    statement = stmt;
}

BaseIPD::~BaseIPD() = default;
