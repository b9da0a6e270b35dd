// Descriptors and their records: the application and implementation row and
// parameter descriptors of a statement, with the fields that binding, fetch
// and the conversion engine read, and the bind-offset arithmetic of
// application records.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kalist.h"
#include "foundation/kaobject.h"
#include "odbc/baseerr.h"

class BaseConnection;
class BaseDescriptor;
class BaseStatement;

// Bits of BaseRecord::flags.
constexpr uint16_t kBaseRecUnsigned = 0x1;
constexpr uint16_t kBaseRecNoSignPosition = 0x2;
constexpr uint16_t kBaseRecCaseSensitive = 0x4;
constexpr uint16_t kBaseRecFixedPrecScale = 0x8;
constexpr uint16_t kBaseRecAutoUnique = 0x10;
constexpr uint16_t kBaseRecNamed = 0x20;
constexpr uint16_t kBaseRecKeptOnCopy = 0x40;
constexpr uint16_t kBaseRecRowVer = 0x80;

// Indicator and octet-length elements of column-wise arrays are SQLLEN wide.
constexpr int64_t kBaseLengthElementSize = 8;
// Defaults of new records.
constexpr int64_t kBaseDefaultIntervalPrecision = 2;
constexpr int64_t kBaseIrdDefaultLength = -11;

class BaseRecord : public KaObject {
public:
    BaseRecord() noexcept = default;
    ~BaseRecord() override;

    bool isUnsigned() const noexcept { return (flags & kBaseRecUnsigned) != 0; }
    // Concise type not 0.
    bool hasType() const noexcept { return conciseType != 0; }

    uint16_t flags = 0;
    void* dataPtr = nullptr;
    int16_t intervalCode = 0;
    int64_t intervalPrecision = 0;
    int64_t* indicatorPtr = nullptr;
    uint64_t length = 0;
    int64_t columnSize = 0;
    uint16_t* name = nullptr;
    int16_t nullable = 0;
    int64_t octetLength = 0;
    int64_t* octetLengthPtr = nullptr;
    int64_t dataAtExecLimit = 0;
    int16_t precision = 0;
    int16_t scale = 0;
    int16_t conciseType = 0;
    BaseDescriptor* owner = nullptr;
    uint8_t nameBorrowed = 0;
    int16_t appConciseType = 0;
};

// Application row or parameter record.
class BaseAXDRecord : public BaseRecord {
public:
    BaseAXDRecord() noexcept;
    ~BaseAXDRecord() override;

    // Adds, resp. removes, the bind offset and the element offset of `row`
    // to the data, indicator and octet-length pointers. rowSize is the
    // descriptor's SQL_DESC_BIND_TYPE (0 = column-wise).
    void applyBindOffset(int64_t rowSize, int64_t row) noexcept;
    void removeBindOffset(int64_t rowSize, int64_t row) noexcept;
    // The application set SQL_DESC_PRECISION or SQL_DESC_SCALE (or a numeric
    // scaling flag is raised): SQL_C_NUMERIC values take them.
    bool numericScaleRequested() const noexcept
    {
        return numericScaling1 != 0 || numericScaling2 != 0 || precisionSet != 0 ||
               scaleSet != 0;
    }

    int64_t savedBindOffset = 0;
    int64_t appliedDataOffset = 0;
    void* savedDataPtr = nullptr;
    int64_t* savedIndicatorPtr = nullptr;
    int64_t* savedOctetLengthPtr = nullptr;
    uint32_t numericScaling1 = 0;
    uint32_t numericScaling2 = 0;
    uint32_t precisionSet = 0;
    uint32_t scaleSet = 0;
};

// Implementation record: the code page in which the driver delivers or
// expects the value's text.
class BaseIXDRecord : public BaseRecord {
public:
    BaseIXDRecord() noexcept = default;
    ~BaseIXDRecord() override;

    // Sets both code-page fields.
    void setCodePage(int64_t cp) noexcept
    {
        codePage = cp;
        codePageAbs = cp < 0 ? -cp : cp;
    }

    int64_t codePage = 0;
    int64_t codePageAbs = 0;
    int64_t dataAtExecLength = 0;
    uint8_t* dataAtExecBuffer = nullptr;
    void* typeInfo = nullptr;
    uint8_t typeInfoOwned = 0;
};

// Result column record.
class BaseIRDRecord : public BaseIXDRecord {
public:
    BaseIRDRecord() noexcept;
    ~BaseIRDRecord() override;

    uint16_t* baseColumnName = nullptr;
    uint16_t* catalogName = nullptr;
    uint16_t* label = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* tableName = nullptr;
    int16_t searchable = 0;
    int16_t updatable = 0;
    void* longDataSink = nullptr;
    int16_t serverType = 0;
    uint8_t catalogBorrowed = 0;
    uint8_t schemaBorrowed = 0;
    uint8_t tableBorrowed = 0;
    uint8_t baseColumnBorrowed = 0;
    uint8_t labelBorrowed = 0;
    uint8_t flag1902 = 0;
};

// Parameter record; reads the application value through the APD record
// whose index it holds.
class BaseIPDRecord : public BaseIXDRecord {
public:
    BaseIPDRecord() noexcept;
    ~BaseIPDRecord() override;

    // The matching APD record of the owning statement, or null.
    BaseAXDRecord* apdRecord() const noexcept;
    // The APD record's concise type; SQL_C_DEFAULT resolved from this
    // record's SQL type.
    int16_t cType() const noexcept;
    void* dataPointer() const noexcept;
    int64_t* indicatorPointer() const noexcept;
    int64_t* octetLengthPointer() const noexcept;
    int64_t octetLengthValue() const noexcept;

    int16_t paramType = 1;
    int16_t savedParamType = 0;
    int16_t savedConciseType = 0;
    int16_t savedPrecision = 0;
    int16_t savedScale = 0;
    int16_t apdIndex = 0;
    int16_t appParamType = 1;
    int16_t appPrecision = 0;
    int16_t appScale = 0;
    uint8_t checked = 0;
    uint8_t downgraded = 0;
    uint8_t literal = 0;
};

// A descriptor: header fields and the record array (index = record number;
// record 0 is the bookmark record).
class BaseDescriptor : public KaNode {
public:
    // Kinds the descriptor is built as; they decide the records it makes.
    enum Kind : uint8_t { kApplication = 0, kIrd = 1, kIpd = 2 };

    BaseDescriptor(BaseConnection* connection, Kind kind) noexcept;
    ~BaseDescriptor() override;

    // ---- The descriptor ODBC functions ----------------------------------
    // Each returns the ODBC return code, or -5 to be called once more.
    // SQLCopyDesc is called on the target.
    [[nodiscard]] virtual int16_t copyDesc(BaseDescriptor* source) noexcept;
    // 0: the descriptor may now be deleted.
    [[nodiscard]] virtual int16_t freeCheck() noexcept;
    [[nodiscard]] virtual int16_t getDescField(int16_t recNumber, int16_t field, void* value,
                                               int32_t bufferLength,
                                               int32_t* stringLength) noexcept;
    [[nodiscard]] virtual int16_t getDescRec(int16_t recNumber, uint16_t* name,
                                             int16_t bufferLength, int16_t* nameLength,
                                             int16_t* type, int16_t* subType, int64_t* length,
                                             int16_t* precision, int16_t* scale,
                                             int16_t* nullable) noexcept;
    [[nodiscard]] virtual int16_t setDescField(int16_t recNumber, int16_t field, void* value,
                                               int32_t bufferLength) noexcept;
    [[nodiscard]] virtual int16_t setDescRec(int16_t recNumber, int16_t type, int16_t subType,
                                             int64_t length, int16_t precision, int16_t scale,
                                             void* data, int64_t* stringLength,
                                             int64_t* indicator) noexcept;

    // Makes records 0 to n exist: surplus records are deleted, missing ones
    // made with their kind's defaults. 0, or 1 when memory ran out (the
    // records made so far stay).
    [[nodiscard]] int16_t setRecordCount(int64_t n) noexcept;
    // Records 1 and up (SQL_DESC_COUNT) less the hidden ones.
    int64_t count() const noexcept;
    BaseRecord* record(int64_t n) const noexcept
    {
        return n >= 0 && static_cast<size_t>(n) < records.count
                   ? static_cast<BaseRecord*>(records.items[n])
                   : nullptr;
    }

    BaseConnection* connection;
    BaseErrorList diagnostics{connection};
    uint16_t* arrayStatusPtr = nullptr;
    KaArray records;
    uint8_t autoAllocated = 1;
    uint8_t implementation = 0;
    uint8_t isIRD = 0;
    uint8_t isAPD = 0;
    uint16_t hiddenRecords = 0;
    uint64_t* rowsProcessedPtr = nullptr;
    // Implementation descriptors point at their statement; application
    // descriptors keep SQL_DESC_ARRAY_SIZE in the same place.
    union {
        BaseStatement* statement;
        int64_t arraySize;
    };

private:
    BaseRecord* newRecord(int64_t n) noexcept;
    Kind kind;
};

// Application descriptor (APD or ARD).
class BaseAXD : public BaseDescriptor {
public:
    explicit BaseAXD(BaseConnection* connection) noexcept;
    ~BaseAXD() override;

    BaseAXDRecord* axdRecord(int64_t n) const noexcept
    {
        return static_cast<BaseAXDRecord*>(record(n));
    }

    int64_t* bindOffsetPtr = nullptr;
    int64_t bindType = 0;  // SQL_BIND_BY_COLUMN, else the row size
};

// An application descriptor that the application allocated on a connection
// (SQL_DESC_ALLOC_USER): it belongs to the connection and sits in its
// descriptor list until it is freed.
class BaseAXDWR : public BaseAXD {
public:
    explicit BaseAXDWR(BaseConnection* connection) noexcept;
    ~BaseAXDWR() override;
};

class BaseIRD : public BaseDescriptor {
public:
    explicit BaseIRD(BaseStatement* stmt) noexcept;
    ~BaseIRD() override;

    BaseIRDRecord* irdRecord(int64_t n) const noexcept
    {
        return static_cast<BaseIRDRecord*>(record(n));
    }
};

class BaseIPD : public BaseDescriptor {
public:
    explicit BaseIPD(BaseStatement* stmt) noexcept;
    ~BaseIPD() override;

    BaseIPDRecord* ipdRecord(int64_t n) const noexcept
    {
        return static_cast<BaseIPDRecord*>(record(n));
    }
};
