// Descriptors and their records: the application and implementation row and
// parameter descriptors of a statement and the copy-of-C-data descriptor of
// the execute path, with the fields that binding, fetch and the conversion
// engine read, the record copies behind SQLCopyDesc, the bind-offset
// arithmetic of application records and the entry and exit of descriptor
// calls.
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
// Resource ids from this one up are registered per connection.
constexpr uint16_t kBaseFirstConnectionResource = 65000;
// Entries of the validated-statements list are allocated eight at a time.
constexpr uint16_t kBaseValidatedStep = 8;

// One row of a connection's type table that IRD records point at.
struct BaseTypeInfoBlock {
    uint16_t* typeName;
    uint16_t localTypeNameId;
    int16_t sqlType;
    int32_t columnSize;
    uint16_t* literalPrefix;
    uint16_t* literalSuffix;
    uint16_t createParamsId;
    int16_t nullable;
    int16_t searchable;
    uint16_t flags;
    int16_t minimumScale;
    int16_t maximumScale;
    int64_t reserved;
};

// A deep copy of block for a record of target (texts duplicated); null after
// the out-of-memory diagnostic. Ids registered on source are looked up there
// as text; see the definition for what becomes of them on target.
BaseTypeInfoBlock* baseCopyTypeInfoBlock(const BaseTypeInfoBlock* block, BaseConnection* target,
                                         BaseConnection* source) noexcept;
void baseFreeTypeInfoBlock(BaseTypeInfoBlock* block) noexcept;

// Characters of the longest text of a DECIMAL(precision, scale): the
// digits, the sign when signPosition, the point, and a zero before the
// point when no integer digit is left.
int64_t baseDecimalDisplaySize(int64_t precision, int64_t scale, bool signPosition) noexcept;

class BaseRecord : public KaObject {
public:
    BaseRecord() noexcept = default;
    ~BaseRecord() override;

    // Copies the fields of other that a record of this kind takes; 0, or 1
    // when memory ran out (the record is then partly copied).
    [[nodiscard]] virtual int16_t copyFrom(const BaseRecord& other) noexcept;
    virtual void setConciseType(int16_t type) noexcept;

    bool isUnsigned() const noexcept { return (flags & kBaseRecUnsigned) != 0; }
    // Concise type not 0.
    bool hasType() const noexcept { return conciseType != 0; }
    // SQL_DESC_DISPLAY_SIZE of the record's type.
    int64_t displaySize() const noexcept;
    // SQL_DESC_NUM_PREC_RADIX: 10, 2 or 0.
    int64_t numPrecRadix() const noexcept;
    // Frees the name unless borrowed.
    void dropName() noexcept;

    // Which descriptor kind holds the record.
    bool inApplication() const noexcept;
    bool inIrd() const noexcept;

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
    // The record belongs to another descriptor that lends it to this one.
    uint8_t recordBorrowed = 0;
    int16_t appConciseType = 0;
};

// Application row or parameter record.
class BaseAXDRecord : public BaseRecord {
public:
    BaseAXDRecord() noexcept;
    ~BaseAXDRecord() override;

    [[nodiscard]] int16_t copyFrom(const BaseRecord& other) noexcept override;

    // Adds, resp. removes, the bind offset and the element offset of `row`
    // to the data, indicator and octet-length pointers. rowSize is the
    // descriptor's SQL_DESC_BIND_TYPE (0 = column-wise).
    void applyBindOffset(int64_t rowSize, int64_t row) noexcept;
    void removeBindOffset(int64_t rowSize, int64_t row) noexcept;
    // Saves the three pointers and moves them by bytes (null ones stay null).
    void saveAndOffset(int64_t bytes) noexcept;
    // Saves the three pointers and steps them one row on.
    void saveAndStep(int64_t rowSize) noexcept;
    // One row on: the row size, or column-wise the octet length for the
    // data and one element for the others.
    void step(int64_t rowSize) noexcept;
    void restorePointers() noexcept;
    // The application set SQL_DESC_PRECISION or SQL_DESC_SCALE (or a numeric
    // scaling flag is raised): SQL_C_NUMERIC values take them.
    bool numericScaleRequested() const noexcept
    {
        return numericScaling1 != 0 || numericScaling2 != 0 || precisionSet != 0 || scaleSet != 0;
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
// expects the value's text, the data collected at execution and the type
// row that describes it.
class BaseIXDRecord : public BaseRecord {
public:
    BaseIXDRecord() noexcept = default;
    ~BaseIXDRecord() override;

    [[nodiscard]] int16_t copyFrom(const BaseRecord& other) noexcept override;

    // Sets both code-page fields.
    void setCodePage(int64_t cp) noexcept
    {
        codePage = cp;
        codePageAbs = cp < 0 ? -cp : cp;
    }
    // Frees an owned block; the pointer and the owned flag are cleared.
    void freeTypeInfo() noexcept;
    // One item of the block, on a private copy of a shared block; 0 or 1.
    [[nodiscard]] int16_t setTypeName(const uint16_t* text) noexcept;
    [[nodiscard]] int16_t setLiteralPrefix(const uint16_t* text) noexcept;
    [[nodiscard]] int16_t setLiteralSuffix(const uint16_t* text) noexcept;
    [[nodiscard]] int16_t setLocalTypeNameId(uint16_t id) noexcept;

    int64_t codePage = 0;
    int64_t codePageAbs = 0;
    int64_t dataAtExecLength = 0;
    uint8_t* dataAtExecBuffer = nullptr;
    BaseTypeInfoBlock* typeInfo = nullptr;
    uint8_t typeInfoOwned = 0;

private:
    // The block made private to this record; null after the diagnostic.
    BaseTypeInfoBlock* ownTypeInfo() noexcept;
};

// Result column record. Its data, indicator and octet-length pointers point
// at buffers the record owns.
class BaseIRDRecord : public BaseIXDRecord {
public:
    BaseIRDRecord() noexcept;
    ~BaseIRDRecord() override;

    [[nodiscard]] int16_t copyFrom(const BaseRecord& other) noexcept override;
    // Also keeps the type as the server type.
    void setConciseType(int16_t type) noexcept override;

    uint16_t* baseColumnName = nullptr;
    uint16_t* catalogName = nullptr;
    uint16_t* label = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* tableName = nullptr;
    int16_t searchable = 0;
    int16_t updatable = 0;
    KaObject* longDataSink = nullptr;
    int16_t serverType = 0;
    uint8_t catalogBorrowed = 0;
    uint8_t schemaBorrowed = 0;
    uint8_t tableBorrowed = 0;
    uint8_t baseColumnBorrowed = 0;
    uint8_t labelBorrowed = 0;
    uint8_t driverFlag = 0;
};

// Parameter record; reads the application value through the APD record
// whose index it holds.
class BaseIPDRecord : public BaseIXDRecord {
public:
    BaseIPDRecord() noexcept;
    ~BaseIPDRecord() override;

    [[nodiscard]] int16_t copyFrom(const BaseRecord& other) noexcept override;

    // Where the parameter's application value is: the APD record's fields,
    // SQL_C_DEFAULT resolved from this record's SQL type.
    virtual int16_t cType() const noexcept;
    virtual void* dataPointer() const noexcept;
    virtual int64_t* indicatorPointer() const noexcept;
    virtual int64_t* octetLengthPointer() const noexcept;
    virtual int64_t octetLengthValue() const noexcept;
    // The driver's part of the record; null here.
    virtual void* driverExtension() const noexcept;

    // The matching APD record of the owning statement, or null.
    BaseAXDRecord* apdRecord() const noexcept;
    // A buffer of the driver's own that the data pointer refers to, freed
    // with the record; the application's buffers are never freed here.
    void setOwnedData(void* block) noexcept;

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

private:
    // Set only through setOwnedData: the data pointer of a parameter record
    // normally belongs to the application.
    uint8_t dataOwned = 0;
};

// A parameter record with its own copy of the value.
class BaseCofCRecord : public BaseIPDRecord {
public:
    BaseCofCRecord() noexcept;
    ~BaseCofCRecord() override;

    // Fails with the diagnostic when the source value is longer than its
    // buffer.
    [[nodiscard]] int16_t copyFrom(const BaseRecord& other) noexcept override;
    int16_t cType() const noexcept override;
    void* dataPointer() const noexcept override;
    int64_t* indicatorPointer() const noexcept override;
    int64_t* octetLengthPointer() const noexcept override;
    int64_t octetLengthValue() const noexcept override;

    uint8_t* valueBuffer = nullptr;
    int64_t bufferSize = 0;
    int16_t valueCType = 0;
    uint16_t columnNumber = 0;
    int64_t textPosition = 0;
    int64_t valueLength = 0;  // SQL_NULL_DATA for NULL
    uint8_t valueFlag1 = 0;
    uint8_t valueFlag2 = 0;
};

// A descriptor: header fields and the record array (index = record number;
// record 0 is the bookmark record).
class BaseDescriptor : public KaNode {
public:
    explicit BaseDescriptor(BaseConnection* connection) noexcept;
    ~BaseDescriptor() override;

    // ---- The descriptor ODBC functions ----------------------------------
    // Each returns the ODBC return code, or -5 to be called once more.
    // SQLCopyDesc is called on the target.
    [[nodiscard]] virtual int16_t copyDesc(BaseDescriptor* source) noexcept;
    // 0: the descriptor may now be deleted.
    [[nodiscard]] virtual int16_t freeCheck() noexcept;
    [[nodiscard]] virtual int16_t getDescField(int16_t recNumber, int16_t field, void* value, int32_t bufferLength,
                                               int32_t* stringLength) noexcept;
    [[nodiscard]] virtual int16_t getDescRec(int16_t recNumber, uint16_t* name, int16_t bufferLength,
                                             int16_t* nameLength, int16_t* type, int16_t* subType, int64_t* length,
                                             int16_t* precision, int16_t* scale, int16_t* nullable) noexcept;
    [[nodiscard]] virtual int16_t setDescField(int16_t recNumber, int16_t field, void* value,
                                               int32_t bufferLength) noexcept;
    [[nodiscard]] virtual int16_t setDescRec(int16_t recNumber, int16_t type, int16_t subType, int64_t length,
                                             int16_t precision, int16_t scale, void* data, int64_t* stringLength,
                                             int64_t* indicator) noexcept;
    // Record n of this kind with its defaults, owned by this descriptor; null
    // after the out-of-memory diagnostic.
    virtual BaseRecord* newRecord(int64_t n) noexcept;
    // Copies source into this descriptor; 0, or 1 at the first record that
    // failed.
    [[nodiscard]] virtual int16_t copyFrom(const BaseDescriptor& source) noexcept;

    // Makes records 0 to n exist: surplus records are deleted, missing ones
    // made with their kind's defaults. 0, or 1 when memory ran out (the
    // records made so far stay).
    [[nodiscard]] int16_t setRecordCount(int64_t n) noexcept;
    // n records (n - 1 the highest); 0 deletes every record, record 0 too.
    [[nodiscard]] int16_t setCount(int64_t n) noexcept;
    // Records 1 and up (SQL_DESC_COUNT) less the hidden ones.
    int64_t count() const noexcept;
    BaseRecord* record(int64_t n) const noexcept
    {
        return n >= 0 && static_cast<size_t>(n) < records.count ? static_cast<BaseRecord*>(records.items[n]) : nullptr;
    }

    // Entry and exit of every descriptor function: the lock of the
    // connection's thread model, the diagnostics made the thread's current
    // list; leave turns a success with warnings into SQL_SUCCESS_WITH_INFO,
    // sorts the list and releases what enter took.
    void enter(uint16_t apiId) noexcept;
    [[nodiscard]] int16_t leave(int16_t rc) noexcept;

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

    // 1 when value is the address of a live automatically allocated
    // descriptor (a statement's implicit APD or ARD, an IRD or IPD), of any
    // statement. Only the addresses are compared: neither the value nor any
    // statement is read. The caller holds baseHandleListLock().
    static bool isAutomaticHandle(const void* value) noexcept;

protected:
    // Enters an embedded record 0 (WR forms); it is never deleted through
    // the array.
    void adoptEmbedded(BaseRecord* record0) noexcept;
    // Takes an embedded record 0 out of the array before it is destroyed.
    void releaseEmbedded() noexcept;
    // Enters this descriptor, made automatically, in the chain that
    // isAutomaticHandle walks; the destructor takes it out again.
    void markAutomatic() noexcept;

private:
    // The chain of automatically allocated descriptors, kept apart from the
    // statements that own them: their fields are written while the
    // statements are made and while catalog calls swap their IRDs, on
    // threads other than the one that asks. Guarded by baseHandleListLock().
    static BaseDescriptor* automaticChain;
    BaseDescriptor* automaticPrev = nullptr;
    BaseDescriptor* automaticNext = nullptr;
    bool inAutomaticChain = false;
};

// Application descriptor (APD or ARD).
class BaseAXD : public BaseDescriptor {
public:
    explicit BaseAXD(BaseConnection* connection) noexcept;
    ~BaseAXD() override;

    BaseRecord* newRecord(int64_t n) noexcept override;
    [[nodiscard]] int16_t copyFrom(const BaseDescriptor& source) noexcept override;

    BaseAXDRecord* axdRecord(int64_t n) const noexcept { return static_cast<BaseAXDRecord*>(record(n)); }
    // 1 when the statement checked its bindings against this descriptor
    // since the last change.
    int16_t hasStatement(const BaseStatement* stmt) const noexcept;
    // 0, or 1 when memory ran out.
    [[nodiscard]] int16_t addStatement(BaseStatement* stmt) noexcept;
    // Every statement checks its bindings again.
    void freeValidated() noexcept;

    int64_t* bindOffsetPtr = nullptr;
    int64_t bindType = 0;                 // SQL_BIND_BY_COLUMN, else the row size
    BaseStatement** validated = nullptr;  // null-terminated
    uint16_t validatedCount = 0;
};

// The application descriptor that is instantiated: record 0 inside the
// object. A statement's implicit APD and ARD are made with autoAllocated 1;
// one that SQLAllocHandle makes (0) belongs to the connection and sits in
// its descriptor list until it is freed.
class BaseAXDWR : public BaseAXD {
public:
    BaseAXDWR(BaseConnection* connection, uint8_t autoAllocated) noexcept;
    ~BaseAXDWR() override;

    BaseAXDRecord record0;
};

// Implementation descriptor.
class BaseIXD : public BaseDescriptor {
public:
    BaseIXD(BaseConnection* connection, BaseStatement* stmt) noexcept;
    ~BaseIXD() override;

    [[nodiscard]] int16_t copyFrom(const BaseDescriptor& source) noexcept override;
};

class BaseIRD : public BaseIXD {
public:
    explicit BaseIRD(BaseStatement* stmt) noexcept;
    ~BaseIRD() override;

    BaseRecord* newRecord(int64_t n) noexcept override;

    BaseIRDRecord* irdRecord(int64_t n) const noexcept { return static_cast<BaseIRDRecord*>(record(n)); }
    // The internal row-status array holds n entries (a size of 0 counts as
    // 1, so that the row walk always has the entry it writes); with keep the
    // entries held stay, every other entry is SQL_ROW_NOROW. 0, or 1 when
    // memory ran out (no array then).
    [[nodiscard]] int16_t resizeRowStatus(int64_t n, int keep) noexcept;

    uint16_t* rowStatus = nullptr;
    int64_t rowStatusSize = 0;
    int64_t rowStatusCapacity = 0;
};

class BaseIRDWR : public BaseIRD {
public:
    explicit BaseIRDWR(BaseStatement* stmt) noexcept;
    ~BaseIRDWR() override;

    BaseIRDRecord record0;
};

class BaseIPD : public BaseIXD {
public:
    explicit BaseIPD(BaseStatement* stmt) noexcept;
    ~BaseIPD() override;

    BaseRecord* newRecord(int64_t n) noexcept override;

    BaseIPDRecord* ipdRecord(int64_t n) const noexcept { return static_cast<BaseIPDRecord*>(record(n)); }
};

class BaseIPDWR : public BaseIPD {
public:
    explicit BaseIPDWR(BaseStatement* stmt) noexcept;
    ~BaseIPDWR() override;

    BaseIPDRecord record0;
};

// Copy-of-C-data descriptor: private copies of parameter values; record 0
// is an ordinary heap record.
class BaseCofC : public BaseDescriptor {
public:
    explicit BaseCofC(BaseStatement* stmt) noexcept;
    ~BaseCofC() override;

    BaseRecord* newRecord(int64_t n) noexcept override;
    [[nodiscard]] int16_t copyFrom(const BaseDescriptor& source) noexcept override;

    BaseCofCRecord* cofcRecord(int64_t n) const noexcept { return static_cast<BaseCofCRecord*>(record(n)); }
};
