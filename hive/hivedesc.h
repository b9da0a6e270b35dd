// The Hive statement's implementation descriptors and their records: result
// column records that carry the column's data readers and value storage,
// and the parameter and copy-of-C-data records with the driver's part. Also
// the mapping of the driver's type codes to SQL types and type rows, which
// binding a result column reads. Used by the Hive statement and its readers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "hive/hivereader.h"
#include "odbc/basedesc.h"

class DataReader;
class HiveConnection;

// Characters of the longest timestamp with local time zone: 29 of the
// timestamp, a blank, 32 of the zone ("America/Argentina/ComodRivadavia").
constexpr int32_t kHiveTimestampLocalTzText = 62;

// Bytes of a parameter record's driver part.
constexpr size_t kHiveIpdDriverPartBytes = 24;

class HiveIRDRecord : public BaseIRDRecord {
public:
    HiveIRDRecord() noexcept = default;
    ~HiveIRDRecord() override;

    // Deletes both readers and releases the column's storage; the record
    // then has no reader.
    void releaseReaders() noexcept;

    // The column's value storage (inline area, value buffer, value sink),
    // its index and type code, shared by its readers.
    HiveColumnStorage storage;
    // The column's values may be long (binary, user-defined).
    bool longDataColumn = false;
    DataReader* currentReader = nullptr;
    DataReader* wireReader = nullptr;
    DataReader* cacheReader = nullptr;
};

class HiveIPDRecord : public BaseIPDRecord {
public:
    HiveIPDRecord() noexcept = default;
    ~HiveIPDRecord() override;
    void* driverExtension() const noexcept override;

    uint8_t driverPart[kHiveIpdDriverPartBytes] = {};
};

// The driver part of a copy-of-C-data record.
struct HiveCofCDriverPart {
    uint8_t* buffer = nullptr;
    bool owned = false;
    int16_t value = 0;
};

class HiveCofCRecord : public BaseCofCRecord {
public:
    HiveCofCRecord() noexcept = default;
    ~HiveCofCRecord() override;
    // The base copy, then the owned flag and the 16-bit value (the buffer
    // stays the record's own).
    [[nodiscard]] int16_t copyFrom(const BaseRecord& other) noexcept override;
    void* driverExtension() const noexcept override;

    HiveCofCDriverPart driverPart;
};

class HiveIRD : public BaseIRD {
public:
    explicit HiveIRD(BaseStatement* stmt) noexcept;
    ~HiveIRD() override;
    BaseRecord* newRecord(int64_t n) noexcept override;

    HiveIRDRecord* hiveRecord(int64_t n) const noexcept { return static_cast<HiveIRDRecord*>(record(n)); }

    HiveIRDRecord record0;
};

class HiveIPD : public BaseIPD {
public:
    explicit HiveIPD(BaseStatement* stmt) noexcept;
    ~HiveIPD() override;
    BaseRecord* newRecord(int64_t n) noexcept override;

    HiveIPDRecord record0;
};

class HiveCofC : public BaseCofC {
public:
    explicit HiveCofC(BaseStatement* stmt) noexcept;
    ~HiveCofC() override;
    BaseRecord* newRecord(int64_t n) noexcept override;
};

// The SQL type a result column of driver type code `code` is described
// with; stringDescribeType is the connection's StringDescribeType.
int16_t hiveSqlTypeOf(uint16_t code, int16_t stringDescribeType) noexcept;
// The type row of a driver type code, or null when the code has none. The
// rows are the driver's fixed rows; maxStringSize sizes the string row.
const BaseTypeInfoBlock* hiveFindTypeRow(uint16_t code) noexcept;
// The type row of a server type that is read as text but described as
// itself (the timestamp with local time zone), by the server's type id;
// null for the other ids.
const BaseTypeInfoBlock* hiveTextTypeRow(int32_t typeId) noexcept;
// The same row by the type's name, in any case; null for other names.
const BaseTypeInfoBlock* hiveTextTypeRowNamed(const char* name, size_t length) noexcept;
